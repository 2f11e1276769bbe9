// Help and About, offscreen: the help window takes keys while the main window or the Custom
// Settings dialog is modal and while a recording runs; a help text that cannot be found is
// reported with where it was looked for and a way to About, and is not looked for again; About
// shows the build's version and is reachable from the main window's context menu.
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <QScrollBar>
#include <QTextBrowser>
#include <QWindow>

#include "VellistoVersion.h"
#include "audio/capture/FileCaptureBackend.h"
#include "engine/RecordingControl.h"
#include "settings/ProfileStore.h"
#include "ui/AboutDlg.h"
#include "ui/CustomDlg.h"
#include "ui/HelpViewer.h"
#include "ui/RecorderDlg.h"
#include "ui/tests/TestSupport.h"

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

    void missingHelpSaysWhereAndOffersAbout() {
        SetHelpFolderCandidates({Path("nohelp")});
        CMemoryProfileStore profile;
        CRecorderDlg dlg(
            MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::AsFastAsRead),
            profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QStringList seen;
        // Each request: the box, then About from its button (or OK).
        auto expectBox = [&](bool about) {
            OnNextModal(&dlg, [&seen, about](QWidget* modal) {
                auto* box = qobject_cast<QMessageBox*>(modal);
                QVERIFY(box);
                seen.append(box->text());
                QAbstractButton* button = box->button(QMessageBox::Ok);
                for (QAbstractButton* b : box->buttons())
                    if (b->text() == QStringLiteral("About Zelk Vellisto"))
                        button = about ? b : button;
                if (about) {
                    OnNextModal(box, [&seen](QWidget* next) {
                        seen.append(next->windowTitle());
                        static_cast<QDialog*>(next)->accept();
                    });
                }
                button->click();
            });
        };
        expectBox(true);
        QTest::keyClick(&dlg, Qt::Key_F1);
        QCOMPARE(seen, QStringList({"The help pages were not found. They were looked for in:\n" +
                                        Path("nohelp") +
                                        "\n\nInstalling the program again puts them back.",
                                    "About Zelk Vellisto"}));
        QVERIFY(!OpenViewer());

        // Not looked for again, though it is there now.
        QVERIFY(QDir().mkpath(Path("nohelp")));
        QFile topic(Path("nohelp/index.md"));
        QVERIFY(topic.open(QIODevice::WriteOnly));
        topic.write("# Help\n");
        topic.close();
        expectBox(false);
        static_cast<QPushButton*>(dlg.GetItem(IDC_HELP))->click();
        QCOMPARE(seen.size(), 3);
        QVERIFY(!OpenViewer());
        dlg.OnOK();
    }

    // An installed program looks beside its own folder, whatever the prefix; the source tree
    // only serves a program in its build folder.
    void helpIsLookedForBesideTheProgram() {
        QCOMPARE(HelpFolderCandidates(QStringLiteral("/opt/vellisto/bin")),
                 QStringList({"/opt/vellisto/share/vellisto/help"}));
        const QStringList fromBuild = HelpFolderCandidates(QCoreApplication::applicationDirPath());
        QCOMPARE(fromBuild.size(), 2);
        QVERIFY(fromBuild[1].endsWith("/docs/help"));
    }

    void aboutFromTheMainWindowsContextMenu() {
        CMemoryProfileStore profile;
        CRecorderDlg dlg(
            MakeFileCaptureBackend(Path("in.wav").toStdString(), FilePacing::AsFastAsRead),
            profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        QString about;
        OnNextModal(&dlg, [&about](QWidget* modal) {
            about = modal->windowTitle();
            static_cast<QDialog*>(modal)->accept();
        });
        // The menu runs a loop of its own: pick its entry from inside it.
        QStringList entries;
        auto* poll = new QTimer(&dlg);
        connect(poll, &QTimer::timeout, [poll, &entries] {
            auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
            if (!menu) return;
            poll->stop();
            for (QAction* action : menu->actions()) entries.append(action->text());
            menu->setActiveAction(menu->actions().value(0));
            QTest::keyClick(menu, Qt::Key_Return);
        });
        poll->start(10);
        QTest::mouseClick(dlg.windowHandle(), Qt::RightButton, {}, QPoint(3, dlg.height() - 3));
        QTRY_COMPARE(about, QStringLiteral("About Zelk Vellisto"));
        QCOMPARE(entries, QStringList({"&About Zelk Vellisto"}));
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
