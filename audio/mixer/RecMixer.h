// The sound card's recording mixer for one press of Auto-Config Rec-Mixer: opened for the card
// of the open capture device, it makes the line input (failing that the auxiliary input,
// failing that the microphone) the selected recording source at half volume, deselects every
// other source, and tells the user what it chose; when none of the three can be set up it asks
// for the volume-control program for the user instead, and its error text says which program
// that is (the front starts it once that text has been read).
//
// The window's Auto-Config handler owns one for the length of the press. Errors follow the
// audio objects' convention (flag and 1,024-byte text), except that a source missing from the
// card raises the flag without a text. User-interface thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "audio/ErrorState.h"
#include "audio/mixer/MixerBackend.h"
#include "audio/mixer/VolumeControl.h"

// The mixer buttons' words, made here and nowhere else, for the words the front shows itself.
// What a volume-control program's box promises is started only once that box is closed.
namespace mixer_texts {
// Record Mixer or Playback Mixer: the capture device cannot be opened.
extern const char kProblemOpening[];
// No volume-control program can be started; names the packages that provide one.
extern const char kNoProgram[];
// Auto-Config: the capture device cannot be opened, so the mixer is left to the user in the
// program of that kind.
std::string CaptureFailedText(VolumeControlKind kind);
// What opens for the user on the Recording or Streams view when the box is closed (kNoProgram
// for None).
std::string ProgramOpensText(VolumeControlKind kind, MixerView view);
}  // namespace mixer_texts

// Where the mixer's notices go: the application's standard message box (an OK button).
class IMixerMessages {
public:
    virtual ~IMixerMessages() = default;
    virtual void ShowMessage(const std::string& text) = 0;
};

class CRecMixer {
public:
    // Uses the ALSA backend.
    CRecMixer(IVolumeControl& volumeControl, IMixerMessages& messages);
    CRecMixer(std::unique_ptr<IMixerBackend> backend, IVolumeControl& volumeControl,
              IMixerMessages& messages);
    // Closes a mixer that is still open.
    ~CRecMixer();
    CRecMixer(const CRecMixer&) = delete;
    CRecMixer& operator=(const CRecMixer&) = delete;

    // Opens the mixer of the card behind the open capture device waveIn (CWaveIn::GetHandle)
    // and keeps both values; deviceId is passed on to the volume-control program. A null
    // waveIn opens nothing and is no error.
    void Open(void* waveIn, uint32_t deviceId);
    void Close();
    // Selects or deselects the first item of that source type in the recording selector.
    void SelectSource(uint32_t sourceType, bool select);
    // Sets the volume (0 to 100) of that recording source on every channel, then selects it.
    void ConfigureSource(uint32_t sourceType, int volume, bool select);
    void AutoConfigure();

    bool IsOpen() const { return m_bMixerOpen; }
    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }

private:
    bool FindSource(uint32_t sourceType, MixerLineInfo* source);
    void DeselectAll(std::initializer_list<uint32_t> sourceTypes);
    // The recording destination has a master control and no source lines: a sound server's
    // device, where the input is chosen per program and not on the card.
    bool HasNoSources();
    // Raises the flag with the reason and what opens for doing it by hand, and asks for it.
    void LeaveToUser(const char* reason, MixerView view);

    std::unique_ptr<IMixerBackend> m_pBackend;
    IVolumeControl& m_volumeControl;
    IMixerMessages& m_messages;
    void* m_hWaveIn = nullptr;
    uint32_t m_nDeviceID = 0xFFFFFFFFu;
    std::string m_strCard;
    bool m_bMixerOpen = false;
    CErrorState m_error;
};
