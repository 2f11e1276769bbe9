// Ctrl+S from another application, on a real X server (run_under_xvfb.sh starts one).
#include <xcb/xcb.h>

#include <QAbstractButton>
#include <QProcess>

#include "audio/capture/FileCaptureBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/CustomDlg.h"
#include "ui/GlobalHotKey.h"
#include "ui/RecorderDlg.h"
#include "ui/tests/TestSupport.h"

namespace {
// Another client's grab of Ctrl+S on the root window, as a desktop's own shortcut would take it.
class COtherClientGrab {
public:
    COtherClientGrab() : m_pConnection(xcb_connect(nullptr, nullptr)) {}
    // Lets go before disconnecting, with a round trip, so that the key is free for whatever
    // this process asks next: a closed connection is cleaned up whenever the server gets to it.
    ~COtherClientGrab() {
        if (m_nCode) {
            free(xcb_request_check(
                m_pConnection,
                xcb_ungrab_key_checked(m_pConnection, m_nCode, m_root, XCB_MOD_MASK_CONTROL)));
        }
        xcb_disconnect(m_pConnection);
    }
    // False when someone else holds the key (or there is no 's' on the keyboard).
    bool Grab() {
        if (!m_pConnection || xcb_connection_has_error(m_pConnection)) return false;
        const xcb_setup_t* setup = xcb_get_setup(m_pConnection);
        const xcb_window_t root = xcb_setup_roots_iterator(setup).data->root;
        for (int code = setup->min_keycode; code <= setup->max_keycode; ++code) {
            auto* map = xcb_get_keyboard_mapping_reply(
                m_pConnection, xcb_get_keyboard_mapping(m_pConnection, xcb_keycode_t(code), 1),
                nullptr);
            const bool isS = map && xcb_get_keyboard_mapping_keysyms(map)[0] == 's';
            free(map);
            if (!isS) continue;
            xcb_generic_error_t* error = xcb_request_check(
                m_pConnection, xcb_grab_key_checked(m_pConnection, 1, root, XCB_MOD_MASK_CONTROL,
                                                    xcb_keycode_t(code), XCB_GRAB_MODE_ASYNC,
                                                    XCB_GRAB_MODE_ASYNC));
            const bool refused = error != nullptr;
            free(error);
            if (refused) return false;
            m_root = root;
            m_nCode = xcb_keycode_t(code);
            return true;
        }
        return false;
    }

private:
    xcb_connection_t* m_pConnection;
    xcb_window_t m_root = 0;
    xcb_keycode_t m_nCode = 0;
};

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
        COtherClientGrab other;
        QVERIFY(other.Grab());
        {
            CMemoryProfileStore profile;
            CRecorderDlg dlg(MakeFileCaptureBackend("none.wav", FilePacing::RealTime), profile);
            QVERIFY(!dlg.HasGlobalHotKey());
            CGlobalHotKey again;
            QVERIFY(!again.RegisterCtrlKey('s'));
            QVERIFY(again.GetFailure().contains(QStringLiteral("another program")));
            dlg.OnOK();
        }
    }

    // Switched off, Ctrl+S is left to the other applications (another client can take it);
    // Custom Settings switches it back on, and the profile keeps that.
    void switchedOffLeavesCtrlSToOtherApplications() {
        CMemoryProfileStore profile;
        profile.WriteProfileInt("Version 1", "Global Ctrl+S", 0);
        CRecorderDlg dlg(MakeFileCaptureBackend("none.wav", FilePacing::RealTime), profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowExposed(&dlg));
        QVERIFY(!dlg.HasGlobalHotKey());
        QVERIFY(COtherClientGrab().Grab());
        OnNextModal(&dlg, [](QWidget* modal) {
            auto* custom = qobject_cast<CCustomDlg*>(modal);
            QVERIFY(custom);
            auto* box =
                static_cast<QAbstractButton*>(custom->GetItem(CCustomDlg::IDC_GLOBALHOTKEY));
            QVERIFY(!box->isChecked());
            box->click();
            custom->accept();
        });
        dlg.OnCustomize();
        QVERIFY(dlg.HasGlobalHotKey());
        QVERIFY(!COtherClientGrab().Grab());
        dlg.OnOK();
        QCOMPARE(profile.GetProfileInt("Version 1", "Global Ctrl+S", 0), 1);
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
