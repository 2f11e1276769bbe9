// The end of a side: the song files a recording kept, each with its length, the clipped samples
// and any lost audio, with a way to the folder in the desktop's file manager and, when the
// program has one, to reviewing the side. A small window of its own beside the main window,
// never modal, so the main window, its boxes and the next Record stay usable while it is open;
// the next side's end replaces what it shows. The main window owns one. User-interface thread.
#pragma once

#include <QDialog>
#include <QUrl>
#include <functional>

#include "engine/SideSummary.h"
#include "ui/Appearance.h"

class QLabel;
class QPushButton;
class QTreeWidget;

class CSideSummaryDlg : public QDialog {
    Q_OBJECT

public:
    // Hands a URL to the desktop; true when something took it.
    using UrlOpener = std::function<bool(const QUrl&)>;
    using ReviewHandler = std::function<void(const SideSummary&)>;

    explicit CSideSummaryDlg(QWidget* parent);

    // Fills the window with the side, in the scheme's colours, sized to its text, and shows it
    // without taking the focus from the main window.
    void ShowSide(const SideSummary& side, const SchemeColours& scheme);
    // The window in another scheme's colours (the Purple box changed).
    void ApplyColours(const SchemeColours& scheme);

    // Open Folder goes through the desktop's standard URL handler unless another opener is
    // given (tests); when nothing takes the folder, a box names it.
    void SetUrlOpener(UrlOpener opener) { m_opener = std::move(opener); }
    // Review... shows only while a handler is set (an empty one hides it).
    void SetReviewHandler(ReviewHandler handler);

    void OnOpenFolder();
    void OnReview();

    const SideSummary& GetSide() const { return m_side; }
    QLabel* GetHeading() const { return m_pHeading; }
    QTreeWidget* GetFileList() const { return m_pFiles; }
    QPushButton* GetOpenFolderButton() const { return m_pOpenFolder; }
    QPushButton* GetReviewButton() const { return m_pReview; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    void FitToText();
    // Beside the main window where the screen has room, else above or below it, made smaller
    // to fit: never over the main window's controls.
    void PlaceBesideOwner();
    // The heading, its folder shortened to the window's width.
    void ShowHeading();

    SideSummary m_side;
    UrlOpener m_opener;
    ReviewHandler m_review;
    QLabel* m_pHeading = nullptr;
    QTreeWidget* m_pFiles = nullptr;
    QLabel* m_pClipped = nullptr;
    QLabel* m_pLost = nullptr;
    QPushButton* m_pOpenFolder = nullptr;
    QPushButton* m_pReview = nullptr;
    QPushButton* m_pClose = nullptr;
};
