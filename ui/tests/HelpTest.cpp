// Help and About, offscreen: the help window takes keys while the main window or the Custom
// Settings dialog is modal and while a recording runs; a help text that cannot be found makes
// Help do nothing, and is not looked for again; About shows the build's version.
#include <QLabel>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QWindow>

#include "AboutDlg.h"
#include "CustomDlg.h"
#include "FileCaptureBackend.h"
#include "HelpViewer.h"
#include "ProfileStore.h"
#include "RecorderDlg.h"
#include "RecordingControl.h"
#include "TestSupport.h"
#include "VellistoVersion.h"

namespace {

CHelpViewer* OpenViewer() {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (auto* viewer = qobject_cast<CHelpViewer*>(w); viewer && viewer->isVisible())
            return viewer;
    return nullptr;
}

// The help window shows the default topic and scrolls on a key sent to it as the window system
// sends keys: a window blocked by a modal dialog drops them.
void VerifyHelpTakesKeys(const char* when) {
    CHelpViewer* viewer = OpenViewer();
    QVERIFY(viewer);
    QVERIFY(viewer->GetBrowser()->source().path().endsWith("/index.md"));
    QVERIFY(viewer->GetBrowser()->toPlainText().startsWith("Vellisto Help"));
    QScrollBar* bar = viewer->GetBrowser()->verticalScrollBar();
    bar->setValue(0);
    QTest::keyClick(viewer->windowHandle(), Qt::Key_End);
    QVERIFY2(bar->value() > 0, when);
    viewer->close();
}

}  // namespace

class HelpTest : public QObject {
    Q_OBJECT

private slots:
    void init() { ResetHelp(); }
    void cleanup() { ResetHelp(); }

    void helpIsUsableWhileModalAndWhileRecording() {
        WriteWav(Path("in.wav"), {20.0});
        CMemoryProfileStore profile;
        profile.WriteProfileString("Version 1", "OutfileName0", Path("Help.wav").toStdString());
        CRecorderDlg dlg(MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::RealTime),
                         profile);
        bool checked = false;
        QTimer::singleShot(0, &dlg, [&] {
            // The main window is modal, as the application runs it: F1, then Help.
            QVERIFY(QTest::qWaitForWindowActive(&dlg));
            QTest::keyClick(&dlg, Qt::Key_F1);
            VerifyHelpTakesKeys("main window modal");
            // The Custom Settings dialog is modal over it: its Help button.
            OnNextModal(&dlg, [](QWidget* modal) {
                auto* custom = qobject_cast<CCustomDlg*>(modal);
                QVERIFY(custom);
                static_cast<QPushButton*>(custom->GetItem(CCustomDlg::IDC_HELP))->click();
                VerifyHelpTakesKeys("Custom Settings modal");
                custom->reject();
            });
            static_cast<QPushButton*>(dlg.GetItem(IDC_CUSTOMIZE))->click();
            // A recording runs: the main window's Help button.
            dlg.OnRecord();
            QVERIFY(dlg.GetControl().IsRecording());
            static_cast<QPushButton*>(dlg.GetItem(IDC_HELP))->click();
            VerifyHelpTakesKeys("recording");
            QVERIFY(dlg.GetControl().IsRecording());
            checked = true;
            dlg.OnOK();
        });
        dlg.exec();
        QVERIFY(checked);
    }

    void missingHelpDoesNothingAndIsNotLookedForAgain() {
        SetHelpFolderCandidates({Path("nohelp")});
        CMemoryProfileStore profile;
        CRecorderDlg dlg(
            MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::AsFastAsRead),
            profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QTest::keyClick(&dlg, Qt::Key_F1);
        QVERIFY(!OpenViewer());
        QVERIFY(QDir().mkpath(Path("nohelp")));
        QFile topic(Path("nohelp/index.md"));
        QVERIFY(topic.open(QIODevice::WriteOnly));
        topic.write("# Help\n");
        topic.close();
        static_cast<QPushButton*>(dlg.GetItem(IDC_HELP))->click();
        QVERIFY(!ShowHelp());
        QVERIFY(!OpenViewer());
        QVERIFY(!QApplication::activeModalWidget());
        dlg.OnOK();
    }

    void aboutFromTheHelpWindow() {
        CHelpViewer* viewer = ShowHelp();
        QVERIFY(viewer);
        viewer->OnAbout();
        auto* about = viewer->findChild<CAboutDlg*>();
        QVERIFY(about && about->isVisible());
        QCOMPARE(about->windowTitle(), QStringLiteral("About Zelk Vellisto"));
        QCOMPARE(about->windowModality(), Qt::WindowModal);
        QStringList texts;
        for (QLabel* label : about->findChildren<QLabel*>()) {
            if (!label->text().isEmpty())
                texts.append(label->text());
            else
                QVERIFY(!label->pixmap().isNull());  // the icon and the picture
        }
        QVERIFY(texts.contains(QStringLiteral("Vellisto Version " VELLISTO_VERSION)));
        QCOMPARE(texts.size(), 4);
        static_cast<QPushButton*>(about->findChild<QPushButton*>())->click();
        QTRY_VERIFY(!viewer->findChild<CAboutDlg*>());
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<HelpTest>(argc, argv); }

#include "HelpTest.moc"
