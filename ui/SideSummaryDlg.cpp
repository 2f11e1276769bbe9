#include "ui/SideSummaryDlg.h"

#include <QDesktopServices>
#include <QFile>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QStyle>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>

#include "engine/RecordingTexts.h"
#include "ui/ScreenFit.h"

namespace texts = recording_texts;

namespace {
// Rows the list shows before it scrolls: a long tape's thirty songs need not fill the screen.
constexpr int kVisibleRows = 12;

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}
}  // namespace

CSideSummaryDlg::CSideSummaryDlg(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint),
      m_opener([](const QUrl& url) { return QDesktopServices::openUrl(url); }) {
    setModal(false);
    // The end of a side must not take the keyboard from the main window's Record.
    setAttribute(Qt::WA_ShowWithoutActivating);

    m_pHeading = new QLabel(this);
    m_pFiles = new QTreeWidget(this);
    m_pFiles->setColumnCount(2);
    m_pFiles->setHeaderLabels({QStringLiteral("Song file"), QStringLiteral("Length")});
    m_pFiles->setRootIsDecorated(false);
    m_pFiles->setUniformRowHeights(true);
    m_pFiles->setSelectionMode(QAbstractItemView::NoSelection);
    m_pFiles->setFocusPolicy(Qt::NoFocus);
    m_pFiles->setTextElideMode(Qt::ElideMiddle);
    m_pFiles->header()->setStretchLastSection(false);
    m_pFiles->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    m_pFiles->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    m_pFiles->header()->setSectionsMovable(false);
    m_pClipped = new QLabel(this);
    m_pLost = new QLabel(this);
    m_pLost->setWordWrap(true);

    m_pOpenFolder = new QPushButton(QStringLiteral("Open Folder"), this);
    m_pReview = new QPushButton(QStringLiteral("Review..."), this);
    m_pReview->setVisible(false);
    m_pClose = new QPushButton(QStringLiteral("Close"), this);
    connect(m_pOpenFolder, &QPushButton::clicked, this, &CSideSummaryDlg::OnOpenFolder);
    connect(m_pReview, &QPushButton::clicked, this, &CSideSummaryDlg::OnReview);
    connect(m_pClose, &QPushButton::clicked, this, &QDialog::close);

    auto* buttons = new QHBoxLayout;
    buttons->addWidget(m_pOpenFolder);
    buttons->addWidget(m_pReview);
    buttons->addStretch(1);
    buttons->addWidget(m_pClose);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pHeading);
    layout->addWidget(m_pFiles, 1);
    layout->addWidget(m_pClipped);
    layout->addWidget(m_pLost);
    layout->addLayout(buttons);
}

void CSideSummaryDlg::SetReviewHandler(ReviewHandler handler) {
    m_review = std::move(handler);
    m_pReview->setVisible(bool(m_review));
}

void CSideSummaryDlg::ShowSide(const SideSummary& side, const SchemeColours& scheme) {
    m_side = side;
    setWindowTitle(QString::fromStdString(texts::SummaryCaption(side)));
    ApplyColours(scheme);

    m_pFiles->clear();
    for (const SongFileRecord& file : side.files) {
        auto* item = new QTreeWidgetItem(m_pFiles);
        item->setText(0, FromPath(file.strShown));
        item->setToolTip(0, FromPath(file.strPath));
        item->setText(1, QString::fromStdString(texts::SongLength(file.nFrames, side.nRate)));
        item->setTextAlignment(1, Qt::AlignRight | Qt::AlignVCenter);
    }
    m_pHeading->setToolTip(FromPath(side.strFolder));
    m_pClipped->setText(QString::fromStdString(texts::SummaryClipped(side)));
    m_pLost->setText(QString::fromStdString(texts::SummaryLost(side)));
    FitToText();

    if (!isVisible()) {
        // Beside the main window, where it covers nothing of it; kept on the screen when shown.
        if (const QWidget* owner = parentWidget()) {
            const QRect frame = owner->frameGeometry();
            move(frame.right() + 8, frame.top());
        }
        show();
    } else {
        raise();
    }
}

void CSideSummaryDlg::ApplyColours(const SchemeColours& scheme) {
    ApplyWindowColours(this, scheme);
    // The list reads like the main window's Recording Info lines.
    const ControlColours info = ColoursFor(ControlClass::InfoLine, scheme);
    QPalette pal = m_pFiles->palette();
    pal.setColor(QPalette::Base, info.clrBackground);
    pal.setColor(QPalette::Text, info.clrText);
    m_pFiles->setPalette(pal);
}

void CSideSummaryDlg::FitToText() {
    const QScreen* scr = ScreenOf(parentWidget() ? parentWidget() : this);
    const int widest = scr ? scr->availableGeometry().width() * 9 / 10 : 1200;
    const QFontMetrics fm = m_pFiles->fontMetrics();
    int names = fm.horizontalAdvance(m_pFiles->headerItem()->text(0));
    int lengths = fm.horizontalAdvance(m_pFiles->headerItem()->text(1));
    for (int i = 0; i < m_pFiles->topLevelItemCount(); ++i) {
        names = std::max(names, fm.horizontalAdvance(m_pFiles->topLevelItem(i)->text(0)));
        lengths = std::max(lengths, fm.horizontalAdvance(m_pFiles->topLevelItem(i)->text(1)));
    }
    // Cell padding on both sides of each column, the frame and room for a scroll bar.
    const int padding = 4 * fm.averageCharWidth();
    const int scrollBar = style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int listWidth = names + lengths + 2 * padding + 2 * m_pFiles->frameWidth() + scrollBar;
    const int margins = layout()->contentsMargins().left() + layout()->contentsMargins().right();
    const int shown = std::min(std::max(listWidth, 36 * fm.averageCharWidth()), widest - margins);
    m_pFiles->setMinimumWidth(shown);

    const int rows = std::clamp(m_pFiles->topLevelItemCount(), 1, kVisibleRows);
    const int rowHeight = std::max(m_pFiles->sizeHintForRow(0), fm.height());
    m_pFiles->setMinimumHeight(m_pFiles->header()->sizeHint().height() + rows * rowHeight +
                               2 * m_pFiles->frameWidth());

    // A folder too long for the window is shortened in the middle; its tooltip has it all.
    const QString heading = QString::fromStdString(texts::SummaryHeading(m_side));
    m_pHeading->setText(m_pHeading->fontMetrics().elidedText(heading, Qt::ElideMiddle, shown));
    // As tall as the list's rows need, not the list's default height; taller when dragged.
    adjustSize();
    resize(width(), minimumSizeHint().height());
}

void CSideSummaryDlg::OnOpenFolder() {
    if (m_side.strFolder.empty()) return;
    if (m_opener(QUrl::fromLocalFile(FromPath(m_side.strFolder)))) return;
    QMessageBox box(QMessageBox::Information, windowTitle(),
                    FromPath(texts::OpenFolderFailedText(m_side)), QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void CSideSummaryDlg::OnReview() {
    if (m_review) m_review(m_side);
}
