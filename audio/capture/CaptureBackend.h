// The capture service that CWaveIn drives: a device list, and for one open device a queue of
// buffers that the backend fills in order, marking each one done with the bytes it holds and
// calling the notification function (param1 and param2 are always 0; the handle is the
// backend). At the end of its input (a file's end, a failed device) a backend completes the
// buffer being filled with the bytes it holds, possibly none, and then completes nothing more.
// Backends: PortAudio over ALSA (the real one), a WAV file played as a device (tests and the
// splitter), and a scripted test backend.
//
// Thread rules: every operation but the notification is called by the thread that owns the
// CWaveIn (the user-interface thread, or the recording thread for UnprepareHeader/AddBuffer/Stop
// under the recording lock). The backend calls the notification function on its own thread; it
// must not call it while holding a lock that an operation here takes.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/WaveFormat.h"

// One capture buffer's header, as the backend sees it.
struct WAVEHDR {
    char* lpData = nullptr;
    uint32_t dwBufferLength = 0;
    std::atomic<uint32_t> dwBytesRecorded{0};  // set by the backend before it sets WHDR_DONE
    uintptr_t dwUser = 0;
    std::atomic<uint32_t> dwFlags{0};
    uint32_t dwLoops = 0;
};
constexpr uint32_t WHDR_DONE = 0x01;      // the backend has finished with the buffer
constexpr uint32_t WHDR_PREPARED = 0x02;  // prepared for the device
constexpr uint32_t WHDR_INQUEUE = 0x10;   // in the backend's queue

// Notification messages passed as `message` to the notification function.
constexpr unsigned WIM_OPEN = 0x3BE;
constexpr unsigned WIM_CLOSE = 0x3BF;
constexpr unsigned WIM_DATA = 0x3C0;

using WaveInNotifyFn = void (*)(void* handle, unsigned message, void* instance, uintptr_t param1,
                                uintptr_t param2);

// A copy of one capture device's capabilities.
struct WaveInCaps {
    uint16_t wMid = 0;
    uint16_t wPid = 0;
    uint32_t vDriverVersion = 0;
    char szPname[32] = {};
    uint32_t dwFormats = 0;
    uint16_t wChannels = 0;
};

constexpr uint32_t WAVE_MAPPER = 0xFFFFFFFFu;  // the system's default capture device

class ICaptureBackend {
public:
    virtual ~ICaptureBackend() = default;

    virtual int GetDeviceCount() = 0;
    virtual bool GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) = 0;

    // Would the device accept this format? Does not open it.
    virtual bool QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) = 0;
    // Opens the device; notify may be null (no notification). Calls notify(WIM_OPEN) before
    // returning.
    virtual bool Open(uint32_t deviceId, const WAVEFORMATEX& format, WaveInNotifyFn notify,
                      void* instance) = 0;
    virtual bool IsOpen() const = 0;
    virtual bool PrepareHeader(WAVEHDR* header) = 0;
    // Fails while the buffer is still in the queue (not done).
    virtual bool UnprepareHeader(WAVEHDR* header) = 0;
    virtual bool AddBuffer(WAVEHDR* header) = 0;
    virtual bool Start() = 0;
    // Stops capturing: the buffer being filled is marked done with the bytes it holds; the other
    // queued buffers stay queued.
    virtual bool Stop() = 0;
    // Stops and returns (marks done) every queued buffer.
    virtual bool Reset() = 0;
    // Calls notify(WIM_CLOSE); fails when the device is not open.
    virtual bool Close() = 0;

    // Frames that arrived while no buffer was queued, since Open. Any thread.
    virtual uint64_t GetLostFrames() const = 0;
    // Times the host itself reported lost input (an overrun it could not count in frames),
    // since Open. Any thread.
    virtual uint64_t GetOverflowCount() const { return 0; }
    // When the device failed since Open (its input ended because of an error, not because it
    // was stopped): copies the device's description of the failure into text (size bytes) and
    // returns true. Owner thread.
    virtual bool GetDeviceFailure(char* /*text*/, size_t /*size*/) const { return false; }

    // Why the last Open failed, in the system's words with the device named: copies it into
    // text (size bytes) and returns true; false when the backend cannot tell. Owner thread.
    virtual bool GetOpenFailure(char* /*text*/, size_t /*size*/) const { return false; }

    // False when there is no capture device at all (no sound card, no sound server), so that a
    // refused format or open can say so. User-interface thread.
    virtual bool HasCaptureDevice() { return GetDeviceCount() > 0; }
    // Does the device record at whatever rate it is asked for (a file played as a device, which
    // has its own), rather than at the rates a sound card is offered at?
    virtual bool TakesAnyRate() const { return false; }

    // Is a read the device gave up on still out, the device to be closed once it returns? Owner
    // thread.
    virtual bool IsClosingInBackground() const { return false; }

    // The mixer's name for the card behind capture device deviceId (WAVE_MAPPER: the system
    // default), open or not: for ALSA its control device ("hw:0", "pulse", "default"). Empty
    // when the backend knows of no mixer. User-interface thread.
    virtual std::string GetMixerDeviceName(uint32_t /*deviceId*/) { return {}; }
};

// The backend the recorder uses: PortAudio over ALSA.
std::unique_ptr<ICaptureBackend> MakePortAudioBackend();

// The ALSA control device of the card behind a PortAudio ALSA device name: "hw:N" for a
// hardware device ("HDA Intel PCH: ALC892 Analog (hw:0,0)"), else the device's own name
// ("pulse", "default").
std::string AlsaControlForDevice(const std::string& portAudioName);
