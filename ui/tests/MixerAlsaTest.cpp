// The mixer on a real ALSA control device without sound hardware: a private PulseAudio daemon
// with a null sink, reached through ALSA's "pulse" plugin (ALSA_CONFIG_PATH names
// mixer_pulse_alsa.conf, which makes it the default device too). That card offers only a
// master "Capture": the ALSA backend must see it and set its volume (read back with amixer),
// and Auto-Config, pressed in the window with the capture device on PortAudio, must end on the
// manual path with the volume-control program started (a stand-in on PATH).
#include <signal.h>
#include <sys/prctl.h>

#include <QAbstractButton>
#include <QComboBox>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>

#include "audio/capture/CaptureBackend.h"
#include "audio/mixer/MixerBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/CustomDlg.h"
#include "ui/RecorderDlg.h"
#include "ui/tests/MixerTestSupport.h"
#include "ui/tests/TestSupport.h"

class MixerAlsaTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        const QString pulseaudio = QStandardPaths::findExecutable(QStringLiteral("pulseaudio"));
        if (pulseaudio.isEmpty()) QSKIP("pulseaudio is not installed (scripts/install-deps.sh)");
        QVERIFY2(!QStandardPaths::findExecutable(QStringLiteral("amixer")).isEmpty(),
                 "amixer (alsa-utils) is missing");
        QVERIFY(m_runtime.isValid());
        // Clients find the daemon's socket under XDG_RUNTIME_DIR; its cookie goes in its HOME.
        qputenv("XDG_RUNTIME_DIR", m_runtime.path().toLocal8Bit());
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(QStringLiteral("HOME"), m_runtime.path());
        m_daemon.setProcessEnvironment(env);
        // The daemon goes with this process, however it ends.
        m_daemon.setChildProcessModifier([] { prctl(PR_SET_PDEATHSIG, SIGTERM); });
        // As root it only warns; no --system is needed for a private daemon.
        m_daemon.start(pulseaudio, {"-n", "--daemonize=no", "--exit-idle-time=-1",
                                    "--use-pid-file=no", "--log-target=stderr", "--log-level=error",
                                    "-L", "module-null-sink sink_name=vsink rate=44100 channels=2",
                                    "-L", "module-native-protocol-unix auth-anonymous=1"});
        if (!m_daemon.waitForStarted()) QSKIP("the PulseAudio daemon cannot be started");
        const QString socket = m_runtime.path() + "/pulse/native";
        QDeadlineTimer deadline(30000);
        while (!Answers(socket)) {
            if (m_daemon.state() == QProcess::NotRunning) {
                const QByteArray why = m_daemon.readAllStandardError();
                QSKIP(qPrintable("the PulseAudio daemon cannot run here: " + why));
            }
            QVERIFY2(!deadline.hasExpired(), "the PulseAudio daemon never answered");
            QTest::qWait(20);
        }
    }

    void cleanupTestCase() {
        if (m_daemon.state() == QProcess::NotRunning) return;
        m_daemon.terminate();
        if (!m_daemon.waitForFinished(10000)) m_daemon.kill();
    }

    void backendSeesTheCaptureSideAndSetsItsVolume() {
        auto backend = MakeAlsaMixerBackend();
        QVERIFY(!backend->Open("no-such-card"));
        QVERIFY(backend->Open("pulse"));
        MixerLineInfo destination;
        QVERIFY(backend->GetLineInfoByType(MIXERLINE_COMPONENTTYPE_DST_WAVEIN, &destination));
        QCOMPARE(destination.szName, "Capture");
        QCOMPARE(destination.nChannels, 2u);
        QCOMPARE(destination.nConnections, 0u);  // no source lines, so no selector either
        MixerControlInfo control;
        QVERIFY(!backend->GetLineControl(destination.nLineID, MIXERCONTROL_CONTROLTYPE_MIXER,
                                         &control));
        QVERIFY(
            !backend->GetLineControl(destination.nLineID, MIXERCONTROL_CONTROLTYPE_MUX, &control));
        QVERIFY(backend->GetLineControl(destination.nLineID, MIXERCONTROL_CONTROLTYPE_VOLUME,
                                        &control));
        // The element's range is 0 to 65,536: 65,535 is its top, 32,750 rounds to itself.
        for (const auto& [set, expected] : {std::pair{32750u, 32750}, {65535u, 65536}, {0u, 0}}) {
            const uint32_t values[] = {set, set};
            QVERIFY(backend->SetUnsigned(control, values));
            QCOMPARE(CaptureVolumes(), (QList<int>{expected, expected}));
        }
        QVERIFY(backend->Close());
    }

    void autoConfigOnASoundServerSaysWhyAndOpensTheRecordingTab() {
        QTemporaryDir bin;
        WriteStubProgram(bin.path(), "pavucontrol");
        const QByteArray path = qgetenv("PATH");
        qputenv("PATH", bin.path().toLocal8Bit() + ':' + path);
        {
            CMemoryProfileStore profile;  // the system default capture device
            CRecorderDlg dlg(MakePortAudioBackend(), profile);
            BoxCatcher catcher;
            static_cast<QAbstractButton*>(dlg.GetItem(IDC_AUTOCONFIG))->click();
            // The sound server's one master control: why nothing was set, and the tab where a
            // program's input is chosen.
            QCOMPARE(catcher.boxes.size(), 1);
            QVERIFY(catcher.boxes[0].contains("offers one master capture control"));
            QVERIFY(catcher.boxes[0].contains("chosen for each program"));
            QCOMPARE(StubArguments(bin.path(), "pavucontrol"), QStringList{"--tab=2"});
            QVERIFY(!dlg.GetControl().GetWaveIn().GetHandle());
        }
        qputenv("PATH", path);
    }

    // PortAudio lists the sound server as "pulse" and again as "default": the device box shows it
    // once, as "System Default", selected for a fresh profile.
    void deviceBoxShowsTheSoundServerOnceAsSystemDefault() {
        CMemoryProfileStore profile;
        CRecorderDlg dlg(MakePortAudioBackend(), profile);
        QStringList entries;
        QString selected;
        OnNextModal(&dlg, [&](QWidget* modal) {
            auto* custom = qobject_cast<CCustomDlg*>(modal);
            QVERIFY(custom);
            auto* box = static_cast<QComboBox*>(custom->GetItem(CCustomDlg::IDC_DEVICE));
            for (int i = 0; i < box->count(); ++i) entries.append(box->itemText(i));
            selected = box->currentText();
            custom->reject();
        });
        dlg.OnCustomize();
        QCOMPARE(entries.count(QStringLiteral("System Default")), 1);
        QVERIFY2(!entries.contains(QStringLiteral("pulse")) &&
                     !entries.contains(QStringLiteral("default")),
                 qPrintable(entries.join(", ")));
        QCOMPARE(selected, QStringLiteral("System Default"));
        dlg.OnOK();
    }

private:
    // The daemon's socket is there and it answers a client.
    static bool Answers(const QString& socket) {
        if (!QFile::exists(socket)) return false;
        QProcess pactl;
        pactl.start(QStringLiteral("pactl"), {QStringLiteral("info")});
        return pactl.waitForFinished(5000) && pactl.exitStatus() == QProcess::NormalExit &&
               pactl.exitCode() == 0;
    }

    // The "Capture" volume of each channel as amixer reads it.
    static QList<int> CaptureVolumes() {
        QProcess amixer;
        amixer.start(QStringLiteral("amixer"), {"-D", "pulse", "sget", "Capture"});
        if (!amixer.waitForFinished(10000)) return {};
        QList<int> volumes;
        const QRegularExpression channel(QStringLiteral(": Capture (\\d+) \\["));
        auto it = channel.globalMatch(QString::fromLocal8Bit(amixer.readAllStandardOutput()));
        while (it.hasNext()) volumes.append(it.next().captured(1).toInt());
        return volumes;
    }

    QTemporaryDir m_runtime;
    QProcess m_daemon;
};

int main(int argc, char** argv) { return RunInTemporaryDir<MixerAlsaTest>(argc, argv); }

#include "MixerAlsaTest.moc"
