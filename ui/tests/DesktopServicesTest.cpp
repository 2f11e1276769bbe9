// The window's desktop services on a private D-Bus daemon that this test starts, serving as both
// the system and the session bus, with stand-ins for logind and the notification service on a
// connection of their own: the sleep inhibitor around every kind of ending, the notification
// of a side that ends in the background, and the folder the first base-file dialog opens in.
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <QDBusConnection>
#include <QDBusError>
#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusUnixFileDescriptor>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalSpy>
#include <QVariantMap>
#include <cstdio>
#include <vector>

#include "audio/capture/TestCaptureBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/DesktopNotifier.h"
#include "ui/RecorderDlg.h"
#include "ui/SleepInhibitor.h"
#include "ui/tests/TestSupport.h"

namespace {
constexpr uint64_t kSecond = uint64_t(kBytesPerSecond);
const QString kLogind = QStringLiteral("org.freedesktop.login1");
const QString kNotifications = QStringLiteral("org.freedesktop.Notifications");

// Stands in for logind's Inhibit: hands out the write end of a pipe and keeps the read end, so
// that the lock counts as held exactly while some copy of the write end is open.
class CFakeLogind : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.login1.Manager")

public:
    ~CFakeLogind() override {
        for (int fd : m_readEnds) ::close(fd);
    }
    int Held() const {
        int held = 0;
        for (int fd : m_readEnds) {
            pollfd p{fd, POLLIN, 0};
            if (::poll(&p, 1, 0) == 0) ++held;  // no hang-up yet: a writer is still open
        }
        return held;
    }
    QStringList calls;

public slots:
    QDBusUnixFileDescriptor Inhibit(const QString& what, const QString& who, const QString& why,
                                    const QString& mode) {
        calls.append(QStringList{what, who, why, mode}.join('|'));
        int ends[2];
        if (::pipe(ends) != 0) return {};
        m_readEnds.push_back(ends[0]);
        QDBusUnixFileDescriptor fd(ends[1]);  // a copy
        ::close(ends[1]);
        return fd;
    }

private:
    std::vector<int> m_readEnds;
};

class CFakeNotifications : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

public:
    QStringList shown;  // "summary: body"
    QVariantMap lastHints;

public slots:
    uint Notify(const QString& app, uint replaces, const QString& icon, const QString& summary,
                const QString& body, const QStringList& actions, const QVariantMap& hints,
                int timeout) {
        Q_UNUSED(replaces);
        Q_UNUSED(icon);
        Q_UNUSED(actions);
        Q_UNUSED(timeout);
        if (app == "Vellisto") shown.append(summary + ": " + body);
        lastHints = hints;
        return uint(shown.size());
    }
    void Flush() {}
};

QString g_busAddress;
int g_busPid = 0;

// A 440 Hz tone at -12 dBFS (16-bit stereo) for the first toneBytes, silence after them; a
// second tone from `againAt` on.
CTestCaptureBackend::Generator Tone(uint64_t toneBytes, uint64_t againAt = UINT64_MAX) {
    return [=](uint64_t offset, uint8_t* dest, uint32_t n) {
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t b = offset + i;
            const uint64_t frame = b / 4;
            const bool tone = b < toneBytes || b >= againAt;
            const auto v = uint16_t(
                tone ? int16_t(8000 * std::sin(2 * M_PI * 440 * double(frame) / kRate)) : 0);
            dest[i] = uint8_t(b % 2 == 0 ? v & 0xFF : v >> 8);
        }
    };
}

// A call to the notification stand-in that does nothing: sent on the window's session
// connection, its answer comes after everything the window sent before it was handled.
QDBusMessage FlushCall() {
    return QDBusMessage::createMethodCall(kNotifications, "/org/freedesktop/Notifications",
                                          kNotifications, "Flush");
}

// Answers every message box as it shows, noting what logind and the notification service had
// seen by the first.
class CBoxAnswerer : public QObject {
public:
    CBoxAnswerer(QWidget* window, const CFakeLogind& logind, const CFakeNotifications& shown) {
        m_timer.setInterval(10);
        connect(&m_timer, &QTimer::timeout, this, [this, window, &logind, &shown] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || box == window) return;
            if (heldAtFirst < 0) {
                heldAtFirst = logind.Held();
                auto* watcher = new QDBusPendingCallWatcher(
                    QDBusConnection::sessionBus().asyncCall(FlushCall()), this);
                connect(watcher, &QDBusPendingCallWatcher::finished, this,
                        [this, &shown] { notifiedAtFirst = int(shown.shown.size()); });
            }
            if (notifiedAtFirst < 0) return;
            boxes.append(box->text());
            box->accept();
        });
        m_timer.start();
    }
    QStringList boxes;
    int heldAtFirst = -1;
    int notifiedAtFirst = -1;

private:
    QTimer m_timer;
};
}  // namespace

class DesktopServicesTest : public QObject {
    Q_OBJECT

    QDBusConnection m_standIns{QStringLiteral("stand-ins")};
    CFakeLogind m_logind;
    CFakeNotifications m_notifications;

    void Register(bool on) {
        for (const auto& [name, path, object] :
             {std::tuple<QString, QString, QObject*>{kLogind, "/org/freedesktop/login1", &m_logind},
              {kNotifications, "/org/freedesktop/Notifications", &m_notifications}}) {
            if (on) {
                QVERIFY(m_standIns.registerObject(path, object, QDBusConnection::ExportAllSlots));
                QVERIFY(m_standIns.registerService(name));
            } else {
                m_standIns.unregisterObject(path);
                QVERIFY(m_standIns.unregisterService(name));
            }
        }
    }

private slots:
    void initTestCase() {
        m_standIns = QDBusConnection::connectToBus(g_busAddress, QStringLiteral("stand-ins"));
        QVERIFY2(m_standIns.isConnected(), qPrintable(m_standIns.lastError().message()));
        Register(true);
    }

    void init() {
        QDir dir(g_workDir);
        for (const QString& name : dir.entryList(QDir::Files)) dir.remove(name);
        QDir(Path("SideA2.wav")).removeRecursively();
        m_logind.calls.clear();
        m_notifications.shown.clear();
    }

    void inhibitorAndNotificationAroundEveryEnding_data() {
        QTest::addColumn<QString>("ending");
        QTest::addColumn<bool>("background");
        QTest::addColumn<QString>("notification");
        QTest::newRow("Stop, window active") << "stop" << false << "";
        QTest::newRow("Stop after an overrun, in the background")
            << "overrun" << true
            << "Side done, audio lost: The side is done, but audio was lost: 1 song file "
               "written. Vellisto's window names the files it is missing from.";
        QTest::newRow("End Gap, in the background")
            << "endgap" << true << "Side done: The side is done: 1 song file written.";
        QTest::newRow("device failure, in the background")
            << "device" << true
            << "Recording stopped: The recording stopped before the end of the side: 1 song "
               "file written. Vellisto's window says why.";
        QTest::newRow("Exit, in the background: leaving says nothing") << "exit" << true << "";
        QTest::newRow("write failure, window active") << "write" << false << "";
        QTest::newRow("write failure, in the background")
            << "write" << true
            << "Recording stopped: The recording stopped before the end of the side: 1 song "
               "file written. Vellisto's window says why.";
    }

    void inhibitorAndNotificationAroundEveryEnding() {
        QFETCH(QString, ending);
        QFETCH(bool, background);
        QFETCH(QString, notification);
        auto backend = std::make_unique<CTestCaptureBackend>();
        CTestCaptureBackend& device = *backend;
        // The device pauses after two seconds: the recording runs on until logind has answered.
        device.StallAfter(2 * kSecond);
        if (ending == "stop" || ending == "overrun" || ending == "exit") {
            device.SetGeneratedSource(UINT64_MAX, Tone(UINT64_MAX));
        } else if (ending == "endgap") {
            device.SetGeneratedSource(UINT64_MAX, Tone(kSecond));
        } else if (ending == "device") {
            device.SetGeneratedSource(UINT64_MAX, Tone(UINT64_MAX));
            device.FailAfter(3 * kSecond);
        } else {
            device.SetGeneratedSource(UINT64_MAX, Tone(35 * kSecond, 37 * kSecond));
        }
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("SideA.wav").toStdString());
        CRecorderDlg dlg(std::move(backend), profile);
        dlg.show();
        QWidget other;
        if (background) {
            other.show();
            other.activateWindow();
            QTRY_VERIFY(!dlg.isActiveWindow());
        } else {
            QTRY_VERIFY(dlg.isActiveWindow());
        }

        CBoxAnswerer answerer(&dlg, m_logind, m_notifications);
        static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
        QVERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY(dlg.GetSleepInhibitor().IsHeld());
        QCOMPARE(m_logind.Held(), 1);
        QCOMPARE(m_logind.calls, QStringList{"sleep:idle|Vellisto|Recording a side|block"});
        if (ending == "overrun") device.ReportOverflow();
        if (ending == "stop" || ending == "overrun") {
            QTRY_COMPARE(device.GetBytesDelivered(), 2 * kSecond);
            static_cast<QPushButton*>(dlg.GetItem(IDC_STOP))->click();
        } else if (ending == "exit") {
            dlg.OnOK();
        } else {
            // The second song file cannot be created: a folder has its name.
            if (ending == "write") QVERIFY(QDir(g_workDir).mkpath("SideA2.wav"));
            device.Resume();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!dlg.GetControl().IsRecording(), 30000);
        QTRY_COMPARE(m_logind.Held(), 0);
        QVERIFY(!dlg.GetSleepInhibitor().IsHeld());
        const bool boxes = ending != "stop" && ending != "endgap" && ending != "exit";
        QCOMPARE(!answerer.boxes.isEmpty(), boxes);
        if (boxes) {
            // Let go, and the user told, before any box waits for an answer.
            QCOMPARE(answerer.heldAtFirst, 0);
            QCOMPARE(answerer.notifiedAtFirst, notification.isEmpty() ? 0 : 1);
        }
        // Whatever the window sent has arrived once a call sent after it has.
        QDBusPendingCall flush = QDBusConnection::sessionBus().asyncCall(FlushCall());
        QTRY_VERIFY(flush.isFinished());
        QCOMPARE(m_notifications.shown,
                 notification.isEmpty() ? QStringList() : QStringList{notification});
        if (!notification.isEmpty()) {
            QCOMPARE(m_notifications.lastHints.value("desktop-entry").toString(),
                     QStringLiteral("org.zelk.vellisto"));
        }
        QCOMPARE(m_logind.calls.size(), 1);
        dlg.OnOK();
    }

    // The answer may come after the recording ended, or not at all; neither leaves a lock.
    void inhibitorWithoutLogindOrAfterTheEnd() {
        CSleepInhibitor inhibitor(QDBusConnection::systemBus());
        QSignalSpy answers(&inhibitor, &CSleepInhibitor::Answered);
        inhibitor.Acquire();
        inhibitor.Release();
        QTRY_COMPARE(answers.size(), 1);
        QCOMPARE(answers.at(0).at(0).toBool(), false);
        QCOMPARE(m_logind.calls.size(), 1);
        QTRY_COMPARE(m_logind.Held(), 0);

        Register(false);
        inhibitor.Acquire();
        QTRY_COMPARE(answers.size(), 2);
        QCOMPARE(answers.at(1).at(0).toBool(), false);
        CSleepInhibitor noBus(QDBusConnection(QStringLiteral("never connected")));
        QSignalSpy none(&noBus, &CSleepInhibitor::Answered);
        noBus.Acquire();
        QCOMPARE(none.size(), 1);
        CDesktopNotifier(QDBusConnection(QStringLiteral("never connected"))).NotifySideDone({});
        // The window records and stops in the background as before.
        auto backend = std::make_unique<CTestCaptureBackend>();
        backend->SetGeneratedSource(UINT64_MAX, Tone(UINT64_MAX));
        backend->StallAfter(kSecond);
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("Solo.wav").toStdString());
        CRecorderDlg dlg(std::move(backend), profile);
        dlg.show();
        static_cast<QPushButton*>(dlg.GetItem(IDC_RECORD))->click();
        QVERIFY(dlg.GetControl().IsRecording());
        QSignalSpy windowAnswers(&dlg.GetSleepInhibitor(), &CSleepInhibitor::Answered);
        QTRY_COMPARE(windowAnswers.size(), 1);
        static_cast<QPushButton*>(dlg.GetItem(IDC_STOP))->click();
        QTRY_VERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(FinishedDataBytes(Path("Solo1.wav")) > 0);
        dlg.OnOK();
        Register(true);
    }

    // The first New of a run opens in the Music folder the desktop names, or at home when it is
    // missing; later ones in the folder of the base name chosen, while that folder exists.
    void baseFileDialogFolders() {
        const QString music = Path("Tunes");
        QVERIFY(QDir().mkpath(music));
        QVERIFY(QDir().mkpath(Path("cfg")));
        QVERIFY(QDir().mkpath(Path("other")));
        QFile dirs(Path("cfg/user-dirs.dirs"));
        QVERIFY(dirs.open(QIODevice::WriteOnly));
        dirs.write("XDG_MUSIC_DIR=\"" + music.toUtf8() + "\"\n");
        dirs.close();

        CMemoryProfileStore profile;
        CRecorderDlg dlg(std::make_unique<CTestCaptureBackend>(), profile);
        QStringList opened;
        auto choose = [&](CRecorderDlg& window, const QString& path) {
            ChooseNextFile(&window, path, nullptr, [&opened](QFileDialog* files) {
                opened.append(files->directory().absolutePath());
            });
            window.OnNew();
        };
        choose(dlg, QString());
        choose(dlg, Path("other/SideB.wav"));
        choose(dlg, QString());
        QVERIFY(QDir(Path("other")).removeRecursively());
        choose(dlg, QString());
        QVERIFY(QDir(music).removeRecursively());
        CRecorderDlg fresh(std::make_unique<CTestCaptureBackend>(), profile);
        choose(fresh, QString());
        QCOMPARE(opened, (QStringList{music, music, Path("other"), music, QDir::homePath()}));
        QFile::remove(Path("cfg/user-dirs.dirs"));
    }
};

// A private bus for the whole run, stopped at the end; both bus addresses point to it before
// anything in the process touches D-Bus.
int main(int argc, char** argv) {
    QTemporaryDir work;
    g_workDir = work.path();
    const QString config = Path("bus.conf");
    QFile file(config);
    if (!file.open(QIODevice::WriteOnly)) return 1;
    // A session bus without service activation: nothing of the machine's can answer.
    file.write(
        "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
        " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
        "<busconfig><type>session</type><listen>unix:tmpdir=/tmp</listen>"
        "<auth>EXTERNAL</auth><policy context=\"default\">"
        "<allow send_destination=\"*\" eavesdrop=\"true\"/><allow eavesdrop=\"true\"/>"
        "<allow own=\"*\"/></policy></busconfig>\n");
    file.close();
    const QByteArray command = "dbus-daemon --fork --print-address=1 --print-pid=1 --config-file=" +
                               QFile::encodeName(config);
    FILE* out = ::popen(command.constData(), "r");
    char address[512] = {}, pid[32] = {};
    const bool started =
        out && std::fgets(address, sizeof address, out) && std::fgets(pid, sizeof pid, out);
    if (out) ::pclose(out);
    if (!started) {
        std::fprintf(stderr, "cannot start dbus-daemon (package dbus-daemon)\n");
        return 1;
    }
    g_busAddress = QString::fromLocal8Bit(address).trimmed();
    g_busPid = QByteArray(pid).trimmed().toInt();
    qputenv("DBUS_SYSTEM_BUS_ADDRESS", g_busAddress.toLocal8Bit());
    qputenv("DBUS_SESSION_BUS_ADDRESS", g_busAddress.toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", Path("cfg").toLocal8Bit());
    qputenv("XDG_DATA_HOME", Path("data").toLocal8Bit());
    QDir::setCurrent(g_workDir);
    int result = 0;
    {
        QApplication app(argc, argv);
        DesktopServicesTest test;
        result = QTest::qExec(&test, argc, argv);
    }
    if (g_busPid > 0) ::kill(g_busPid, SIGTERM);
    return result;
}

#include "DesktopServicesTest.moc"
