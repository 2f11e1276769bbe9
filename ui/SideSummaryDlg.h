// The end of a side: the song files a recording kept, each with its length, the clipped samples
// and any lost audio, with a way to the folder in the desktop's file manager and, when the
// program has one, to reviewing the side. A small window of its own beside the main window,
// never modal, so the main window, its boxes and the next Record stay usable while it is open;
// the next side's end replaces what it shows. It checks the side's cuts against the side's own
// levels on a worker and says what it finds. The main window owns one. User-interface thread.
#pragma once

#include <QDialog>
#include <QUrl>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "engine/SideSummary.h"
#include "take/CutCheck.h"
#include "ui/Appearance.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class CSideSummaryDlg : public QDialog {
    Q_OBJECT

public:
    // Hands a URL to the desktop; true when something took it.
    using UrlOpener = std::function<bool(const QUrl&)>;
    // suggested: the cuts the side's own levels give, to review in place of the recorded ones
    // (empty: the side as recorded).
    using ReviewHandler =
        std::function<void(const SideSummary&, const std::vector<uint64_t>& suggested)>;
    // Checks the side's cuts against its own levels; runs on a worker thread of its own and
    // gives up when cancel is raised.
    using CutChecker = std::function<CutCheck(const std::atomic<bool>& cancel)>;

    explicit CSideSummaryDlg(QWidget* parent);
    ~CSideSummaryDlg() override;

    // Fills the window with the side, in the scheme's colours, sized to its text, and shows it
    // without taking the focus from the main window.
    void ShowSide(const SideSummary& side, const SchemeColours& scheme);
    // Checks the side's cuts (after ShowSide) on a worker; the window's line says what it found,
    // with "Review with these cuts" where they differ. A check still running for an earlier
    // side is given up.
    void CheckCuts(CutChecker check);
    // Gives up the check (Record pressed again): its result is never shown.
    void StopCheck();
    // The window in another scheme's colours (the Purple box changed).
    void ApplyColours(const SchemeColours& scheme);

    // Open Folder goes through the desktop's standard URL handler unless another opener is
    // given (tests); when nothing takes the folder, a box names it.
    void SetUrlOpener(UrlOpener opener) { m_opener = std::move(opener); }
    // Review... shows only while a handler is set (an empty one hides it).
    void SetReviewHandler(ReviewHandler handler);

    void OnOpenFolder();
    void OnReview();
    void OnReviewSuggested();

    const SideSummary& GetSide() const { return m_side; }
    QLabel* GetHeading() const { return m_pHeading; }
    QTreeWidget* GetFileList() const { return m_pFiles; }
    QPushButton* GetOpenFolderButton() const { return m_pOpenFolder; }
    QPushButton* GetReviewButton() const { return m_pReview; }
    QLabel* GetCheckLine() const { return m_pCheck; }
    QPushButton* GetReviewSuggestedButton() const { return m_pReviewSuggested; }

signals:
    // The check's line has its final text.
    void CutsChecked();

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitToText();
    // Beside the main window where the screen has room, else above or below it, made smaller
    // to fit: never over the main window's controls.
    void PlaceBesideOwner();
    // The heading, its folder shortened to the window's width.
    void ShowHeading();

    void OnChecked(const CutCheck& check);
    void GrowToFit();

    // Shared with a check's worker, which outlives the window when the disk is slow: it posts
    // its result only while the window still wants it.
    struct CheckState {
        std::atomic<bool> bCancel{false};
        std::mutex lock;  // guards pWindow; never held across a read
        CSideSummaryDlg* pWindow = nullptr;
    };
    std::shared_ptr<CheckState> m_pCheckState;

    SideSummary m_side;
    std::vector<uint64_t> m_suggested;
    UrlOpener m_opener;
    ReviewHandler m_review;
    QLabel* m_pHeading = nullptr;
    QTreeWidget* m_pFiles = nullptr;
    QLabel* m_pClipped = nullptr;
    QLabel* m_pLost = nullptr;
    QPushButton* m_pOpenFolder = nullptr;
    QPushButton* m_pReview = nullptr;
    QLabel* m_pCheck = nullptr;
    QPushButton* m_pReviewSuggested = nullptr;
    QPushButton* m_pClose = nullptr;
};
