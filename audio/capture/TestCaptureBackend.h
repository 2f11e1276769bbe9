// A scripted capture backend for tests: it can refuse any operation, deliver a given byte
// sequence or a generated one, complete short buffers, or go quiet, and it honours the same
// queue and notification contract as the real backends.
//
// API (configure on the test's thread before Open unless noted):
//   CTestCaptureBackend backend(Delivery::Automatic);  // or Delivery::Manual
//   SetDevices({caps...})        the device list (default: one stereo device "Test Capture")
//   FailAt(TestOp::Start, n)     the n-th call of that operation from now on, and every later
//                                one, fails; ClearFailures() undoes all; CallCount(op) counts
//   SetSource(bytes)             deliver these bytes, then end the input (a short last buffer)
//   SetGeneratedSource(total, fn)  deliver `total` bytes made by fn(offset, dest, n)
//                                (UINT64_MAX: endless); the default source is endless silence
//   FrameCounter(format)         a generator whose every frame encodes its own frame number
//                                (FrameNumberAt decodes it), to see lost, repeated or
//                                reordered audio exactly
//   StallAfter(bytes)            any time: after that many bytes the device delivers nothing
//                                more and completes nothing, until Resume()
//   FailAfter(bytes)             after that many bytes the device fails as a card that is
//                                pulled out: a short last buffer, and kTestFailure as the cause
//   ShareDevice(holder)          backends given the same holder are one device that only one
//                                of them can have open: a second Open is refused (kTestBusy)
// Delivery::Automatic fills the queued buffers on the backend's thread as fast as the reader
// takes them and never loses data. Delivery::Manual delivers only when the test calls
// Produce(bytes) (that thread then acts as the device); bytes produced while no buffer is queued
// are lost and counted in GetLostFrames, exactly. CompleteCurrent() completes the buffer being
// filled with what it holds, a short buffer, at any time. GetOpenedFormat()/GetOpenedDevice()
// tell what the last successful Open asked for.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "audio/capture/QueuedCaptureBackend.h"

enum class TestOp {
    GetDeviceCaps,
    QueryFormat,
    Open,
    Prepare,
    Unprepare,
    AddBuffer,
    Start,
    Stop,
    Reset,
    Close,
    kCount
};

class CTestCaptureBackend : public CQueuedCaptureBackend {
public:
    enum class Delivery { Automatic, Manual };
    // Fills dest with n bytes of the stream starting at byte offset. Device thread.
    using Generator = std::function<void(uint64_t offset, uint8_t* dest, uint32_t n)>;

    explicit CTestCaptureBackend(Delivery delivery = Delivery::Automatic);
    ~CTestCaptureBackend() override;

    void SetDevices(std::vector<WaveInCaps> devices);
    void FailAt(TestOp op, int fromCall = 1);  // any thread
    void ClearFailures();                      // any thread
    int CallCount(TestOp op) const;            // any thread

    // Who holds the shared device: 0 none, else the holder's backend. Any thread.
    using DeviceHolder = std::atomic<const void*>;
    void ShareDevice(std::shared_ptr<DeviceHolder> holder) { m_pHolder = std::move(holder); }
    static constexpr const char* kTestBusy = "the device \"Test Capture\" is busy (test)";
    static constexpr const char* kTestRefused =
        "the device \"Test Capture\" refused to open (test)";
    bool GetOpenFailure(char* text, size_t size) const override;

    void SetSource(std::vector<uint8_t> bytes);
    void SetGeneratedSource(uint64_t totalBytes, Generator generator);
    void StallAfter(uint64_t bytes);  // any thread
    void Resume();                    // any thread
    void FailAfter(uint64_t bytes);   // before Start
    // Automatic delivery: the read that reaches `bytes` does not come back until ReleaseHang
    // (a card that stops answering). Before Start / any thread.
    void HangAfter(uint64_t bytes);
    void ReleaseHang();
    // Is a read hanging now? Waits up to timeoutMs for the device to have closed its source
    // after a hang. Any thread.
    bool IsHanging() const;
    bool WaitSourceClosed(int timeoutMs);
    // The host reports an overrun it cannot count in frames. Any thread.
    void ReportOverflow() { CountOverflow(); }
    static constexpr const char* kTestFailure = "Device unavailable (test)";

    // Manual delivery, any thread (it acts as the device): delivers the next `bytes` of the
    // source. Returns the bytes taken (all of them while started, unless the source ends).
    uint64_t Produce(uint64_t bytes);
    // Completes the buffer being filled with what it holds (a short buffer). Any thread.
    using CQueuedCaptureBackend::CompleteCurrent;

    // Bytes taken from the source since Open (delivered or lost). Any thread.
    uint64_t GetBytesDelivered() const { return m_nPosition.load(); }
    WAVEFORMATEX GetOpenedFormat() const { return m_openedFormat; }
    uint32_t GetOpenedDevice() const { return m_nOpenedDevice; }

    static Generator FrameCounter(const WAVEFORMATEX& format);
    // The frame number encoded at frame `frame` of a block made by FrameCounter.
    static uint32_t FrameNumberAt(const WAVEFORMATEX& format, const uint8_t* data, size_t frame);

    int GetDeviceCount() override;
    bool GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) override;
    bool QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) override;
    bool Open(uint32_t deviceId, const WAVEFORMATEX& format, WaveInNotifyFn notify,
              void* instance) override;
    bool PrepareHeader(WAVEHDR* header) override;
    bool UnprepareHeader(WAVEHDR* header) override;
    bool AddBuffer(WAVEHDR* header) override;
    bool Start() override;
    bool Stop() override;
    bool Reset() override;
    bool Close() override;

protected:
    bool OpenSource(uint32_t deviceId, const WAVEFORMATEX& format, SourceTraits* traits) override;
    void CloseSource() override;
    bool StartSource() override { return true; }
    bool StopSource() override { return true; }
    ReadResult ReadSource(void* dest, uint32_t bytes) override;

private:
    bool Allowed(TestOp op);
    ReadResult Take(void* dest, uint32_t bytes);

    Delivery m_delivery;
    std::vector<WaveInCaps> m_devices;
    // Atomic: a recording thread calls the operations while a test reads the counts.
    std::atomic<int> m_nCalls[static_cast<int>(TestOp::kCount)] = {};
    std::atomic<int> m_nFailFrom[static_cast<int>(TestOp::kCount)] = {};  // 0: never fails

    std::vector<uint8_t> m_source;
    Generator m_generator;
    uint64_t m_nTotalBytes = UINT64_MAX;
    std::atomic<uint64_t> m_nPosition{0};
    std::atomic<uint64_t> m_nStallAt{UINT64_MAX};
    uint64_t m_nFailAt = UINT64_MAX;

    mutable std::mutex m_hangMutex;
    std::condition_variable m_hangCond;
    uint64_t m_nHangAt = UINT64_MAX;  // under m_hangMutex
    bool m_bHanging = false;          // under m_hangMutex
    bool m_bSourceClosed = false;     // under m_hangMutex

    std::shared_ptr<DeviceHolder> m_pHolder;
    const char* m_pszOpenFailure = nullptr;  // owner thread

    WAVEFORMATEX m_openedFormat{};
    uint32_t m_nOpenedDevice = 0;
};
