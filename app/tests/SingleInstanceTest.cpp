// One recorder at a time, with the real program (VELLISTO_EXE) started next to an instance this
// test holds, and next to a real first start, which is then killed as a crash would end it.
#include <QLocalSocket>
#include <QProcess>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QtTest>

#include "app/SingleInstance.h"

class SingleInstanceTest : public QObject {
    Q_OBJECT

    QTemporaryDir m_dir;

    // The recorder with its runtime folder, profile and presets in the test's folder.
    void Start(QProcess& process) {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        env.insert("XDG_CONFIG_HOME", m_dir.filePath("cfg"));
        env.insert("XDG_DATA_HOME", m_dir.filePath("data"));
        env.insert("QT_QPA_PLATFORM", "offscreen");
        process.setProcessEnvironment(env);
        process.setWorkingDirectory(m_dir.path());
        process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        process.start(qEnvironmentVariable("VELLISTO_EXE"), {});
        QVERIFY(process.waitForStarted());
    }
    // Waits for the end while this process keeps answering on its socket.
    static void Finish(QProcess& process) {
        QTRY_VERIFY_WITH_TIMEOUT(process.state() == QProcess::NotRunning, 60000);
    }

    static bool Listens(const QString& path) {
        QLocalSocket socket;
        socket.connectToServer(path);
        return socket.waitForConnected(1000);
    }

private slots:
    void initTestCase() { QVERIFY(!qEnvironmentVariableIsEmpty("VELLISTO_EXE")); }

    void secondStartShowsTheFirstAndEnds() {
        CSingleInstance first(m_dir.path());
        QVERIFY(first.Claim());
        QSignalSpy shown(&first, &CSingleInstance::ShowRequested);
        QProcess second;
        Start(second);
        Finish(second);
        QCOMPARE(second.exitStatus(), QProcess::NormalExit);
        QCOMPARE(second.exitCode(), 0);
        QCOMPARE(shown.size(), 1);
        // It ended before its window: it wrote no settings.
        QVERIFY(!QFile::exists(m_dir.filePath("cfg")));
        // Someone else's message changes nothing.
        QLocalSocket stranger;
        stranger.connectToServer(first.GetSocketPath());
        QVERIFY(stranger.waitForConnected());
        stranger.write("quit\n");
        QTRY_VERIFY(stranger.state() == QLocalSocket::UnconnectedState);
        QCOMPARE(shown.size(), 1);
    }

    void crashedFirstStartDoesNotBlock() {
        QProcess crashed;
        Start(crashed);
        CSingleInstance probe(m_dir.path());
        // Its window is up once it listens.
        QTRY_VERIFY_WITH_TIMEOUT(Listens(probe.GetSocketPath()), 60000);
        QVERIFY(!probe.Claim());
        // A second start while it runs: its window answers.
        QProcess second;
        Start(second);
        Finish(second);
        QCOMPARE(second.exitCode(), 0);
        crashed.kill();
        Finish(crashed);
        QVERIFY(QFile::exists(probe.GetSocketPath()));  // left behind

        QVERIFY(probe.Claim());
        QSignalSpy shown(&probe, &CSingleInstance::ShowRequested);
        QProcess third;
        Start(third);
        Finish(third);
        QCOMPARE(third.exitCode(), 0);
        QCOMPARE(shown.size(), 1);
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "SingleInstanceTest.moc"
