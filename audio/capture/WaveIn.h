// One sound-card capture device with its capture buffers (two or more) circulating between the
// device and the program: the recording thread takes the oldest completed buffer's bytes and puts
// the buffer straight back in the queue. The main window owns one for its whole run.
//
// The user-interface thread calls SetDeviceID, QueryFormat, Open, AllocateBuffers and Start
// before the recording thread exists, and Close after it has ended; the recording thread calls
// ReadBuffer, IsBufferDone and Stop under the recording lock. No lock of its own. Unlike the
// platform's device, a device still open when the object is destroyed is closed first, so the
// backend never writes into freed buffers.
#pragma once

#include <cstdint>
#include <memory>

#include "audio/ErrorState.h"
#include "audio/WaveFormat.h"
#include "audio/capture/CaptureBackend.h"

// What the last failed operation of CWaveIn ran into; None while its error flag is down. A front
// tells a missing device from a refused format by this, not by the text.
enum class CaptureError {
    None,
    NoDevice,  // no capture device at all: no sound card, no sound server
    FormatRefused,
    OpenFailed,
    BadBits,
    NoMemory,
    PrepareFailed,
    AddFailed,
    StartFailed,
    UnprepareFailed,
    StopFailed,
    ResetFailed,
    CloseFailed,
};

class CWaveIn {
public:
    // Uses the PortAudio backend.
    CWaveIn();
    explicit CWaveIn(std::unique_ptr<ICaptureBackend> backend);
    virtual ~CWaveIn();

    void SetDeviceID(uint32_t id);
    uint32_t GetDeviceID();
    void* GetHandle();  // the open device's backend (ICaptureBackend*), null when closed

    void QueryFormat(const WAVEFORMATEX* format);
    void Open(const WAVEFORMATEX* format, WaveInNotifyFn callback, void* instance,
              unsigned long flags);
    // -1 when already open, 0 opened, 1 failed.
    int OpenFormat(short bitsPerSample, unsigned long samplesPerSec, short channels);
    // count buffers of size bytes each (2 to kMaxBuffers): together they are how long the
    // recording thread may be held up (a stalled disk) before the device loses audio.
    void AllocateBuffers(unsigned long size, int count = 2);
    static constexpr int kMaxBuffers = 64;
    void Start();
    unsigned long ReadBuffer(void* dest);
    // Has the device completed the current buffer, so that ReadBuffer would succeed? Recording
    // thread, under the recording lock; does not touch the error flag.
    bool IsBufferDone() const;
    // Stops the device and hands back the oldest buffer it completed that was not read yet
    // (the one it was filling, with what it holds); 0 bytes when there is none.
    unsigned long Stop(void* dest);
    // After Stop: the next completed buffer not read yet, 0 bytes when there is none. The
    // device may have completed the buffer it was filling just before Stop completed the next.
    unsigned long ReadStopped(void* dest);
    void Close();

    // Frames the device had to drop since Open because no buffer was queued. Any thread.
    uint64_t GetLostFrames() const;
    // Overruns the host reported since Open without a frame count. Any thread.
    uint64_t GetOverflowCount() const;
    // Did the device fail (not merely stop) since Open? Copies its description. The thread that
    // reads the buffers.
    bool GetDeviceFailure(char* text, size_t size) const;
    ICaptureBackend* GetBackend() { return m_pBackend.get(); }

    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }
    CaptureError GetErrorKind() const { return m_error.Flag() ? m_errorKind : CaptureError::None; }
    // Does the device record at any rate asked for (a file played as a device)?
    bool TakesAnyRate() const { return m_pBackend->TakesAnyRate(); }

private:
    void Fail(CaptureError kind, const char* text);
    // A refused format or open: no device at all, else the given kind.
    void FailDevice(CaptureError kind, const char* text);
    bool ArmHeader(int index);
    unsigned long TakeCompleted(void* dest);

    std::unique_ptr<ICaptureBackend> m_pBackend;
    uint32_t m_nDeviceID = WAVE_MAPPER;
    char* m_pBuffer[kMaxBuffers] = {};
    int m_nBuffers = 2;
    int m_nCurrent = 0;
    uint32_t m_nBufferSize = 0;
    uint32_t m_nAllocated = 0;  // bytes in each buffer block
    bool m_bOpen = false;
    WAVEHDR m_header[kMaxBuffers];
    uint32_t m_nBytesTaken = 0;
    CErrorState m_error;
    CaptureError m_errorKind = CaptureError::None;
};

// The flag of Open that selects a notification function.
constexpr unsigned long CALLBACK_FUNCTION = 0x00030000ul;
