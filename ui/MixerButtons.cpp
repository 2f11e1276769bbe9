#include "ui/MixerButtons.h"

#include <QAbstractButton>
#include <QMessageBox>
#include <QProcess>
#include <QStandardPaths>
#include <mutex>
#include <optional>

#include "engine/RecordingControl.h"
#include "settings/QSettingsProfileStore.h"

namespace {
const char* const kErrorTitle = "Error";

// The programs on PATH, empty where missing.
struct Programs {
    QString pavucontrol = QStandardPaths::findExecutable(QStringLiteral("pavucontrol"));
    QString terminal = QStandardPaths::findExecutable(QStringLiteral("x-terminal-emulator"));
    QString alsamixer = QStandardPaths::findExecutable(QStringLiteral("alsamixer"));
};
}  // namespace

bool CVolumeControlProgram::Open(MixerView view, uint32_t /*deviceId*/, const std::string& card) {
    const bool recording = view != MixerView::Playback;
    const Programs found;
    // pavucontrol shows every card; its tabs count from 1: 2 recording (the input of each
    // program), 3 output devices, 4 input devices.
    const char* tab = view == MixerView::Streams ? "--tab=2" : recording ? "--tab=4" : "--tab=3";
    if (!found.pavucontrol.isEmpty() &&
        QProcess::startDetached(found.pavucontrol, {QString::fromLatin1(tab)})) {
        return true;
    }
    // alsamixer is pointed at the card; the system default (-1) is the `default` device.
    if (found.terminal.isEmpty() || found.alsamixer.isEmpty()) return false;
    return QProcess::startDetached(
        found.terminal,
        {QStringLiteral("-e"), found.alsamixer, QStringLiteral("-D"),
         card.empty() ? QStringLiteral("default") : QString::fromStdString(card),
         QStringLiteral("-V"), recording ? QStringLiteral("capture") : QStringLiteral("playback")});
}

VolumeControlKind CVolumeControlProgram::Kind() const {
    const Programs found;
    if (!found.pavucontrol.isEmpty()) return VolumeControlKind::Graphical;
    if (!found.terminal.isEmpty() && !found.alsamixer.isEmpty()) return VolumeControlKind::Terminal;
    return VolumeControlKind::None;
}

CMixerButtons::CMixerButtons(QWidget* window, CRecordingControl& control)
    : m_pWindow(window), m_control(control) {}

void CMixerButtons::Connect(QAbstractButton* recMixer, QAbstractButton* playMixer,
                            QAbstractButton* autoConfig, DeviceUse around) {
    if (!around) around = [](const std::function<void()>& press) { press(); };
    QObject::connect(recMixer, &QAbstractButton::clicked, m_pWindow,
                     [this, around] { around([this] { OnRecMixer(); }); });
    QObject::connect(playMixer, &QAbstractButton::clicked, m_pWindow,
                     [this, around] { around([this] { OnPlayMixer(); }); });
    QObject::connect(autoConfig, &QAbstractButton::clicked, m_pWindow,
                     [this, around] { around([this] { OnAutoConfig(); }); });
}

CMixerButtons::CaptureCheck CMixerButtons::OpenCapture() {
    CWaveIn& waveIn = m_control.GetWaveIn();
    const RecSettings& settings = m_control.m_settings;
    CaptureCheck check;
    if (m_control.IsRecording()) {
        // The recording holds the device open, and its thread owns the device's state: the
        // device id and the handle were set before the thread started.
        check.nOpened = -1;
    } else {
        check.nOpened =
            waveIn.OpenFormat(static_cast<short>(settings.wBitsPerSample), settings.nSamplesPerSec,
                              static_cast<short>(settings.wChannels));
        check.bFailed = waveIn.GetErrorFlag() != 0;
    }
    check.nDeviceID = waveIn.GetDeviceID();
    check.hWaveIn = waveIn.GetHandle();
    check.strCard = waveIn.GetBackend()->GetMixerDeviceName(check.nDeviceID);
    return check;
}

void CMixerButtons::CloseCapture(const CaptureCheck& check) {
    // Only a device opened here: one that a recording holds stays open. A device opened with
    // its flag raised (an odd format) is closed too, not left open for good.
    if (check.nOpened != 0) return;
    m_control.GetWaveIn().Close();
}

void CMixerButtons::OpenMixerProgram(MixerView view) {
    const CaptureCheck check = OpenCapture();
    if (check.bFailed) {
        CloseCapture(check);
        ShowMessage(mixer_texts::kProblemOpening);
        return;
    }
    Open(view, check.nDeviceID, check.strCard);
    CloseCapture(check);
}

void CMixerButtons::OnRecMixer() { OpenMixerProgram(MixerView::Recording); }

void CMixerButtons::OnPlayMixer() { OpenMixerProgram(MixerView::Playback); }

void CMixerButtons::OnAutoConfig() {
    const CaptureCheck check = OpenCapture();
    if (check.bFailed) {
        CloseCapture(check);
        const VolumeControlKind kind = m_pProgram->Kind();
        ShowMessage(mixer_texts::CaptureFailedText(kind));
        // The message promises the mixer (or says what to install). Record Mixer's own check of
        // the device would only fail again and show none, so the program is opened directly.
        if (kind != VolumeControlKind::None)
            Open(MixerView::Recording, check.nDeviceID, check.strCard);
        return;
    }
    std::optional<PendingProgram> program;
    {
        CRecMixer mixer(m_makeBackend ? m_makeBackend() : MakeAlsaMixerBackend(), *this, *this);
        // The mixer asks for the volume control before its box says so: the program starts
        // once the box has been read, and its window cannot cover the box.
        m_pPending = &program;
        mixer.Open(check.hWaveIn, check.nDeviceID);
        const bool opened = mixer.IsOpen();
        if (opened) mixer.AutoConfigure();
        m_pPending = nullptr;
        if (mixer.GetErrorFlag()) ShowBox(mixer.GetErrorText(), kErrorTitle, false);
        if (opened) mixer.Close();  // a failure here is recorded, not shown
    }
    CloseCapture(check);
    if (program) Open(program->view, program->nDeviceID, program->strCard);
}

bool CMixerButtons::Open(MixerView view, uint32_t deviceId, const std::string& card) {
    if (m_pPending) {
        *m_pPending = PendingProgram{view, deviceId, card};
        return true;
    }
    if (m_pProgram->Open(view, deviceId, card)) return true;
    ShowMessage(mixer_texts::kNoProgram);
    return false;
}

VolumeControlKind CMixerButtons::Kind() const { return m_pProgram->Kind(); }

void CMixerButtons::ShowMessage(const std::string& text) {
    // The application's standard box: titled with the application name, an exclamation icon.
    ShowBox(text, CQSettingsProfileStore::kApplication, true);
}

void CMixerButtons::ShowBox(const std::string& text, const char* title, bool warningIcon) {
    QMessageBox box(warningIcon ? QMessageBox::Warning : QMessageBox::NoIcon,
                    QString::fromLatin1(title), QString::fromStdString(text), QMessageBox::Ok,
                    m_pWindow);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}
