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
#include <system_error>
#include <thread>

#include "engine/RecordingTexts.h"
#include "ui/ScreenFit.h"

namespace texts = recording_texts;

namespace {
// Rows the list shows before it scrolls: a long tape's thirty songs need not fill the screen.
constexpr int kVisibleRows = 12;

QString FromPath(const std::string& path) {
    return QFile::decodeName(QByteArray::fromStdString(path));
}

// The folder as wide as `width` at most, shortened by whole folders in the middle: the first
// folder and as many of the last ones as fit, the take's own folder above all.
QString ElideFolder(const QString& folder, const QFontMetrics& fm, int width) {
    if (fm.horizontalAdvance(folder) <= width) return folder;
    const QStringList parts = folder.split(QLatin1Char('/'));
    const QString gap = QStringLiteral("/\u2026/");
    for (qsizetype tail = parts.size() - 2; tail >= 1; --tail) {
        const QString end = parts.mid(parts.size() - tail).join(QLatin1Char('/'));
        for (qsizetype head : {2, 1}) {
            if (head + tail >= parts.size()) continue;
            const QString shown = parts.mid(0, head).join(QLatin1Char('/')) + gap + end;
            if (fm.horizontalAdvance(shown) <= width) return shown;
        }
    }
    // Not even the last folder fits whole.
    return fm.elidedText(QStringLiteral("\u2026/") + parts.constLast(), Qt::ElideMiddle, width);
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
    // The heading follows the window's width rather than sets it.
    m_pHeading->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    m_pHeading->setMinimumWidth(1);
    m_pClipped = new QLabel(this);
    m_pLost = new QLabel(this);
    m_pLost->setWordWrap(true);

    m_pOpenFolder = new QPushButton(QStringLiteral("Open Folder"), this);
    m_pReview = new QPushButton(QStringLiteral("Review..."), this);
    m_pReview->setVisible(false);
    m_pCheck = new QLabel(this);
    m_pCheck->setWordWrap(true);
    m_pCheck->hide();
    m_pReviewSuggested = new QPushButton(QStringLiteral("Review with these cuts"), this);
    m_pReviewSuggested->setToolTip(
        QStringLiteral("Review the side with the cuts its own levels give; nothing on disk "
                       "changes until Keep"));
    m_pReviewSuggested->hide();
    m_pClose = new QPushButton(QStringLiteral("Close"), this);
    connect(m_pOpenFolder, &QPushButton::clicked, this, &CSideSummaryDlg::OnOpenFolder);
    connect(m_pReview, &QPushButton::clicked, this, &CSideSummaryDlg::OnReview);
    connect(m_pReviewSuggested, &QPushButton::clicked, this, &CSideSummaryDlg::OnReviewSuggested);
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
    layout->addWidget(m_pCheck);
    auto* check = new QHBoxLayout;
    check->addStretch(1);
    check->addWidget(m_pReviewSuggested);
    layout->addLayout(check);
    layout->addLayout(buttons);
}

CSideSummaryDlg::~CSideSummaryDlg() { StopCheck(); }

void CSideSummaryDlg::CheckCuts(CutChecker check) {
    StopCheck();
    auto state = std::make_shared<CheckState>();
    state->pWindow = this;
    m_pCheckState = state;
    m_pCheck->setText(QStringLiteral("Checking the cuts against the side's own levels..."));
    m_pCheck->show();
    GrowToFit();
    // Detached: a slow disk must not hold the window when it closes or the next side starts.
    try {
        std::thread([state, check = std::move(check)] {
            const CutCheck result = check(state->bCancel);
            std::lock_guard<std::mutex> guard(state->lock);
            if (!state->pWindow || state->bCancel.load()) return;
            QMetaObject::invokeMethod(
                state->pWindow,
                [window = state->pWindow, state, result] {
                    if (window->m_pCheckState == state) window->OnChecked(result);
                },
                Qt::QueuedConnection);
        }).detach();
    } catch (const std::system_error&) {
        // No thread to spare: the summary goes without its check.
        StopCheck();
    }
}

void CSideSummaryDlg::StopCheck() {
    if (!m_pCheckState) return;
    m_pCheckState->bCancel.store(true);
    {
        std::lock_guard<std::mutex> guard(m_pCheckState->lock);
        m_pCheckState->pWindow = nullptr;
    }
    m_pCheckState.reset();
    m_pCheck->hide();
    m_pReviewSuggested->hide();
    m_suggested.clear();
}

void CSideSummaryDlg::OnChecked(const CutCheck& check) {
    m_pCheckState.reset();
    const QString text = QString::fromStdString(CutCheckText(check));
    m_pCheck->setText(text);
    m_pCheck->setVisible(!text.isEmpty());
    const bool differ = check.eOutcome == CutCheck::Outcome::Differ;
    m_suggested = differ ? check.suggested : std::vector<uint64_t>{};
    // Cuts to review in place of the recorded ones; a side whose every cut is wrong has none.
    m_pReviewSuggested->setVisible(differ && !m_suggested.empty() && bool(m_review));
    GrowToFit();
    emit CutsChecked();
}

void CSideSummaryDlg::GrowToFit() {
    // Taller for the check's line at the width the window has; never narrower.
    layout()->activate();
    const int needed = layout()->hasHeightForWidth() ? layout()->totalHeightForWidth(width())
                                                     : minimumSizeHint().height();
    if (needed > height()) resize(width(), needed);
}

void CSideSummaryDlg::OnReviewSuggested() {
    if (m_review) m_review(m_side, m_suggested);
}

void CSideSummaryDlg::SetReviewHandler(ReviewHandler handler) {
    m_review = std::move(handler);
    m_pReview->setVisible(bool(m_review));
}

void CSideSummaryDlg::ShowSide(const SideSummary& side, const SchemeColours& scheme) {
    StopCheck();
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
        PlaceBesideOwner();
        show();
    } else {
        raise();
    }
}

void CSideSummaryDlg::PlaceBesideOwner() {
    const QWidget* owner = parentWidget() ? parentWidget()->window() : nullptr;
    const QScreen* scr = owner ? ScreenOf(owner) : nullptr;
    if (!scr) return;
    constexpr int kGap = 8;
    const QRect area = scr->availableGeometry();
    const QRect main = owner->frameGeometry();
    // This window gets the frame its owner has (the window manager decorates both alike).
    const QMargins margins = FrameMarginsOf(owner);
    const QSize wanted = size().grownBy(margins);
    const QSize least = minimumSizeHint().grownBy(margins);
    const int right = area.right() - main.right() - kGap;
    const int left = main.left() - kGap - area.left();
    QRect frame;
    if (right >= wanted.width() || (right >= least.width() && right >= left)) {
        frame = QRect(main.right() + 1 + kGap, main.top(), std::min(wanted.width(), right),
                      wanted.height());
    } else if (left >= least.width()) {
        const int width = std::min(wanted.width(), left);
        frame = QRect(main.left() - kGap - width, main.top(), width, wanted.height());
    } else {
        // No room beside it: above or below, where there is more room, and no taller than
        // that; the list scrolls.
        const int below = area.bottom() - main.bottom() - kGap;
        const int above = main.top() - kGap - area.top();
        const int height = std::min(wanted.height(), std::max(below, above));
        const int top = below >= above ? main.bottom() + 1 + kGap : main.top() - kGap - height;
        frame = QRect(main.left(), top, std::min(wanted.width(), area.width()), height);
    }
    frame = FitInside(frame, area, true);
    resize(frame.marginsRemoved(margins).size());
    // A top-level window's position is that of its frame.
    move(frame.topLeft());
}

void CSideSummaryDlg::resizeEvent(QResizeEvent* event) {
    QDialog::resizeEvent(event);
    ShowHeading();
}

void CSideSummaryDlg::ShowHeading() {
    // A folder too long for the window is shortened by whole folders; its tooltip has it all.
    const int width = contentsRect().marginsRemoved(layout()->contentsMargins()).width();
    const QFontMetrics fm = m_pHeading->fontMetrics();
    const QString heading = FromPath(texts::SummaryHeading(m_side));
    const QString folder = FromPath(m_side.strFolder);
    const qsizetype at = heading.lastIndexOf(folder);
    if (folder.isEmpty() || at < 0) {
        m_pHeading->setText(fm.elidedText(heading, Qt::ElideMiddle, width));
        return;
    }
    const QString before = heading.left(at);
    const QString after = heading.mid(at + folder.size());
    const int room = width - fm.horizontalAdvance(before + after);
    m_pHeading->setText(before + ElideFolder(folder, fm, room) + after);
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

    // As tall as the list's rows need, not the list's default height; taller when dragged.
    adjustSize();
    const QSize wanted(width(), minimumSizeHint().height());
    // Where the screen has no room for all that, the window may be smaller: the names are
    // shortened in the middle and the list scrolls.
    m_pFiles->setMinimumWidth(std::min(shown, 24 * fm.averageCharWidth()));
    m_pFiles->setMinimumHeight(m_pFiles->header()->sizeHint().height() +
                               std::min(rows, 3) * rowHeight + 2 * m_pFiles->frameWidth());
    resize(wanted);
    ShowHeading();
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
    if (m_review) m_review(m_side, {});
}
