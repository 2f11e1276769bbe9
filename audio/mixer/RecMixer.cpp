#include "audio/mixer/RecMixer.h"

#include <algorithm>
#include <vector>

#include "audio/capture/CaptureBackend.h"

namespace {
const char* const kMixerOpenFailed = "Could not open mixer device.";
const char* const kMixerCloseFailed = "Could not close mixer device.";
const char* const kNoVolumeControl = "Could not get recording mixer volume control.";
const char* const kSetVolumeFailed = "Could not set recording mixer volume details.";
const char* const kNoMixer = "Could not continue because there is no open mixer device.";
const char* const kLineInfoFailed = "Could not get mixer line information.";
const char* const kNoControls = "Could not get mixer controls.";
const char* const kDetailsFailed = "Could not get mixer control details.";
const char* const kSetDetailsFailed = "Could not set mixer details";
const char* const kNoValueList = "No controls exist in mixer.";
const char* const kManualSetUp =
    "Could not Set Volume level on record mixer.\nYou must do it manually.\n\n";
const char* const kNoInputToChoose =
    "Vellisto cannot set the recording level on this device: it offers one master capture "
    "control and no input to choose, as a sound server (PulseAudio or PipeWire) does. There the "
    "input is chosen for each program.\n\n";
const char* const kMonoWarning =
    "No Line-In recording channel was found. \nThe microphone was chosen for you.\n\nYou may "
    "continue recording using this device.\nHowever, your audio will be in mono.";
const char* const kSetUpDone =
    "Your recording mixer has been automatically set up using the %s input device.";
}  // namespace

namespace mixer_texts {
const char kProblemOpening[] = "Problem opening WAVEIN device.";
const char kNoProgram[] =
    "No volume-control program could be started.\nInstall pavucontrol, or alsa-utils (alsamixer) "
    "together with a terminal emulator such as xterm.";

std::string CaptureFailedText(VolumeControlKind kind) {
    return "Vellisto could not automatically configure your recording mixer.\n\n" +
           ProgramOpensText(kind, MixerView::Recording);
}

std::string ProgramOpensText(VolumeControlKind kind, MixerView view) {
    // The program is started after the box: a window that opened first could cover it.
    const std::string when = "When you close this box, ";
    const bool streams = view == MixerView::Streams;
    switch (kind) {
        case VolumeControlKind::Graphical:
            return when + (streams ? "the volume control opens on its Recording tab: choose the "
                                     "input for Vellisto there while it records, and set the "
                                     "level on the Input Devices tab."
                                   : "the volume control opens on its Input Devices tab for you "
                                     "to set the recording level.");
        case VolumeControlKind::Terminal:
            // alsamixer shows the card's controls; a sound server's choice of input for each
            // program is not among them.
            return when + "the terminal mixer alsamixer opens in a terminal window, on the " +
                   (streams ? "device's capture control, where the level is set. The input of "
                              "each program is chosen in a sound server's volume control such "
                              "as pavucontrol, which is not installed."
                            : "card's capture controls, for you to choose the input and set its "
                              "level.");
        case VolumeControlKind::None:
            break;
    }
    return kNoProgram;
}
}  // namespace mixer_texts

namespace {
// A selector claiming more items than any card has is a broken driver: its lists are not
// made, as if they could not be allocated.
constexpr uint32_t kMaxSelectorItems = 1024;
// ALSA's channel positions end at 32; a line claiming more gets its first 32 set.
constexpr uint32_t kMaxChannels = 32;
}  // namespace

CRecMixer::CRecMixer(IVolumeControl& volumeControl, IMixerMessages& messages)
    : CRecMixer(MakeAlsaMixerBackend(), volumeControl, messages) {}

CRecMixer::CRecMixer(std::unique_ptr<IMixerBackend> backend, IVolumeControl& volumeControl,
                     IMixerMessages& messages)
    : m_pBackend(std::move(backend)), m_volumeControl(volumeControl), m_messages(messages) {}

CRecMixer::~CRecMixer() {
    if (m_bMixerOpen) m_pBackend->Close();
}

void CRecMixer::Open(void* waveIn, uint32_t deviceId) {
    m_error.Clear();
    if (m_bMixerOpen) Close();
    m_hWaveIn = waveIn;
    m_nDeviceID = deviceId;
    if (!waveIn) return;
    // The capture device's handle is its backend, which knows the card behind the device.
    m_strCard = static_cast<ICaptureBackend*>(waveIn)->GetMixerDeviceName(deviceId);
    if (!m_pBackend->Open(m_strCard)) {
        m_error.Fail("%s", kMixerOpenFailed);
        return;
    }
    m_bMixerOpen = true;
}

void CRecMixer::Close() {
    m_error.Clear();
    if (!m_bMixerOpen) return;
    m_bMixerOpen = false;
    if (!m_pBackend->Close()) m_error.Fail("%s", kMixerCloseFailed);
}

// The recording destination's source line of that type. Raises the flag (no text) when the
// destination cannot be read or has no such source.
bool CRecMixer::FindSource(uint32_t sourceType, MixerLineInfo* source) {
    MixerLineInfo destination;
    if (!m_pBackend->GetLineInfoByType(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, &destination)) {
        m_error.Raise();
        return false;
    }
    for (uint32_t j = 0; j < destination.nConnections; ++j) {
        // The sources of the destination the query found, wherever the card numbers it.
        if (m_pBackend->GetLineInfoBySource(destination.nDestination, j, source) &&
            source->nComponentType == sourceType) {
            return true;
        }
        m_error.Raise();
    }
    m_error.Raise();
    return false;
}

void CRecMixer::ConfigureSource(uint32_t sourceType, int volume, bool select) {
    m_error.Clear();
    // Without a mixer nothing is configured, and that must not read as success.
    if (!m_hWaveIn || !m_bMixerOpen) {
        m_error.Fail("%s", kNoMixer);
        return;
    }
    // A source that cannot be found ends here with the flag raised: selecting it anyway would
    // report a configured source whose volume was never set.
    MixerLineInfo source;
    if (!FindSource(sourceType, &source)) return;

    MixerControlInfo control;
    if (!m_pBackend->GetLineControl(source.nLineID, MIXERCONTROL_CONTROLTYPE_VOLUME, &control)) {
        m_error.Fail("%s", kNoVolumeControl);
        return;
    }
    m_error.Clear();
    // 50 gives 32,750 of 65,535; the value is cut to 16 bits like the platform's.
    const uint32_t value = static_cast<uint32_t>(int64_t{volume} * 655) & 0xFFFFu;
    const uint32_t channels = std::clamp<uint32_t>(source.nChannels, 1, kMaxChannels);
    uint32_t values[kMaxChannels];
    std::fill_n(values, channels, value);
    if (!m_pBackend->SetUnsigned(control, std::span<const uint32_t>(values, channels))) {
        // Kept as the outcome: the selection below would clear it.
        m_error.Fail("%s", kSetVolumeFailed);
        return;
    }
    SelectSource(sourceType, select);
}

void CRecMixer::SelectSource(uint32_t sourceType, bool select) {
    m_error.Clear();
    if (!m_bMixerOpen) {
        m_error.Fail("%s", kNoMixer);
        return;
    }
    MixerLineInfo destination;
    if (!m_pBackend->GetLineInfoByType(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, &destination)) {
        m_error.Fail("%s", kLineInfoFailed);
        return;
    }
    MixerControlInfo control;
    if (!m_pBackend->GetLineControl(destination.nLineID, MIXERCONTROL_CONTROLTYPE_MIXER,
                                    &control) &&
        !m_pBackend->GetLineControl(destination.nLineID, MIXERCONTROL_CONTROLTYPE_MUX, &control)) {
        m_error.Fail("%s", kNoControls);
        return;
    }
    const uint32_t count = control.nItems;
    if (count == 0) return;
    if (count > kMaxSelectorItems) {
        m_error.Fail("%s", kNoValueList);
        return;
    }
    std::vector<MixerListItem> items(count);
    if (!m_pBackend->GetListText(control, items)) {
        m_error.Fail("%s", kDetailsFailed);
        return;
    }
    int taken = -1;
    for (uint32_t i = 0; i < count && taken < 0; ++i) {
        MixerLineInfo line;
        if (m_pBackend->GetLineInfoById(items[i].nLineID, &line) &&
            line.nComponentType == sourceType) {
            taken = static_cast<int>(i);
            m_error.Clear();
        } else {
            m_error.Raise();
        }
    }
    if (taken < 0) return;

    const bool mux = control.nControlType == MIXERCONTROL_CONTROLTYPE_MUX;
    if (mux && !select) return;  // a single-select selector cannot deselect its item
    std::vector<int32_t> values(count);
    // Writing back values that were never read would switch the user's other sources.
    if (!m_pBackend->GetBooleans(control, values)) {
        m_error.Fail("%s", kDetailsFailed);
        return;
    }
    if (mux) std::fill(values.begin(), values.end(), 0);
    values[static_cast<size_t>(taken)] = select ? 1 : 0;
    if (!m_pBackend->SetBooleans(control, values)) m_error.Fail("%s", kSetDetailsFailed);
}

void CRecMixer::DeselectAll(std::initializer_list<uint32_t> sourceTypes) {
    for (uint32_t type : sourceTypes) SelectSource(type, false);
}

bool CRecMixer::HasNoSources() {
    MixerLineInfo destination;
    return m_bMixerOpen &&
           m_pBackend->GetLineInfoByType(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, &destination) &&
           destination.nConnections == 0;
}

void CRecMixer::LeaveToUser(const char* reason, MixerView view) {
    const VolumeControlKind kind = m_volumeControl.Kind();
    m_error.Fail("%s%s", reason, mixer_texts::ProgramOpensText(kind, view).c_str());
    // Without a program the text says what to install; there is nothing to start.
    if (kind != VolumeControlKind::None) m_volumeControl.Open(view, m_nDeviceID, m_strCard);
}

void CRecMixer::AutoConfigure() {
    const char* chosen = nullptr;
    m_error.Clear();
    ConfigureSource(MIXERLINE_COMPONENTTYPE_SRC_LINE, 50, true);
    if (!m_error.Flag()) {
        chosen = "Line-In";
        DeselectAll({MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERLINE_COMPONENTTYPE_SRC_ANALOG,
                     MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY});
    }
    if (!chosen) {
        m_error.Clear();
        ConfigureSource(MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY, 50, true);
        if (!m_error.Flag()) {
            chosen = "Auxiliary";
            DeselectAll({MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, MIXERLINE_COMPONENTTYPE_SRC_ANALOG,
                         MIXERLINE_COMPONENTTYPE_SRC_LINE});
        }
    }
    if (!chosen) {
        m_error.Clear();
        ConfigureSource(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, 50, true);
        if (!m_error.Flag()) {
            DeselectAll(
                {MIXERLINE_COMPONENTTYPE_SRC_LINE, MIXERLINE_COMPONENTTYPE_SRC_ANALOG,
                 MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY, MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED,
                 MIXERLINE_COMPONENTTYPE_SRC_DIGITAL, MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER,
                 MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE,
                 MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER, MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT});
            m_error.Clear();
            m_messages.ShowMessage(kMonoWarning);
            return;
        }
        if (HasNoSources()) {
            LeaveToUser(kNoInputToChoose, MixerView::Streams);
        } else {
            LeaveToUser(kManualSetUp, MixerView::Recording);
        }
        return;
    }
    DeselectAll({MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED, MIXERLINE_COMPONENTTYPE_SRC_DIGITAL,
                 MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER, MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC,
                 MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE, MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER,
                 MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT});
    m_error.Clear();
    char text[CErrorState::kTextSize];
    std::snprintf(text, sizeof text, kSetUpDone, chosen);
    m_messages.ShowMessage(text);
}
