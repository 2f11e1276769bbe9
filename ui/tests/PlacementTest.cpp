// Where windows open on an X server with a window manager, which gives them frames and has the
// last word on their position: message boxes over the window they belong to, and the
// end-of-side summary where it covers none of the main window.
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QTreeWidget>

#include "audio/capture/FileCaptureBackend.h"
#include "resources/Resources.h"
#include "settings/ProfileStore.h"
#include "ui/CustomDlg.h"
#include "ui/RecorderDlg.h"
#include "ui/ScreenFit.h"
#include "ui/SideSummaryDlg.h"
#include "ui/tests/TestSupport.h"

namespace {

QString Describe(const QRect& r) {
    return QStringLiteral("%1,%2 %3x%4").arg(r.x()).arg(r.y()).arg(r.width()).arg(r.height());
}

// The box lies centred on its owner (their client areas), within a few pixels, or as near to
// that as the screen allows. Qt sets a dialog a title bar's height above the centre.
bool IsCentredOn(const QWidget* box, const QWidget* owner) {
    QRect centred = box->geometry();
    centred.moveCenter(owner->geometry().center());
    centred = FitInside(centred, box->screen()->availableGeometry(), false);
    const QPoint offset = box->geometry().center() - centred.center();
    return std::abs(offset.x()) <= 16 && std::abs(offset.y()) <= 64;
}

void VerifyCentredOn(QWidget* box, const QWidget* owner) {
    QVERIFY(QTest::qWaitForWindowExposed(box));
    // The window manager may still move it.
    QTRY_VERIFY2(IsCentredOn(box, owner),
                 qPrintable(QStringLiteral("%1 at %2 over %3 at %4")
                                .arg(box->windowTitle(), Describe(box->geometry()),
                                     owner->windowTitle(), Describe(owner->geometry()))));
}

// Waits until the X server has the window where Qt does: a dialog is centred on where the
// server says its parent is.
void Settle(QWidget* window) {
    QVERIFY(QTest::qWaitForWindowExposed(window));
    QTRY_COMPARE(window->mapToGlobal(QPoint(0, 0)), window->geometry().topLeft());
}

// Runs `open`, which must show a box (the next modal window other than `except`) centred on
// `owner`.
void VerifyBoxCentredOn(QWidget* except, const QWidget* owner, const std::function<void()>& open) {
    bool seen = false;
    OnNextModal(except, [&](QWidget* box) {
        VerifyCentredOn(box, owner);
        seen = true;
        static_cast<QDialog*>(box)->accept();
    });
    open();
    QVERIFY(seen);
}

void ShowAt(QWidget* window, const QPoint& at) {
    window->move(at);
    window->show();
    Settle(window);
}

}  // namespace

class PlacementTest : public QObject {
    Q_OBJECT

private slots:
    void boxesOpenCentredOnTheirWindow() {
        CMemoryProfileStore profile;
        CRecorderDlg dlg(MakeFileCaptureBackend("none.wav", FilePacing::AsFastAsRead), profile);
        ShowAt(&dlg, {300, 200});

        VerifyBoxCentredOn(&dlg, &dlg, [&] {
            dlg.ShowMessage("SideA1.wav exists.\n\nOverwrite it?", "File Exists",
                            PromptIcon::Question);
        });

        // A box of a dialog: centred on that dialog, not on the main window.
        std::vector<CPresets> presets;
        std::string preset;
        const SchemeColours scheme = SchemeFor(true, 1 << 24, QPalette());
        CCustomDlg custom(&presets, &preset, &scheme, nullptr, &dlg);
        custom.OnInitDialog();
        ShowAt(&custom, dlg.pos() + QPoint(200, 100));
        // Nothing selected: a warning.
        VerifyBoxCentredOn(&custom, &custom, [&] { custom.OnDeletePreset(); });
        custom.close();

        // The summary's box, on the summary.
        SideSummary side;
        side.strFolder = Path("gone").toStdString();
        side.files.push_back({1, Path("gone/SideA1.wav").toStdString(), "SideA1.wav", 0, 44100});
        side.nRate = 44100;
        CSideSummaryDlg& summary = dlg.GetSideSummary();
        summary.SetUrlOpener([](const QUrl&) { return false; });
        summary.ShowSide(side, scheme);
        Settle(&summary);
        VerifyBoxCentredOn(&dlg, &summary, [&] { summary.OnOpenFolder(); });
        dlg.OnOK();
    }

    // The summary of a long side: beside the main window where the screen has room, on the
    // side with room; on a screen too narrow for both, above or below, shorter, its list
    // scrolling. Never over the main window. Run on a large and on a small screen.
    void theSummaryLeavesTheMainWindowUncovered() {
        CMemoryProfileStore profile;
        CRecorderDlg dlg(MakeFileCaptureBackend("none.wav", FilePacing::AsFastAsRead), profile);
        const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
        SideSummary side;
        side.strFolder = Path("take").toStdString();
        side.nRate = 44100;
        side.nClippedTotal = 1234;
        for (int i = 1; i <= 30; ++i) {
            const std::string name =
                "A long name for a song of the first side " + std::to_string(i) + ".wav";
            side.files.push_back({i, side.strFolder + "/" + name, name, 0, 44100 * 200});
        }
        const SchemeColours scheme = SchemeFor(true, 1 << 24, QPalette());
        // Level with the main window, give or take the title bar the window manager may still
        // be adding to it.
        constexpr int kTitleBar = 32;
        const bool small = area.width() < 1000;
        const QList<QPoint> places = small ? QList<QPoint>{{0, area.height() - 360}, {0, 0}}
                                           : QList<QPoint>{{0, 100}, {area.width() - 500, 100}};
        for (const QPoint& at : places) {
            // Moved while shown rather than hidden and shown again: a window mapped anew may be
            // placed by its client or by its frame, as the window manager's race goes.
            if (dlg.isVisible()) {
                dlg.move(at);
                Settle(&dlg);
            } else {
                ShowAt(&dlg, at);
            }
            CSideSummaryDlg& summary = dlg.GetSideSummary();
            summary.ShowSide(side, scheme);
            Settle(&summary);
            // Both frames are read again until they hold: the window manager may still be
            // decorating or moving either window on a busy machine.
            auto placed = [&] {
                const QRect main = dlg.frameGeometry();
                const QRect frame = summary.frameGeometry();
                if (frame.intersects(main) || !area.contains(frame)) return false;
                return small ? frame.top() > main.bottom() || frame.bottom() < main.top()
                             : (frame.left() > main.right() || frame.right() < main.left()) &&
                                   std::abs(frame.top() - main.top()) <= kTitleBar;
            };
            QTRY_VERIFY2(placed(),
                         qPrintable(Describe(summary.frameGeometry()) + " beside " +
                                    Describe(dlg.frameGeometry()) + " on " + Describe(area)));
            if (small) QVERIFY(summary.GetFileList()->verticalScrollBar()->maximum() > 0);
            summary.close();
        }
        dlg.OnOK();
    }
};

int main(int argc, char** argv) { return RunInTemporaryDir<PlacementTest>(argc, argv); }

#include "PlacementTest.moc"
