// CRecMixer on fake cards: the search order line, auxiliary, microphone with its messages and
// deselection lists, the mux selector, each failure text at its step, and the failures that
// must never end as a configured source. Also the names that lead from a capture device to a
// card and from an ALSA element to a source type.
#include <gtest/gtest.h>

#include <optional>

#include "audio/capture/TestCaptureBackend.h"
#include "audio/mixer/FakeMixerBackend.h"
#include "audio/mixer/RecMixer.h"

namespace {

constexpr uint32_t kLine = MIXERLINE_COMPONENTTYPE_SRC_LINE;
constexpr uint32_t kAux = MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY;
constexpr uint32_t kMic = MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE;
constexpr uint32_t kCD = MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC;
constexpr uint32_t kAnalog = MIXERLINE_COMPONENTTYPE_SRC_ANALOG;
constexpr uint32_t kMixer = MIXERCONTROL_CONTROLTYPE_MIXER;
constexpr uint32_t kMux = MIXERCONTROL_CONTROLTYPE_MUX;

const std::string kManual =
    "Could not Set Volume level on record mixer.\nYou must do it manually.\n\nWhen you close this "
    "box, the volume control opens on its Input Devices tab for you to set the recording level.";
const std::string kMono =
    "No Line-In recording channel was found. \nThe microphone was chosen for you.\n\nYou may "
    "continue recording using this device.\nHowever, your audio will be in mono.";
std::string SetUpText(const char* name) {
    return std::string("Your recording mixer has been automatically set up using the ") + name +
           " input device.";
}

struct Launch {
    MixerView view;
    uint32_t nDeviceID;
    std::string strCard;
    bool operator==(const Launch&) const = default;
};

struct Host : IVolumeControl, IMixerMessages {
    bool Open(MixerView view, uint32_t deviceId, const std::string& card) override {
        launches.push_back({view, deviceId, card});
        return true;
    }
    VolumeControlKind Kind() const override { return kind; }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }
    std::vector<Launch> launches;
    std::vector<std::string> messages;
    VolumeControlKind kind = VolumeControlKind::Graphical;
};

// The capture device's backend names its card.
struct NamedCapture : CTestCaptureBackend {
    std::string GetMixerDeviceName(uint32_t) override { return "hw:3"; }
};

FakeMixerSource Src(uint32_t type, const char* name, bool selected = true) {
    FakeMixerSource source;
    source.nType = type;
    source.strName = name;
    source.bSelected = selected;
    return source;
}

// Every source type a mixer line can report, all selected.
std::vector<FakeMixerSource> EverySource() {
    std::vector<FakeMixerSource> sources;
    for (uint32_t type = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
         type <= MIXERLINE_COMPONENTTYPE_SRC_ANALOG; ++type)
        sources.push_back(Src(type, "source"));
    return sources;
}

struct Rig {
    explicit Rig(FakeMixerCard data, bool open = true)
        : card(std::make_shared<FakeMixerCard>(std::move(data))),
          mixer(MakeFakeMixerBackend(card), host, host) {
        if (open) mixer.Open(static_cast<ICaptureBackend*>(&capture), WAVE_MAPPER);
    }
    std::string Text() const { return mixer.GetErrorText(); }

    std::shared_ptr<FakeMixerCard> card;
    NamedCapture capture;
    Host host;
    CRecMixer mixer;
};

// Line input first, then auxiliary, then the microphone (with the mono warning): the one chosen
// is selected at half volume, every other source deselected and left alone.
TEST(RecMixer, AutoConfigureChoosesLineThenAuxiliaryThenMicrophone) {
    auto monoMic = Src(kMic, "Mic");
    monoMic.nChannels = 1;
    const std::vector<FakeMixerSource> noLine = {Src(kMic, "Mic"), Src(kAnalog, "Analog"),
                                                 Src(kCD, "CD"), Src(kAux, "Aux")};
    const std::vector<FakeMixerSource> micOnly = {
        Src(MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED, "Video"), monoMic, Src(kCD, "CD"),
        Src(MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT, "Wave")};
    const struct {
        std::vector<FakeMixerSource> sources;
        uint32_t chosen;
        std::string message;
    } cases[] = {{EverySource(), kLine, SetUpText("Line-In")},
                 {noLine, kAux, SetUpText("Auxiliary")},
                 {micOnly, kMic, kMono}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        Rig rig(FakeMixerCard::Recording(kMixer, c.sources));
        rig.mixer.AutoConfigure();
        EXPECT_EQ(rig.mixer.GetErrorFlag(), 0);
        EXPECT_EQ(rig.card->strOpenedCard, "hw:3");
        EXPECT_EQ(rig.card->SelectedTypes(), std::vector<uint32_t>{c.chosen});
        // Half volume on each of the chosen source's channels; the others left alone.
        for (const FakeMixerSource& source : c.sources) {
            EXPECT_EQ(
                rig.card->Source(source.nType)->volume,
                std::vector<uint32_t>(source.nType == c.chosen ? source.nChannels : 0, 32750));
        }
        EXPECT_EQ(rig.host.messages, std::vector<std::string>{c.message});
        EXPECT_TRUE(rig.host.launches.empty());
    }
}

TEST(RecMixer, MuxSelectsInOneWriteAndCannotDeselect) {
    Rig rig(FakeMixerCard::Recording(
        kMux, {Src(kMic, "Mic", true), Src(kCD, "CD", false), Src(kLine, "Line", false)}));
    rig.mixer.SelectSource(kLine, true);
    EXPECT_EQ(rig.card->SelectedTypes(), std::vector<uint32_t>{kLine});
    EXPECT_EQ(rig.card->nSelectorWrites, 1);
    rig.mixer.SelectSource(kLine, false);
    EXPECT_EQ(rig.mixer.GetErrorFlag(), 0);
    EXPECT_EQ(rig.card->SelectedTypes(), std::vector<uint32_t>{kLine});
    EXPECT_EQ(rig.card->nSelectorWrites, 1);
}

TEST(RecMixer, EachFailureTextAtItsStep) {
    using Step = void (*)(CRecMixer&);
    const Step configure = [](CRecMixer& m) { m.ConfigureSource(kLine, 50, true); };
    const Step select = [](CRecMixer& m) { m.SelectSource(kLine, true); };
    const struct {
        MixerOp op;
        Step step;
        std::string text;  // "" for the steps that raise the flag without a text
    } cases[] = {
        {MixerOp::Open, [](CRecMixer&) {}, "Could not open mixer device."},
        {MixerOp::Close, [](CRecMixer& m) { m.Close(); }, "Could not close mixer device."},
        {MixerOp::LineBySource, configure, ""},
        {MixerOp::VolumeControl, configure, "Could not get recording mixer volume control."},
        {MixerOp::SetVolume, configure, "Could not set recording mixer volume details."},
        {MixerOp::LineByType, select, "Could not get mixer line information."},
        {MixerOp::SelectorControl, select, "Could not get mixer controls."},
        {MixerOp::ListText, select, "Could not get mixer control details."},
        {MixerOp::LineById, select, ""},
        {MixerOp::GetValues, select, "Could not get mixer control details."},
        {MixerOp::SetValues, select, "Could not set mixer details"},
    };
    for (const auto& c : cases) {
        auto data = FakeMixerCard::Recording(kMixer, {Src(kMic, "Mic"), Src(kLine, "Line", false)});
        data.failing.insert(c.op);
        Rig rig(std::move(data));
        c.step(rig.mixer);
        EXPECT_EQ(rig.mixer.GetErrorFlag(), 1) << c.text;
        EXPECT_EQ(rig.Text(), c.text);
        // A failed step never switches a source.
        EXPECT_EQ(rig.card->SelectedTypes(), std::vector<uint32_t>{kMic}) << c.text;
    }

    // A selector claiming an impossible number of items: its lists are not made.
    auto data = FakeMixerCard::Recording(kMixer, {Src(kLine, "Line", false)});
    data.nClaimedItems = 0x10000000;
    Rig claimed(std::move(data));
    claimed.mixer.SelectSource(kLine, true);
    EXPECT_EQ(claimed.Text(), "No controls exist in mixer.");

    Rig closed(FakeMixerCard::Recording(kMixer, {Src(kLine, "Line")}), false);
    closed.mixer.SelectSource(kLine, true);
    EXPECT_EQ(closed.Text(), "Could not continue because there is no open mixer device.");
}

// No source of the three, a source whose lines cannot be read, whose volume cannot be found or
// set, or a mixer that is not open: none of these may end as "set up using the Line-In input
// device", nor switch a source; the recording view of the capture device's card opens instead.
TEST(RecMixer, AFailedStepNeverEndsAsAConfiguredSource) {
    const std::vector<FakeMixerSource> three = {Src(kLine, "Line", false), Src(kAux, "Aux", false),
                                                Src(kMic, "Mic", false)};
    const std::pair<std::vector<FakeMixerSource>, std::optional<MixerOp>> cases[] = {
        {{Src(kCD, "CD")}, {}},
        {three, MixerOp::Open},
        {three, MixerOp::LineBySource},
        {three, MixerOp::VolumeControl},
        {three, MixerOp::SetVolume}};
    for (const auto& [sources, op] : cases) {
        SCOPED_TRACE(op ? int(*op) : -1);
        auto data = FakeMixerCard::Recording(kMixer, sources);
        if (op) data.failing.insert(*op);
        Rig rig(std::move(data));
        const auto selected = rig.card->SelectedTypes();
        rig.mixer.AutoConfigure();
        EXPECT_EQ(rig.Text(), kManual);
        EXPECT_EQ(rig.host.launches,
                  std::vector<Launch>({{MixerView::Recording, 0xFFFFFFFFu, "hw:3"}}));
        EXPECT_TRUE(rig.host.messages.empty());
        EXPECT_EQ(rig.card->SelectedTypes(), selected);
    }
}

// Left to the user, the text names the program that opens and where: a card with no source of
// the three on its recording view; a recording destination with no source lines (a sound
// server's device, as ALSA's "pulse" shows it) where a program's input is chosen. With no
// program the text says what to install, and nothing is started.
TEST(RecMixer, LeftToTheUserTheTextNamesWhatOpens) {
    using K = VolumeControlKind;
    const struct {
        K kind;
        bool bServer;
        const char* szSays;
        const char* szNotSays;
    } cases[] = {
        {K::Graphical, false, "the volume control opens on its Input Devices tab", "alsamixer"},
        {K::Terminal, false, "alsamixer opens in a terminal window, on the card's capture", "tab"},
        {K::Graphical, true, "the volume control opens on its Recording tab", "alsamixer"},
        {K::Terminal, true, "alsamixer opens in a terminal window, on the device's capture",
         "Recording tab"},
        {K::None, false, "Install pavucontrol", "When you close"},
        {K::None, true, "Install pavucontrol", "When you close"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.szSays);
        Rig rig(FakeMixerCard::Recording(
            kMixer, c.bServer ? std::vector<FakeMixerSource>{} : std::vector{Src(kCD, "CD")}));
        rig.host.kind = c.kind;
        rig.mixer.AutoConfigure();
        EXPECT_NE(rig.mixer.GetErrorFlag(), 0);
        EXPECT_NE(rig.Text().find(c.bServer ? "offers one master capture control"
                                            : "You must do it manually."),
                  std::string::npos);
        EXPECT_NE(rig.Text().find(c.szSays), std::string::npos) << rig.Text();
        EXPECT_EQ(rig.Text().find(c.szNotSays), std::string::npos) << rig.Text();
        const MixerView view = c.bServer ? MixerView::Streams : MixerView::Recording;
        EXPECT_EQ(rig.host.launches, c.kind == K::None
                                         ? std::vector<Launch>{}
                                         : std::vector<Launch>({{view, 0xFFFFFFFFu, "hw:3"}}));
        EXPECT_TRUE(rig.host.messages.empty());
    }
}

TEST(RecMixer, VolumeGoesToTheRecordingDestinationWhateverItsIndex) {
    FakeMixerCard data;
    data.destinations.push_back({MIXERLINE_COMPONENTTYPE_DST_WAVEIN, kMixer, {Src(kLine, "Line")}});
    data.destinations.push_back({MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 0, {Src(kLine, "Line")}});
    Rig rig(std::move(data));
    rig.mixer.AutoConfigure();
    EXPECT_EQ(rig.card->destinations[0].sources[0].volume, (std::vector<uint32_t>{32750, 32750}));
    EXPECT_TRUE(rig.card->destinations[1].sources[0].volume.empty());
    EXPECT_EQ(rig.host.messages, std::vector<std::string>{SetUpText("Line-In")});
}

TEST(MixerNames, ElementNamesAndCaptureDevices) {
    const std::pair<const char*, uint32_t> names[] = {
        {"Line", kLine},
        {"Line2 Capture", kLine},
        {"Aux", kAux},
        {"Front Mic", kMic},
        {"Digital Mic", kMic},
        {"CD", kCD},
        {"Phone", MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE},
        {"Headphone", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
        {"PC Speaker", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"IEC958 In", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"S/PDIF", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"Synth", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER},
        {"Analog Mix", kAnalog},
        {"PCM", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"Capture", MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED},
    };
    for (const auto& [name, type] : names) EXPECT_EQ(SourceTypeForName(name), type) << name;

    EXPECT_EQ(AlsaControlForDevice("HDA Intel PCH: ALC892 Analog (hw:0,0)"), "hw:0");
    EXPECT_EQ(AlsaControlForDevice("USB Audio CODEC: - (hw:12,1)"), "hw:12");
    EXPECT_EQ(AlsaControlForDevice("pulse"), "pulse");
}

}  // namespace
