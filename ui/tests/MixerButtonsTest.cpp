// The three mixer buttons of the real window, offscreen, on the scripted capture backend and a
// fake card: the capture-device check and its messages, the volume-control program's view and
// device, the Auto-Config outcomes in their boxes, and which program the desktop starts.
#include <QAbstractButton>
#include <QTemporaryDir>

#include "audio/capture/TestCaptureBackend.h"
#include "audio/mixer/FakeMixerBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/MixerButtons.h"
#include "ui/RecorderDlg.h"
#include "ui/tests/MixerTestSupport.h"
#include "ui/tests/TestSupport.h"

namespace {
const char* const kApp = "Vellistro";
constexpr uint32_t kDefaultDevice = 0xFFFFFFFFu;

FakeMixerSource Src(uint32_t type, const char* name) {
    FakeMixerSource source;
    source.nType = type;
    source.strName = name;
    return source;
}

// The window with a scripted capture device, a fake card and a launch log.
struct Window {
    explicit Window(FakeMixerCard data)
        : card(std::make_shared<FakeMixerCard>(std::move(data))),
          dlg(std::make_unique<CTestCaptureBackend>(), profile) {
        dlg.GetMixerButtons().SetMixerBackendFactory([this] { return MakeFakeMixerBackend(card); });
        dlg.GetMixerButtons().SetVolumeControl(&program);
        program.pCatcher = &catcher;
    }
    CTestCaptureBackend& Capture() {
        return *static_cast<CTestCaptureBackend*>(dlg.GetControl().GetWaveIn().GetBackend());
    }
    void Click(int id) { static_cast<QAbstractButton*>(dlg.GetItem(id))->click(); }

    std::shared_ptr<FakeMixerCard> card;
    CMemoryProfileStore profile;
    CRecorderDlg dlg;
    LaunchLog program;
    BoxCatcher catcher;
};

FakeMixerCard LineCard() {
    return FakeMixerCard::Recording(MIXERCONTROL_CONTROLTYPE_MIXER,
                                    {Src(MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE, "Mic"),
                                     Src(MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line")});
}
}  // namespace

class MixerButtonsTest : public QObject {
    Q_OBJECT

private slots:
    void programButtonsCheckTheDeviceAndOpenTheirView() {
        Window w(LineCard());
        w.Click(IDC_RECMIXER);
        w.Click(IDC_PLAYMIXER);
        QCOMPARE(w.program.launches, (std::vector<Launch>{{MixerView::Recording, kDefaultDevice},
                                                          {MixerView::Playback, kDefaultDevice}}));
        QCOMPARE(w.Capture().CallCount(TestOp::Open), 2);
        QCOMPARE(w.Capture().CallCount(TestOp::Close), 2);
        QVERIFY(w.catcher.boxes.isEmpty());
    }

    void aDeviceAlreadyOpenIsUsedAndLeftOpen() {
        Window w(LineCard());
        QCOMPARE(w.dlg.GetControl().GetWaveIn().OpenFormat(16, 44100, 2), 0);
        for (int id : {IDC_RECMIXER, IDC_PLAYMIXER, IDC_AUTOCONFIG}) w.Click(id);
        QCOMPARE(w.Capture().CallCount(TestOp::Open), 1);
        QCOMPARE(w.Capture().CallCount(TestOp::Close), 0);
        QVERIFY(w.dlg.GetControl().GetWaveIn().GetHandle());
        QCOMPARE(w.card->nOpens, 1);
        QCOMPARE(w.catcher.boxes,
                 QStringList{BoxCatcher::Box(kApp, QMessageBox::Warning,
                                             "Your recording mixer has been automatically set up "
                                             "using the Line-In input device.")});
    }

    void aDeviceThatCannotOpenIsReported() {
        Window w(LineCard());
        w.Capture().FailAt(TestOp::Open);
        w.Click(IDC_RECMIXER);
        QVERIFY(w.program.launches.empty());
        w.program.kind = VolumeControlKind::Terminal;
        w.Click(IDC_AUTOCONFIG);
        // Auto-Config promises the mixer, and opens it without a second device check.
        QCOMPARE(w.catcher.boxes,
                 (QStringList{
                     BoxCatcher::Box(kApp, QMessageBox::Warning, "Problem opening WAVEIN device."),
                     BoxCatcher::Box(kApp, QMessageBox::Warning,
                                     "Vellisto could not automatically configure your "
                                     "recording mixer.\n\nWhen you close this box, the terminal "
                                     "mixer alsamixer opens in a terminal window, on the card's "
                                     "capture controls, for you to choose the input and set its "
                                     "level.")}));
        QCOMPARE(w.program.launches, (std::vector<Launch>{{MixerView::Recording, kDefaultDevice}}));
        QCOMPARE(w.program.boxesBefore, std::vector<qsizetype>{2});
        QCOMPARE(w.card->nOpens, 0);
    }

    void autoConfigFailuresShowTheMixersTextTitledError() {
        for (VolumeControlKind kind : {VolumeControlKind::Terminal, VolumeControlKind::None}) {
            Window none(
                FakeMixerCard::Recording(MIXERCONTROL_CONTROLTYPE_MIXER,
                                         {Src(MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC, "CD")}));
            none.program.kind = kind;
            none.Click(IDC_AUTOCONFIG);
            // One box, naming the program that opens or what to install.
            QCOMPARE(none.catcher.boxes.size(), 1);
            QVERIFY(none.catcher.boxes[0].startsWith(BoxCatcher::Box(
                "Error", QMessageBox::NoIcon,
                "Could not Set Volume level on record mixer.\nYou must do it manually.")));
            if (kind == VolumeControlKind::None) {
                QVERIFY(none.catcher.boxes[0].contains("Install pavucontrol"));
                QVERIFY(none.program.launches.empty());
                continue;
            }
            QVERIFY(none.catcher.boxes[0].contains("alsamixer opens in a terminal window"));
            QCOMPARE(none.program.launches,
                     (std::vector<Launch>{{MixerView::Recording, kDefaultDevice}}));
            // Started once the box was answered: its window does not cover the box.
            QCOMPARE(none.program.boxesBefore, std::vector<qsizetype>{1});
            QVERIFY(!none.card->bOpen);
            QVERIFY(!none.dlg.GetControl().GetWaveIn().GetHandle());
        }

        auto data = LineCard();
        data.failing.insert(MixerOp::Open);
        Window unopened(std::move(data));
        unopened.Click(IDC_AUTOCONFIG);
        QCOMPARE(unopened.catcher.boxes,
                 QStringList{BoxCatcher::Box("Error", QMessageBox::NoIcon,
                                             "Could not open mixer device.")});
        QVERIFY(unopened.program.launches.empty());
    }

    void noProgramNamesThePackagesThatProvideOne() {
        Window w(LineCard());
        w.program.bStarts = false;
        w.Click(IDC_PLAYMIXER);
        QCOMPARE(w.catcher.boxes,
                 QStringList{BoxCatcher::Box(
                     kApp, QMessageBox::Warning,
                     "No volume-control program could be started.\nInstall pavucontrol, or "
                     "alsa-utils (alsamixer) together with a terminal emulator such as xterm.")});
    }

    void theDesktopProgramPrefersPavucontrolThenAlsamixerInATerminal() {
        const QByteArray path = qgetenv("PATH");
        QTemporaryDir bin;
        qputenv("PATH", bin.path().toLocal8Bit());
        CVolumeControlProgram program;
        QCOMPARE(program.Kind(), VolumeControlKind::None);
        QVERIFY(!program.Open(MixerView::Recording, kDefaultDevice, ""));

        WriteStubProgram(bin.path(), "x-terminal-emulator");
        QCOMPARE(program.Kind(), VolumeControlKind::None);
        WriteStubProgram(bin.path(), "alsamixer");
        QCOMPARE(program.Kind(), VolumeControlKind::Terminal);
        QVERIFY(program.Open(MixerView::Playback, 1, "hw:1"));
        QCOMPARE(StubArguments(bin.path(), "x-terminal-emulator"),
                 (QStringList{"-e", bin.path() + "/alsamixer", "-D", "hw:1", "-V", "playback"}));

        WriteStubProgram(bin.path(), "pavucontrol");
        QCOMPARE(program.Kind(), VolumeControlKind::Graphical);
        QVERIFY(program.Open(MixerView::Recording, kDefaultDevice, "default"));
        QCOMPARE(StubArguments(bin.path(), "pavucontrol"), QStringList{"--tab=4"});
        QVERIFY(QFile::remove(bin.path() + "/pavucontrol.log"));
        QVERIFY(program.Open(MixerView::Streams, kDefaultDevice, "default"));
        QCOMPARE(StubArguments(bin.path(), "pavucontrol"), QStringList{"--tab=2"});
        qputenv("PATH", path);
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<MixerButtonsTest>(argc, argv); }

#include "MixerButtonsTest.moc"
