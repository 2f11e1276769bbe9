// Ctrl+S from another application, on a real X server (run_under_xvfb.sh starts one).
#include <xcb/xcb.h>

#include <QProcess>

#include "FileCaptureBackend.h"
#include "GlobalHotKey.h"
#include "ProfileStore.h"
#include "RecorderDlg.h"
#include "RecordingControl.h"
#include "TestSupport.h"

namespace {
bool Xdotool(const QStringList& args, QString* output = nullptr) {
    QProcess p;
    p.start(QStringLiteral("xdotool"), args);
    if (!p.waitForFinished(10000) || p.exitCode() != 0) return false;
    if (output) *output = QString::fromLocal8Bit(p.readAllStandardOutput()).trimmed();
    return true;
}
}  // namespace

class HotKeyTest : public QObject {
    Q_OBJECT
    QProcess m_terminal;
    QString m_terminalWindow;

    void FocusTerminal() {
        QVERIFY(Xdotool({"windowfocus", "--sync", m_terminalWindow}));
        QTRY_VERIFY(QGuiApplication::focusWindow() == nullptr);
    }

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::platformName(), QStringLiteral("xcb"));
        m_terminal.start(QStringLiteral("xterm"), {"-e", "sleep 120"});
        QVERIFY(m_terminal.waitForStarted());
        QVERIFY(Xdotool({"search", "--sync", "--pid", QString::number(m_terminal.processId())},
                        &m_terminalWindow));
        m_terminalWindow = m_terminalWindow.section('\n', 0, 0);
        QVERIFY(!m_terminalWindow.isEmpty());
    }

    void cleanupTestCase() {
        m_terminal.kill();
        m_terminal.waitForFinished();
    }

    // Another client holds Ctrl+S (as a desktop's own shortcut would): the window keeps its own
    // shortcut and says why the grab failed.
    void grabHeldElsewhereFallsBackToWindowShortcut() {
        CGlobalHotKey probe;
        QVERIFY(probe.RegisterCtrlKey('s'));  // free at first
        probe.Unregister();
        xcb_connection_t* other = xcb_connect(nullptr, nullptr);
        QVERIFY(other && !xcb_connection_has_error(other));
        const xcb_setup_t* setup = xcb_get_setup(other);
        const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
        bool grabbed = false;
        for (int code = setup->min_keycode; code <= setup->max_keycode && !grabbed; ++code) {
            auto* map = xcb_get_keyboard_mapping_reply(
                other, xcb_get_keyboard_mapping(other, xcb_keycode_t(code), 1), nullptr);
            if (map && xcb_get_keyboard_mapping_keysyms(map)[0] == 's') {
                xcb_request_check(other,
                                  xcb_grab_key_checked(other, 1, root, XCB_MOD_MASK_CONTROL, code,
                                                       XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
                grabbed = true;
            }
            free(map);
        }
        QVERIFY(grabbed);
        {
            CMemoryProfileStore profile;
            CRecorderDlg dlg(MakeFileCaptureBackend("none.wav", FilePacing::RealTime), profile);
            QVERIFY(!dlg.HasGlobalHotKey());
            CGlobalHotKey again;
            QVERIFY(!again.RegisterCtrlKey('s'));
            QVERIFY(again.GetFailure().contains(QStringLiteral("another program")));
            dlg.OnOK();
        }
        xcb_disconnect(other);
    }

    // With an xterm holding the focus, the key starts a recording and brings the window
    // forward; the next press (with Caps Lock on) stops it.
    void ctrlSFromAnotherApplicationTogglesRecording() {
        WriteWav(Path("in.wav"), {-30.0});
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("Hot.wav").toStdString());
        CRecorderDlg dlg(MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::RealTime),
                         profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY2(dlg.HasGlobalHotKey(), "the grab failed");
        FocusTerminal();
        QVERIFY(Xdotool({"key", "ctrl+s"}));
        QTRY_VERIFY(dlg.GetControl().IsRecording());
        QTRY_VERIFY(dlg.isActiveWindow());
        QTRY_VERIFY(dlg.GetControl().GetTotalBytes() > 0);
        FocusTerminal();
        QVERIFY(Xdotool({"key", "Caps_Lock"}));
        QVERIFY(Xdotool({"key", "ctrl+s"}));
        QTRY_VERIFY(!dlg.GetControl().IsRecording());
        QVERIFY(Xdotool({"key", "Caps_Lock"}));
        QVERIFY(FinishedDataBytes(Path("Hot1.wav")) > 0);
        dlg.OnOK();
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<HotKeyTest>(argc, argv); }

#include "HotKeyTest.moc"
