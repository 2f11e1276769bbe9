// The main window's three mixer buttons. Record Mixer and Playback Mixer open the desktop's
// volume-control program on the recording or playback side of the capture device's card;
// Auto-Config Rec-Mixer sets the card's recording mixer up through CRecMixer. Each first opens
// the capture device with the current settings' format, as a check, and closes it again; a
// device a recording already holds is used as it is and left open. Capture-device calls are
// made under the recording lock, since the recording thread may be reading the device; no
// message box is shown while it is held.
//
// The main window owns one. User-interface thread only.
#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "audio/mixer/MixerBackend.h"
#include "audio/mixer/RecMixer.h"
#include "audio/mixer/VolumeControl.h"

class QAbstractButton;
class QWidget;
class CRecordingControl;

// The volume-control program of this desktop: pavucontrol (its input or output devices) when
// installed, else alsamixer for the card (capture or playback view) in the desktop's terminal,
// started detached.
class CVolumeControlProgram : public IVolumeControl {
public:
    bool Open(MixerView view, uint32_t deviceId, const std::string& card) override;
    VolumeControlKind Kind() const override;
};

class CMixerButtons : private IVolumeControl, private IMixerMessages {
public:
    using BackendFactory = std::function<std::unique_ptr<IMixerBackend>()>;
    // Runs a press's work (the argument) while the capture device is free for it.
    using DeviceUse = std::function<void(const std::function<void()>& press)>;

    // window owns the message boxes; control holds the capture device, settings and lock.
    CMixerButtons(QWidget* window, CRecordingControl& control);

    // Connects the three buttons to their handlers, each run through around when given.
    void Connect(QAbstractButton* recMixer, QAbstractButton* playMixer, QAbstractButton* autoConfig,
                 DeviceUse around = {});

    void OnRecMixer();
    void OnPlayMixer();
    void OnAutoConfig();

    // Tests and the screenshot tool: the mixer backend made for each Auto-Config press (ALSA
    // by default) and the volume-control program (not owned; null: the real one).
    void SetMixerBackendFactory(BackendFactory factory) { m_makeBackend = std::move(factory); }
    void SetVolumeControl(IVolumeControl* program) { m_pProgram = program ? program : &m_program; }

private:
    struct CaptureCheck {
        int nOpened = 0;  // OpenFormat's result: 0 opened here, -1 already open, 1 failed
        bool bFailed = false;
        void* hWaveIn = nullptr;
        uint32_t nDeviceID = 0;
        std::string strCard;
    };
    CaptureCheck OpenCapture();
    void CloseCapture(const CaptureCheck& check);
    void OpenMixerProgram(MixerView view);

    // IVolumeControl: the program, or a notice naming the packages that provide one.
    bool Open(MixerView view, uint32_t deviceId, const std::string& card) override;
    VolumeControlKind Kind() const override;
    // IMixerMessages: the application's standard message box.
    void ShowMessage(const std::string& text) override;
    void ShowBox(const std::string& text, const char* title, bool warningIcon);

    // The volume control a press of Auto-Config asked for, started after its box.
    struct PendingProgram {
        MixerView view;
        uint32_t nDeviceID;
        std::string strCard;
    };
    std::optional<PendingProgram>* m_pPending = nullptr;  // set while the mixer works

    QWidget* m_pWindow;
    CRecordingControl& m_control;
    CVolumeControlProgram m_program;
    IVolumeControl* m_pProgram = &m_program;
    BackendFactory m_makeBackend;
};
