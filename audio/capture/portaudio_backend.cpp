// The real capture backend: PortAudio's blocking input stream over ALSA. The device thread of
// CQueuedCaptureBackend reads the stream with Pa_ReadStream straight into the queued buffer; a
// callback stream would overrun on a device that nothing paces (a file played through ALSA),
// while a blocking reader is paced by its own reads and gets every byte in order.
#include <alsa/asoundlib.h>
#include <pa_linux_alsa.h>
#include <portaudio.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "audio/PortAudioStartUp.h"
#include "audio/capture/QueuedCaptureBackend.h"

namespace {

// Device ids count PortAudio's input devices only, in its order; -1 is its default input.
PaDeviceIndex DeviceIndex(uint32_t deviceId) {
    if (deviceId == WAVE_MAPPER) return Pa_GetDefaultInputDevice();
    const PaDeviceIndex count = Pa_GetDeviceCount();
    uint32_t inputs = 0;
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info || info->maxInputChannels <= 0) continue;
        if (inputs == deviceId) return i;
        ++inputs;
    }
    return paNoDevice;
}

PaSampleFormat SampleFormat(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_PCM) {
        switch (format.wBitsPerSample) {
            case 8:
                return paUInt8;
            case 16:
                return paInt16;
            case 24:
                return paInt24;
            default:
                return 0;
        }
    }
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32) {
        return paFloat32;
    }
    return 0;
}

bool MakeParameters(uint32_t deviceId, const WAVEFORMATEX& format, PaStreamParameters* params) {
    if (!EnsurePortAudio()) return false;
    const PaDeviceIndex device = DeviceIndex(deviceId);
    const PaSampleFormat sampleFormat = SampleFormat(format);
    if (device == paNoDevice || sampleFormat == 0 || format.nChannels == 0) return false;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
    if (!info || info->maxInputChannels < format.nChannels) return false;
    *params = PaStreamParameters{};
    params->device = device;
    params->channelCount = format.nChannels;
    params->sampleFormat = sampleFormat;  // interleaved
    // A generous device buffer is the slack a late reader has before audio is lost.
    params->suggestedLatency = std::max(info->defaultHighInputLatency, 0.5);
    return true;
}

// A blocking input stream (no callback) for the format, or null. *device: what it was opened on.
PaStream* OpenStream(uint32_t deviceId, const WAVEFORMATEX& format,
                     PaDeviceIndex* device = nullptr) {
    PaStreamParameters params;
    if (!MakeParameters(deviceId, format, &params)) return nullptr;
    if (device) *device = params.device;
    PaStream* stream = nullptr;
    const PaError error =
        Pa_OpenStream(&stream, &params, nullptr, format.nSamplesPerSec,
                      paFramesPerBufferUnspecified, paClipOff | paDitherOff, nullptr, nullptr);
    return error == paNoError ? stream : nullptr;
}

class CPortAudioCaptureBackend : public CQueuedCaptureBackend {
public:
    ~CPortAudioCaptureBackend() override { Shutdown(); }

    int GetDeviceCount() override {
        if (!EnsurePortAudio()) return 0;
        const PaDeviceIndex count = Pa_GetDeviceCount();
        int inputs = 0;
        for (PaDeviceIndex i = 0; i < count; ++i) {
            const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
            if (info && info->maxInputChannels > 0) ++inputs;
        }
        return inputs;
    }

    bool GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) override {
        if (!EnsurePortAudio() || !caps || deviceId == WAVE_MAPPER) return false;
        const PaDeviceIndex device = DeviceIndex(deviceId);
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        if (!info) return false;
        *caps = WaveInCaps{};
        std::snprintf(caps->szPname, sizeof caps->szPname, "%s", info->name ? info->name : "");
        caps->wChannels = static_cast<uint16_t>(std::min(info->maxInputChannels, 0xFFFF));
        caps->vDriverVersion = static_cast<uint32_t>(Pa_GetVersion());
        // PortAudio declares no list of standard formats, and probing sixteen of them would
        // open every device sixteen times each time the list is read: left empty.
        return true;
    }

    // The system default is the `default` control device whatever PortAudio's default input
    // is; only ALSA devices have a card.
    std::string GetMixerDeviceName(uint32_t deviceId) override {
        if (deviceId == WAVE_MAPPER) return "default";
        if (!EnsurePortAudio()) return {};
        const PaDeviceIndex device = DeviceIndex(deviceId);
        const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
        const PaHostApiInfo* host = info ? Pa_GetHostApiInfo(info->hostApi) : nullptr;
        if (!host || host->type != paALSA || !info->name) return {};
        return AlsaControlForDevice(info->name);
    }

    // A real check: opens (and closes) the very stream Open would. Pa_IsFormatSupported asks
    // ALSA for its largest buffer instead, which on an unbounded device (the file plugin the
    // tests use) means a buffer of billions of frames.
    bool QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) override {
        PaStream* stream = OpenStream(deviceId, format);
        if (!stream) return false;
        Pa_CloseStream(stream);
        return true;
    }

protected:
    bool OpenSource(uint32_t deviceId, const WAVEFORMATEX& format, SourceTraits* traits) override {
        PaDeviceIndex device = paNoDevice;
        PaStream* stream = OpenStream(deviceId, format, &device);
        if (!stream) return false;
        m_pStream = stream;
        const PaDeviceInfo* info = Pa_GetDeviceInfo(device);
        std::snprintf(m_szDevice, sizeof m_szDevice, "%s",
                      info && info->name ? info->name : "the recording device");
        m_nFrameBytes = format.nBlockAlign;
        traits->bPaced = false;
        traits->bLossy = true;
        // Small pieces keep Stop quick (it waits for the read in progress) and let it return
        // the partly filled buffer: at most 8 KiB (46 ms of 16-bit stereo at 44.1 kHz) and at
        // most 50 ms at slow rates.
        traits->nMaxPieceBytes = static_cast<uint32_t>(
            std::min<uint64_t>(8192, uint64_t{format.nSamplesPerSec} * format.nBlockAlign / 20));
        traits->grace = std::chrono::milliseconds(200);
        return true;
    }

    void CloseSource() override {
        if (m_pStream) Pa_CloseStream(m_pStream);
        m_pStream = nullptr;
    }

    bool StartSource() override { return m_pStream && Pa_StartStream(m_pStream) == paNoError; }

    bool StopSource() override {
        if (!m_pStream) return false;
        if (Pa_IsStreamStopped(m_pStream) == 1) return true;
        return Pa_StopStream(m_pStream) == paNoError;
    }

    ReadResult ReadSource(void* dest, uint32_t bytes) override {
        ReadResult result;
        const unsigned long frames = bytes / m_nFrameBytes;
        const PaError error = Pa_ReadStream(m_pStream, dest, frames);
        if (error == paNoError || error == paInputOverflowed) {
            // An overflow is reported after the host has recovered; the frames read are good,
            // those lost before them were never seen and cannot be counted.
            if (error == paInputOverflowed) CountOverflow();
            result.nBytes = static_cast<uint32_t>(frames * m_nFrameBytes);
        } else {
            // The device has failed (a USB card pulled out): a short block ends the recording,
            // which says why.
            result.bEnd = true;
            std::snprintf(m_szFailure, sizeof m_szFailure, "the device \"%s\" reported: %s",
                          m_szDevice, FailureReason(error).c_str());
            result.pszFailure = m_szFailure;
        }
        return result;
    }

private:
    // The system's reason for a failed read. For some failures PortAudio leaves its host error
    // empty ("Unanticipated host error" with no text and code 0): then whether the card is
    // still there is the reason worth telling.
    std::string FailureReason(PaError error) const {
        const PaHostErrorInfo* host =
            error == paUnanticipatedHostError ? Pa_GetLastHostErrorInfo() : nullptr;
        if (host && host->errorText && host->errorText[0]) return host->errorText;
        if (host && host->errorCode != 0 && host->hostApiType == paALSA) {
            return snd_strerror(static_cast<int>(host->errorCode));
        }
        int card = -1;
        if (PaAlsa_GetStreamInputCard(m_pStream, &card) == paNoError && card >= 0) {
            snd_ctl_t* control = nullptr;
            const std::string name = "hw:" + std::to_string(card);
            const int opened = snd_ctl_open(&control, name.c_str(), 0);
            if (opened < 0) {
                return std::string("the sound card is no longer present (") + snd_strerror(opened) +
                       ")";
            }
            snd_ctl_close(control);
        }
        return Pa_GetErrorText(error);
    }

    PaStream* m_pStream = nullptr;
    char m_szDevice[128] = {};
    char m_szFailure[256] = {};
    uint32_t m_nFrameBytes = 1;
};

}  // namespace

std::string AlsaControlForDevice(const std::string& portAudioName) {
    // PortAudio names a hardware device "<card>: <device> (hw:<card>,<device>)".
    const size_t open = portAudioName.rfind("(hw:");
    if (open != std::string::npos && portAudioName.back() == ')') {
        const size_t comma = portAudioName.find(',', open);
        if (comma != std::string::npos) return portAudioName.substr(open + 1, comma - open - 1);
    }
    return portAudioName;
}

std::unique_ptr<ICaptureBackend> MakePortAudioBackend() {
    return std::make_unique<CPortAudioCaptureBackend>();
}
