// Windows open wholly on the screen: a 1280x900 screen at scale factor 2 (640x450 logical),
// offscreen. The main window from a position kept at scale 1, the help window, Custom Settings,
// the Review window.
#include <QScreen>

#include "audio/capture/FileCaptureBackend.h"
#include "settings/ProfileStore.h"
#include "ui/CustomDlg.h"
#include "ui/HelpViewer.h"
#include "ui/RecorderDlg.h"
#include "ui/ReviewDlg.h"
#include "ui/ScreenFit.h"
#include "ui/tests/TestSupport.h"

namespace {

void VerifyOnScreen(const QWidget* window) {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    QVERIFY2(area.contains(window->frameGeometry()),
             qPrintable(QStringLiteral("%1 at %2,%3 %4x%5")
                            .arg(window->windowTitle())
                            .arg(window->frameGeometry().x())
                            .arg(window->frameGeometry().y())
                            .arg(window->frameGeometry().width())
                            .arg(window->frameGeometry().height())));
}

}  // namespace

class ScreenFitTest : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() {
        QCOMPARE(QGuiApplication::primaryScreen()->geometry(), QRect(0, 0, 640, 450));
    }

    void fitInsideMovesAndCutsOnlyWhatItMay() {
        const QRect area(0, 0, 640, 450);
        const struct {
            QRect rect;
            bool resizable;
            QRect fitted;
        } cases[] = {
            {{300, 400, 481, 299}, false, {159, 151, 481, 299}},  // pulled back whole
            {{-50, -20, 100, 100}, false, {0, 0, 100, 100}},
            {{100, 100, 600, 560}, true, {40, 0, 600, 450}},  // cut to the height
            {{100, 100, 700, 560}, false, {0, 0, 700, 560}},  // too big: top-left shows
            {{10, 10, 100, 100}, true, {10, 10, 100, 100}},   // already inside
        };
        for (const auto& c : cases) QCOMPARE(FitInside(c.rect, area, c.resizable), c.fitted);
    }

    void everyWindowOpensOnTheScreen() {
        CMemoryProfileStore profile;
        // Where the window was at scale factor 1.
        profile.WriteProfileInt("Version 1", "flags", 0);
        profile.WriteProfileInt("Version 1", "left", 300);
        profile.WriteProfileInt("Version 1", "top", 400);
        CRecorderDlg dlg(MakeFileCaptureBackend("none.wav", FilePacing::AsFastAsRead), profile);
        dlg.show();
        QVERIFY(QTest::qWaitForWindowActive(&dlg));
        VerifyOnScreen(&dlg);

        CHelpViewer* help = ShowHelp();
        QVERIFY(help);
        VerifyOnScreen(help);
        help->close();

        bool seen = false;
        OnNextModal(&dlg, [&seen](QWidget* modal) {
            VerifyOnScreen(modal);
            seen = true;
            static_cast<QDialog*>(modal)->reject();
        });
        dlg.OnCustomize();
        QVERIFY(seen);

        WriteWav(Path("SideA1.wav"), {1.0, -0.5});
        WriteWav(Path("SideA2.wav"), {-0.5, 1.0});
        seen = false;
        OnNextModal(&dlg, [&seen](QWidget* modal) {
            VerifyOnScreen(modal);
            seen = qobject_cast<CReviewDlg*>(modal) != nullptr;
            modal->close();
        });
        dlg.OpenReview(Path("SideA2.wav").toStdString());
        QVERIFY(seen);
        dlg.OnOK();
        CloseHelp();
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<ScreenFitTest>(argc, argv); }

#include "ScreenFitTest.moc"
