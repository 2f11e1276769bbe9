// The input level before Record: a capture device of its own and an analyser, run on a thread of
// their own while the main window is idle, so that the LED meters follow the input and the
// level can be set first. Every block goes through the analyser as a recording's does and its
// readouts into a CMeterLevels, which the meters read exactly as they read a recording's.
// Nothing is written anywhere.
//
// The main window owns one. Its thread asks (Monitor, Release) and reads the state; the device is
// opened, read and closed on the monitor's thread only, so a device that is slow to open or
// close never holds the window up. Release waits, bounded, until the device is closed, so that
// Record, the mixer buttons and Custom Settings find it free. The monitor's mutex is never held
// across a device call (lock map in RecordingControl.h); the block loop allocates nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "audio/capture/WaveIn.h"
#include "engine/MeterLevels.h"
#include "engine/RecSettings.h"
#include "engine/SignalAnalyzer.h"
#include "engine/Sync.h"

enum class MonitorState {
    Off,      // not asked to monitor, or let go
    Opening,  // the monitor's thread is opening the device
    Running,  // the device is open and its blocks reach the meters
    Failed,   // the device could not be opened, or failed: GetFailure says why
};

class CLevelMonitor : public IMeterLevelSource {
public:
    explicit CLevelMonitor(std::unique_ptr<ICaptureBackend> backend);
    ~CLevelMonitor();
    CLevelMonitor(const CLevelMonitor&) = delete;
    CLevelMonitor& operator=(const CLevelMonitor&) = delete;

    // Owner's thread: monitor the capture device of these settings (device id, rate, bits,
    // channels; DC Block and the rest go to the analyser). Returns at once. Asking again with
    // the same settings changes nothing. A device that could not be opened or failed is tried
    // again every m_nRetryMs on the monitor's thread, until it answers or is let go; the state
    // stays Failed, with its reason, meanwhile.
    void Monitor(const RecSettings& settings);
    // Owner's thread: lets the device go and waits until it is closed, at most timeoutMs; false
    // when the device was still open then (a backend that hangs). Nothing opens again until the
    // next Monitor.
    bool Release(int timeoutMs = kReleaseTimeoutMs);
    static constexpr int kReleaseTimeoutMs = 2000;

    // Any thread.
    MonitorState GetState() const;
    // Why the device could not be opened or failed: the system's reason with the device named.
    // Empty unless Failed. Any thread.
    std::string GetFailure() const;
    // Is the device open? Any thread.
    bool HoldsDevice() const;
    // Blocks that reached the meters since construction. Any thread.
    uint64_t GetBlockCount() const { return m_nBlocks.load(); }

    // Owner's thread, before the first Monitor: called on the monitor's thread after every change
    // of state, with no lock held. It must return promptly (post to the owner's thread).
    void SetStateCallback(std::function<void()> callback) {
        m_onStateChanged = std::move(callback);
    }

    // LED meter thread.
    void GetMeterLevels(int channel, int* power, int* peak, int* clips) override;

    // Before the first Monitor: bytes per block (as a recording's, so the readouts match) and
    // how long the monitor's thread waits for a block before it looks at its requests again.
    long m_nBufferSize = 65536;
    int m_nWaitSliceMs = 100;
    // How long a failed device rests before it is tried again: an open costs little, but a
    // sound server or a card that is gone should not be asked many times a second.
    int m_nRetryMs = 1000;

private:
    void Run();
    // Monitor's thread, without the lock.
    bool OpenDevice(const RecSettings& settings, std::string* failure);
    // Waits for and handles one block; false when the input has ended (a failed device).
    bool HandleNextBlock();
    void CloseDevice();
    std::string DescribeOpenFailure(uint32_t deviceId);
    void NotifyState();
    // Under m_mutex: a request the thread has not taken yet; the device of the request it took
    // last failed and is still wanted.
    bool NewRequest() const;
    bool Retrying() const;

    CWaveIn m_waveIn;            // monitor's thread only
    CSignalAnalyzer m_analyzer;  // monitor's thread only
    CEvent m_dataEvent;          // signalled by the device's notification and by Release
    char* m_pBlock = nullptr;    // m_nBufferSize bytes, monitor's thread
    long m_nBlockBytes = 0;
    CMeterLevels m_levels;
    std::atomic<uint64_t> m_nBlocks{0};
    std::function<void()> m_onStateChanged;

    mutable std::mutex m_mutex;
    std::condition_variable m_cond;  // the monitor's thread waits for requests, Release for it
    // Under m_mutex:
    bool m_bWanted = false;
    bool m_bEnding = false;
    bool m_bHolding = false;
    bool m_bOpening = false;           // the thread is opening the device (first try or again)
    uint64_t m_nGeneration = 0;        // bumped by each request to open (again)
    uint64_t m_nOpenedGeneration = 0;  // the request the thread took last
    RecSettings m_settings;
    MonitorState m_state = MonitorState::Off;
    std::string m_strFailure;
    std::thread m_thread;
};
