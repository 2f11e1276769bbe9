#include "ui/ReviewDlg.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QCloseEvent>
#include <QComboBox>
#include <QFileInfo>
#include <QFormLayout>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProgressBar>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QTableWidget>
#include <QTimer>
#include <QUndoStack>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <utility>

#include "settings/ClickRepairSetting.h"
#include "take/ClickRepairStream.h"
#include "take/QuietestNear.h"
#include "take/TrackList.h"
#include "ui/HelpViewer.h"

namespace {
constexpr int kColNumber = 0;
constexpr int kColTitle = 1;
constexpr int kColStart = 2;
constexpr int kColLength = 3;
constexpr int kColFile = 4;
constexpr int kColClicks = 5;
constexpr double kZoomSeconds = 10.0;    // the zoomed view's span when it opens
constexpr uint64_t kMinZoomFrames = 64;  // zoomed in furthest: a few pixels per frame
constexpr double kSongStartSeconds = 10.0;
constexpr int kPlayTickMs = 30;  // how often the play position marker follows playback

QString Q(const std::string& text) {
    return QString::fromUtf8(text.data(), qsizetype(text.size()));
}
std::string S(const QString& text) { return text.toUtf8().toStdString(); }

QString Ext(KeepFormat format) {
    return format == KeepFormat::Flac ? QStringLiteral(".flac") : QStringLiteral(".wav");
}
}  // namespace

// ---------------------------------------------------------------------------------------------

CReviewDlg::CReviewDlg(const Take& take, std::unique_ptr<IPlaybackBackend> playback,
                       const ReviewOptions& options, QWidget* parent)
    : QDialog(parent), m_pPlayback(std::move(playback)), m_options(options) {
    setWindowTitle(QStringLiteral("Review: %1").arg(QFileInfo(Q(take.strSide)).fileName()));
    setSizeGripEnabled(true);
    m_pUndo = new QUndoStack(this);
    m_cuts.onChanged = [this](int cut) { OnCutsChanged(cut); };
    m_clicks.onChanged = [this](int click) { OnClicksChanged(click); };
    CreateControls();
    ApplyScheme();
    LoadTake(take, {});
    m_strDefaultPattern = DefaultPattern();
    m_pPattern->setText(m_strDefaultPattern);
    if (m_pPlayback) {
        m_pPlayback->SetEndCallback([this](PlaybackState) {
            QMetaObject::invokeMethod(this, &CReviewDlg::OnPlaybackEnded, Qt::QueuedConnection);
        });
    }
    resize(900, 640);
    m_pZoom->setFocus();
}

CReviewDlg::~CReviewDlg() {
    // The stack goes with the children, after this object has stopped being a CReviewDlg: it must
    // not call back into it on the way.
    m_pUndo->disconnect(this);
    if (m_pPlayback) {
        m_pPlayback->Stop();
        m_pPlayback->SetEndCallback({});
        m_pPlayback->Close();
    }
    m_pOverviewTask.reset();
    m_bCancelSearch = true;
    if (m_searcher.joinable()) m_searcher.join();
    if (m_keeper.joinable()) m_keeper.join();
}

void CReviewDlg::CreateControls() {
    // On a small screen the window scrolls rather than reach past the screen's edge.
    auto* outer = new QVBoxLayout(this);
    outer->setContentsMargins(0, 0, 0, 0);
    auto* scroll = new QScrollArea(this);
    scroll->setFrameShape(QFrame::NoFrame);
    scroll->setWidgetResizable(true);
    auto* content = new QWidget(scroll);
    auto* layout = new QVBoxLayout(content);
    auto* top = new QHBoxLayout;
    m_pHeading = new QLabel(this);
    top->addWidget(m_pHeading);
    top->addStretch();
    m_pCutLine = new QLabel(this);
    top->addWidget(m_pCutLine);
    layout->addLayout(top);
    m_pNotice = new QLabel(Q(m_options.strNotice), this);
    m_pNotice->setWordWrap(true);
    m_pNotice->setTextFormat(Qt::PlainText);
    m_pNotice->setVisible(!m_options.strNotice.empty());
    layout->addWidget(m_pNotice);

    m_pOverview = new CWaveView(this);
    m_pOverview->setObjectName(QStringLiteral("overview"));
    m_pOverview->setMinimumHeight(70);
    m_pOverview->setToolTip(QStringLiteral("The whole side: click to select the nearest cut"));
    layout->addWidget(m_pOverview, 2);
    m_pProgress = new QProgressBar(this);
    m_pProgress->setRange(0, 1000);
    m_pProgress->setFormat(QStringLiteral("Reading the side: %p%"));
    layout->addWidget(m_pProgress);

    m_pZoom = new CWaveView(this);
    m_pZoom->setObjectName(QStringLiteral("zoom"));
    m_pZoom->setMinimumHeight(110);
    m_pZoom->setToolTip(
        QStringLiteral("Around the selected cut: drag the cut, click to set the play position"));
    layout->addWidget(m_pZoom, 3);

    auto* transport = new QHBoxLayout;
    const auto button = [this, transport](const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        transport->addWidget(b);
        return b;
    };
    m_pPrev = button(QStringLiteral("< Cut"), QStringLiteral("Previous cut (Up)"));
    m_pNext = button(QStringLiteral("Cut >"), QStringLiteral("Next cut (Down)"));
    m_pPlay = button(QStringLiteral("Play Cut"),
                     QStringLiteral("Play from 3 s before the cut to 3 s after it (Space)"));
    m_pPlay->setObjectName(QStringLiteral("play"));
    m_pPlayStart =
        button(QStringLiteral("Play Song Start"),
               QStringLiteral("Play the first seconds of the song selected in the list"));
    m_pSnap = button(QStringLiteral("Snap"),
                     QStringLiteral("Move the cut to the quietest point near it (S)"));
    m_pAdd = button(QStringLiteral("Add Cut"), QStringLiteral("Cut at the play position (Insert)"));
    m_pJoin =
        button(QStringLiteral("Join"),
               QStringLiteral("Remove the cut: the songs on either side become one (Delete)"));
    m_pUndoButton = button(QStringLiteral("Undo"), QStringLiteral("Ctrl+Z"));
    m_pRedoButton = button(QStringLiteral("Redo"), QStringLiteral("Ctrl+Shift+Z"));
    transport->addStretch();
    layout->addLayout(transport);

    auto* clicksRow = new QHBoxLayout;
    clicksRow->addWidget(new QLabel(QStringLiteral("Click Repair:"), this));
    m_pSensitivity = new QComboBox(this);
    m_pSensitivity->addItems(
        {QStringLiteral("Gentle"), QStringLiteral("Normal"), QStringLiteral("Strong")});
    m_pSensitivity->setToolTip(
        QStringLiteral("Gentle leaves anything doubtful alone; Strong also takes faint crackle"));
    m_pSensitivity->setCurrentIndex(m_options.pProfile ? LoadClickRepairLevel(*m_options.pProfile)
                                                       : kClickRepairNormal);
    clicksRow->addWidget(m_pSensitivity);
    const auto clickButton = [this, clicksRow](const QString& text, const QString& tip) {
        auto* b = new QPushButton(text, this);
        b->setToolTip(tip);
        b->setAutoDefault(false);
        clicksRow->addWidget(b);
        return b;
    };
    m_pRepair = clickButton(QStringLiteral("Repair Clicks"),
                            QStringLiteral("Find the clicks in every song and repair them; the "
                                           "song files change only at Keep"));
    m_pPrevClick =
        clickButton(QStringLiteral("< Click"), QStringLiteral("Previous click (Ctrl+Up)"));
    m_pNextClick = clickButton(QStringLiteral("Click >"), QStringLiteral("Next click (Ctrl+Down)"));
    m_pLeaveClick = clickButton(
        QStringLiteral("Leave This Click"),
        QStringLiteral("Take back the selected click's repair (Delete). Space plays it repaired, "
                       "Shift+Space as it was"));
    m_pRepairProgress = new QProgressBar(this);
    m_pRepairProgress->setRange(0, 1000);
    m_pRepairProgress->setFormat(QStringLiteral("Looking for clicks: %p%"));
    m_pRepairProgress->hide();
    clicksRow->addWidget(m_pRepairProgress, 1);
    clicksRow->addStretch();
    layout->addLayout(clicksRow);

    auto* lower = new QHBoxLayout;
    m_pSongs = new QTableWidget(0, 6, this);
    m_pSongs->setHorizontalHeaderLabels({QStringLiteral("No."), QStringLiteral("Title"),
                                         QStringLiteral("Start"), QStringLiteral("Length"),
                                         QStringLiteral("File"), QStringLiteral("Clicks")});
    m_pSongs->verticalHeader()->hide();
    m_pSongs->setSelectionBehavior(QAbstractItemView::SelectRows);
    m_pSongs->setSelectionMode(QAbstractItemView::SingleSelection);
    for (int column : {kColNumber, kColStart, kColLength, kColClicks})
        m_pSongs->horizontalHeader()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    m_pSongs->horizontalHeader()->setSectionResizeMode(kColTitle, QHeaderView::Stretch);
    m_pSongs->horizontalHeader()->setSectionResizeMode(kColFile, QHeaderView::Stretch);
    m_pSongs->setEditTriggers(QAbstractItemView::DoubleClicked | QAbstractItemView::EditKeyPressed |
                              QAbstractItemView::AnyKeyPressed);
    lower->addWidget(m_pSongs, 3);

    auto* form = new QFormLayout;
    m_pPaste = new QPushButton(QStringLiteral("Paste Track List"), this);
    m_pPaste->setAutoDefault(false);
    m_pPaste->setToolTip(
        QStringLiteral("Titles from the clipboard, one per line (\"A1\", \"1.\", \"03 -\" and "
                       "times are left out of them; times can place the cuts)"));
    form->addRow(m_pPaste);
    m_pPlaceByTimes = new QPushButton(QStringLiteral("Place the cuts by these times"), this);
    m_pPlaceByTimes->setAutoDefault(false);
    m_pPlaceByTimes->setToolTip(
        QStringLiteral("Each cut in the quietest moment near where the track list's times put "
                       "it (sleeve times may be a few seconds off)"));
    m_pPlaceByTimes->hide();
    form->addRow(m_pPlaceByTimes);
    m_pNumbering = new QComboBox(this);
    m_pNumbering->addItems({QStringLiteral("1, 2, 3"), QStringLiteral("A1, A2, B1")});
    form->addRow(QStringLiteral("Numbering"), m_pNumbering);
    m_pFirstSide = new QComboBox(this);
    for (char side = 'A'; side <= 'Z'; ++side) m_pFirstSide->addItem(QString(QChar(side)));
    m_pFirstSide->setToolTip(QStringLiteral("The side the take's first song is on"));
    form->addRow(QStringLiteral("First side"), m_pFirstSide);
    m_pSideB = new QSpinBox(this);
    // 1 stands for none: a take of one side alone.
    m_pSideB->setRange(1, 2);
    m_pSideB->setValue(2);
    m_pSideB->setSpecialValueText(QStringLiteral("none"));
    m_pSideB->setToolTip(QStringLiteral("The first song of the next side (none: one side only)"));
    form->addRow(QStringLiteral("Next side from song"), m_pSideB);
    m_pPattern = new QLineEdit(this);
    m_pPattern->setToolTip(
        QStringLiteral("{n} the number, {n:02} with two digits, {title}, {album}, {artist}, "
                       "{side}, {track}"));
    form->addRow(QStringLiteral("File names"), m_pPattern);
    m_pFormat = new QComboBox(this);
    m_pFormat->addItems({QStringLiteral("WAV"), QStringLiteral("FLAC (lossless)")});
    form->addRow(QStringLiteral("Format"), m_pFormat);
    m_pAlbum = new QLineEdit(this);
    form->addRow(QStringLiteral("Album"), m_pAlbum);
    m_pArtist = new QLineEdit(this);
    form->addRow(QStringLiteral("Artist"), m_pArtist);
    m_pCue = new QCheckBox(QStringLiteral("Label file and cue sheet"), this);
    m_pCue->setChecked(true);
    form->addRow(m_pCue);
    auto* keepRow = new QHBoxLayout;
    m_pKeep = new QPushButton(QStringLiteral("Keep"), this);
    m_pKeep->setAutoDefault(false);
    m_pKeep->setToolTip(QStringLiteral("Rewrite the song files at these cuts, with these names"));
    m_pClose = new QPushButton(QStringLiteral("Close"), this);
    m_pClose->setAutoDefault(false);
    keepRow->addWidget(m_pKeep);
    keepRow->addWidget(m_pClose);
    form->addRow(keepRow);
    m_pKeepProgress = new QProgressBar(this);
    m_pKeepProgress->setRange(0, 1000);
    m_pKeepProgress->hide();
    form->addRow(m_pKeepProgress);
    lower->addLayout(form, 2);
    layout->addLayout(lower, 3);

    m_pStatus = new QLabel(this);
    m_pStatus->setWordWrap(true);
    m_pStatus->setTextFormat(Qt::PlainText);
    layout->addWidget(m_pStatus);
    scroll->setWidget(content);
    scroll->viewport()->setAutoFillBackground(false);
    content->setAutoFillBackground(false);
    outer->addWidget(scroll);
    // The scroll area would take the arrow keys for itself.
    m_pOverview->installEventFilter(this);
    m_pZoom->installEventFilter(this);

    m_pPlayTimer = new QTimer(this);
    m_pPlayTimer->setInterval(kPlayTickMs);
    connect(m_pPlayTimer, &QTimer::timeout, this, &CReviewDlg::OnPlaybackTick);

    connect(m_pPrev, &QPushButton::clicked, this, [this] { SelectCut(m_nCut - 1); });
    connect(m_pNext, &QPushButton::clicked, this, [this] { SelectCut(m_nCut + 1); });
    connect(m_pPlay, &QPushButton::clicked, this, &CReviewDlg::PlayAroundCut);
    connect(m_pPlayStart, &QPushButton::clicked, this,
            [this] { PlaySongStart(std::max(0, m_pSongs->currentRow())); });
    connect(m_pSnap, &QPushButton::clicked, this, &CReviewDlg::SnapSelectedCut);
    connect(m_pAdd, &QPushButton::clicked, this, &CReviewDlg::AddCutAtPlayPosition);
    connect(m_pJoin, &QPushButton::clicked, this, &CReviewDlg::JoinAtSelectedCut);
    connect(m_pSensitivity, &QComboBox::currentIndexChanged, this, [this](int level) {
        if (m_options.pProfile && level >= 0) SaveClickRepairLevel(*m_options.pProfile, level);
    });
    connect(m_pRepair, &QPushButton::clicked, this, [this] {
        if (m_bSearching) {
            CancelRepairClicks();
        } else {
            RepairClicks();
        }
    });
    // With none selected, the first click on either side of the zoomed view.
    connect(m_pPrevClick, &QPushButton::clicked, this, [this] {
        SelectClick(m_nClick >= 0 ? m_nClick - 1 : int(m_clicks.ClickFrom(m_pZoom->Last())) - 1);
    });
    connect(m_pNextClick, &QPushButton::clicked, this, [this] {
        SelectClick(m_nClick >= 0 ? m_nClick + 1 : int(m_clicks.ClickFrom(m_pZoom->First())));
    });
    connect(m_pLeaveClick, &QPushButton::clicked, this, &CReviewDlg::LeaveSelectedClick);
    connect(m_pUndoButton, &QPushButton::clicked, m_pUndo, &QUndoStack::undo);
    connect(m_pRedoButton, &QPushButton::clicked, m_pUndo, &QUndoStack::redo);
    connect(m_pUndo, &QUndoStack::canUndoChanged, this, [this] { UpdateControls(); });
    connect(m_pUndo, &QUndoStack::canRedoChanged, this, [this] { UpdateControls(); });
    // Only while the cuts may be edited: not while they are being kept, nor once kept away.
    auto* undo = new QAction(this);
    undo->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Z));
    connect(undo, &QAction::triggered, this, [this] {
        if (CanEdit()) m_pUndo->undo();
    });
    addAction(undo);
    auto* redo = new QAction(this);
    redo->setShortcuts(
        {QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Z), QKeySequence(Qt::CTRL | Qt::Key_Y)});
    connect(redo, &QAction::triggered, this, [this] {
        if (CanEdit()) m_pUndo->redo();
    });
    addAction(redo);
    InstallHelpKey(this, QStringLiteral("review.md"));

    connect(m_pOverview, &CWaveView::FrameClicked, this, &CReviewDlg::OnOverviewClicked);
    connect(m_pOverview, &CWaveView::CutPressed, this, &CReviewDlg::SelectCut);
    connect(m_pOverview, &CWaveView::CutDragged, this, &CReviewDlg::OnCutDragged);
    connect(m_pZoom, &CWaveView::FrameClicked, this, &CReviewDlg::OnZoomClicked);
    connect(m_pZoom, &CWaveView::CutPressed, this, &CReviewDlg::SelectCut);
    connect(m_pZoom, &CWaveView::CutDragged, this, &CReviewDlg::OnCutDragged);
    connect(m_pOverview, &CWaveView::ClickPressed, this, &CReviewDlg::SelectClick);
    connect(m_pZoom, &CWaveView::ClickPressed, this, &CReviewDlg::SelectClick);
    connect(m_pSongs, &QTableWidget::cellChanged, this, &CReviewDlg::OnTitleEdited);
    connect(m_pSongs, &QTableWidget::cellDoubleClicked, this, [this](int row, int column) {
        if (column != kColTitle) PlaySongStart(row);
    });
    connect(m_pPaste, &QPushButton::clicked, this, &CReviewDlg::OnPasteClicked);
    connect(m_pPlaceByTimes, &QPushButton::clicked, this, &CReviewDlg::PlaceCutsByTimes);
    connect(m_pNumbering, &QComboBox::currentIndexChanged, this, [this] { RefreshNames(); });
    connect(m_pSideB, &QSpinBox::valueChanged, this, [this] { RefreshNames(); });
    connect(m_pFirstSide, &QComboBox::currentIndexChanged, this, [this] { RefreshNames(); });
    connect(m_pPattern, &QLineEdit::textChanged, this, [this] { RefreshNames(); });
    connect(m_pAlbum, &QLineEdit::textChanged, this, [this] { RefreshNames(); });
    connect(m_pArtist, &QLineEdit::textChanged, this, [this] { RefreshNames(); });
    connect(m_pFormat, &QComboBox::currentIndexChanged, this, &CReviewDlg::OnFormatChanged);
    connect(m_pKeep, &QPushButton::clicked, this, [this] {
        if (m_bKeeping) {
            CancelKeep();
        } else {
            Keep();
        }
    });
    connect(m_pClose, &QPushButton::clicked, this, &CReviewDlg::close);
}

void CReviewDlg::ApplyScheme() {
    ApplyWindowColours(this, m_options.scheme);
    for (QComboBox* box : {m_pNumbering, m_pFirstSide, m_pFormat, m_pSensitivity})
        ApplyComboColours(box, m_options.scheme);
    // The song list reads like the main window's lists: green on black in both schemes.
    const ControlColours list = ColoursFor(ControlClass::Combo, m_options.scheme);
    QPalette pal = m_pSongs->palette();
    pal.setColor(QPalette::Base, list.clrBackground);
    pal.setColor(QPalette::Text, list.clrText);
    m_pSongs->setPalette(pal);
    const ControlColours info = ColoursFor(ControlClass::InfoLine, m_options.scheme);
    for (QLabel* line : {m_pCutLine, m_pNotice, m_pStatus}) {
        QPalette linePal = line->palette();
        linePal.setColor(QPalette::Window, info.clrBackground);
        linePal.setColor(QPalette::WindowText, info.clrText);
        line->setPalette(linePal);
        line->setAutoFillBackground(true);
    }
}

void CReviewDlg::LoadTake(const Take& take, std::vector<std::string> titles) {
    m_pOverviewTask.reset();
    m_take = take;
    m_pReader = std::make_shared<CTakeReader>(m_take);
    m_pOverviewData.reset();
    m_pBlankOverview = std::make_unique<COverview>(m_take.format, m_take.nFrames);
    m_nCut = -1;
    m_nPosition = -1;
    m_pUndo->clear();

    const WAVEFORMATEX& f = m_take.format;
    m_pHeading->setText(
        QStringLiteral("%1: %2 files, %3, %4 Hz, %5 bit %6")
            .arg(QFileInfo(Q(m_take.strSide)).fileName())
            .arg(m_take.files.size())
            .arg(TimeText(m_take.nFrames))
            .arg(f.nSamplesPerSec)
            .arg(f.wBitsPerSample)
            .arg(f.nChannels == 1 ? QStringLiteral("mono") : QStringLiteral("stereo")));

    m_pOverview->SetSource(
        [this](uint64_t first, uint64_t last, int columns, std::vector<PeakPair>& out) {
            PeaksOf(first, last, columns, out);
        });
    m_pZoom->SetSource([this](uint64_t first, uint64_t last, int columns,
                              std::vector<PeakPair>& out) { PeaksOf(first, last, columns, out); });
    m_pOverview->SetRange(0, std::max<uint64_t>(1, m_take.nFrames));
    m_pOverview->SetGapLevel(m_options.fGapLevel);
    m_pZoom->SetGapLevel(m_options.fGapLevel);
    // The take's files hold whatever was repaired and kept.
    m_clicks.Set({});
    m_cuts.Reset(m_take.nFrames, m_take.cuts, std::move(titles));
    // Suggested cuts come once, with the take as it opened, as the first edit.
    if (!m_options.suggestedCuts.empty() && m_take.cuts != m_options.suggestedCuts) {
        m_pUndo->push(MakeSetCuts(m_cuts, m_options.suggestedCuts, m_cuts.Titles(),
                                  QStringLiteral("Suggested Cuts")));
        m_options.suggestedCuts.clear();
        m_bSuggested = true;
    }
    SelectCut(m_cuts.Cuts().empty() ? -1 : 0);
    StartOverview();
}

// ---------------------------------------------------------------------------------------------
// Peaks

void CReviewDlg::StartOverview() {
    m_pProgress->setValue(0);
    m_pProgress->show();
    const std::shared_ptr<CTakeReader> reader = m_pReader;
    OverviewOptions options;
    options.onProgress = [this](uint64_t done, uint64_t total) {
        QMetaObject::invokeMethod(
            this, [this, done, total] { OnOverviewProgress(done, total); }, Qt::QueuedConnection);
    };
    options.onDone = [this](OverviewOutcome) {
        QMetaObject::invokeMethod(this, &CReviewDlg::OnOverviewDone, Qt::QueuedConnection);
    };
    m_pOverviewTask =
        ComputeOverview([reader](uint64_t first, size_t count,
                                 void* dst) { return reader->ReadFrames(first, count, dst); },
                        m_take.format, m_take.nFrames, options);
}

void CReviewDlg::OnOverviewProgress(uint64_t done, uint64_t total) {
    if (total > 0) m_pProgress->setValue(int(done * 1000 / total));
}

void CReviewDlg::OnOverviewDone() {
    if (!m_pOverviewTask || m_pOverviewTask->Outcome() == OverviewOutcome::Running) return;
    m_pProgress->hide();
    if (m_pOverviewTask->Outcome() == OverviewOutcome::Done) {
        m_pOverviewData = m_pOverviewTask->Result();
        m_pBlankOverview.reset();
    } else if (m_pOverviewTask->Outcome() == OverviewOutcome::Failed) {
        m_pStatus->setText(QStringLiteral("The side could not be read whole: ") +
                           Q(m_pOverviewTask->Failure()));
    }
    m_pOverview->Reload();
    m_pZoom->Reload();
    emit OverviewReady();
}

void CReviewDlg::PeaksOf(uint64_t first, uint64_t last, int columns,
                         std::vector<PeakPair>& out) const {
    const COverview* overview = m_pOverviewData ? m_pOverviewData.get() : m_pBlankOverview.get();
    if (!overview) {
        out.assign(size_t(std::max(columns, 0)), PeakPair{});
        return;
    }
    const std::shared_ptr<CTakeReader> reader = m_pReader;
    const FrameReader read = [reader](uint64_t a, size_t n, void* dst) {
        return reader->ReadFrames(a, n, dst);
    };
    overview->GetColumns(first, last, columns, &out, true, &read);
}

// ---------------------------------------------------------------------------------------------
// Cuts

uint64_t CReviewDlg::Frames(double seconds) const {
    return uint64_t(std::llround(seconds * m_take.format.nSamplesPerSec));
}

QString CReviewDlg::TimeText(uint64_t frame) const {
    const uint32_t rate = std::max<uint32_t>(1, m_take.format.nSamplesPerSec);
    const uint64_t ms = frame * 1000 / rate;
    return QStringLiteral("%1:%2.%3")
        .arg(ms / 60000)
        .arg(ms / 1000 % 60, 2, 10, QLatin1Char('0'))
        .arg(ms % 1000, 3, 10, QLatin1Char('0'));
}

void CReviewDlg::SelectCut(int cut) {
    m_nClick = -1;
    const int count = int(m_cuts.Cuts().size());
    if (count == 0) {
        m_nCut = -1;
    } else {
        m_nCut = std::clamp(cut, 0, count - 1);
    }
    CentreZoom();
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::CentreZoom(uint64_t span) {
    const uint64_t total = std::max<uint64_t>(1, m_take.nFrames);
    if (span == 0) {
        const uint64_t shown = m_pZoom->Last() - m_pZoom->First();
        span = shown > 1 ? shown : Frames(kZoomSeconds);  // [0, 1) is the view before any range
    }
    span = std::min(total, std::max<uint64_t>(kMinZoomFrames, span));
    const uint64_t centre = m_nClick >= 0 ? m_clicks.Clicks()[size_t(m_nClick)].nFirst
                            : m_nCut >= 0 ? m_cuts.Cuts()[size_t(m_nCut)]
                                          : 0;
    const uint64_t first = centre > span / 2 ? std::min(centre - span / 2, total - span) : 0;
    m_pZoom->SetRange(first, first + span);
}

void CReviewDlg::Zoom(double factor) {
    CentreZoom(
        std::max<uint64_t>(1, uint64_t(double(m_pZoom->Last() - m_pZoom->First()) * factor)));
}

void CReviewDlg::MoveSelectedCut(int64_t frames) {
    if (!CanEdit() || m_nCut < 0 || frames == 0) return;
    const int64_t from = int64_t(m_cuts.Cuts()[size_t(m_nCut)]);
    const uint64_t to = m_cuts.Clamp(size_t(m_nCut), from + frames);
    if (int64_t(to) == from) return;
    m_pUndo->push(MakeMoveCut(m_cuts, size_t(m_nCut), to, QStringLiteral("Move Cut")));
}

void CReviewDlg::SnapSelectedCut() {
    if (!CanEdit() || m_nCut < 0) return;
    const uint64_t cut = m_cuts.Cuts()[size_t(m_nCut)];
    const uint64_t snapped = SnapCut(*m_pReader, cut, Frames(kSnapRadiusSeconds),
                                     std::max<uint64_t>(1, Frames(m_options.fGapSeconds)));
    if (snapped == cut) return;
    m_pUndo->push(MakeMoveCut(m_cuts, size_t(m_nCut), snapped, QStringLiteral("Snap")));
}

void CReviewDlg::AddCutAtPlayPosition() {
    if (!CanEdit() || m_nPosition < 0) return;
    if (QUndoCommand* add = MakeAddCut(m_cuts, uint64_t(m_nPosition))) m_pUndo->push(add);
}

void CReviewDlg::JoinAtSelectedCut() {
    if (!CanEdit() || m_nCut < 0) return;
    m_pUndo->push(MakeJoinAt(m_cuts, size_t(m_nCut)));
}

void CReviewDlg::OnCutsChanged(int cut) {
    if (cut >= 0) {
        m_nCut = cut;
        m_nClick = -1;
    }
    if (m_nCut >= int(m_cuts.Cuts().size())) m_nCut = int(m_cuts.Cuts().size()) - 1;
    if (m_nCut >= 0) {
        const uint64_t at = m_cuts.Cuts()[size_t(m_nCut)];
        if (at < m_pZoom->First() || at >= m_pZoom->Last()) CentreZoom();
    }
    RefreshSongList();
    RefreshNames();
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::OnCutDragged(int cut, quint64 frame, bool finished) {
    SelectCut(cut);
    if (!finished || !CanEdit()) return;
    const uint64_t to = m_cuts.Clamp(size_t(cut), int64_t(frame));
    if (to != m_cuts.Cuts()[size_t(cut)])
        m_pUndo->push(MakeMoveCut(m_cuts, size_t(cut), to, QStringLiteral("Drag Cut")));
}

void CReviewDlg::OnZoomClicked(quint64 frame) {
    m_nPosition = int64_t(frame);
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::OnOverviewClicked(quint64 frame) {
    m_nPosition = int64_t(frame);
    const std::vector<uint64_t>& cuts = m_cuts.Cuts();
    if (cuts.empty()) {
        RefreshViews();
        UpdateControls();
        return;
    }
    size_t nearest = 0;
    for (size_t i = 1; i < cuts.size(); ++i) {
        const auto d = [frame](uint64_t c) { return c > frame ? c - frame : frame - c; };
        if (d(cuts[i]) < d(cuts[nearest])) nearest = i;
    }
    SelectCut(int(nearest));
}

// ---------------------------------------------------------------------------------------------
// Showing

void CReviewDlg::RefreshViews() {
    QStringList labels;
    const SongNumbering numbering = Numbering();
    for (size_t i = 0; i < m_cuts.Cuts().size(); ++i)
        labels << Q(SongNumber(int(i) + 1, numbering));
    std::vector<uint64_t> clicks;
    clicks.reserve(m_clicks.Clicks().size());
    for (const ReviewClick& c : m_clicks.Clicks()) clicks.push_back(c.nFirst);
    for (CWaveView* view : {m_pOverview, m_pZoom}) {
        view->SetCuts(m_cuts.Cuts(), labels, m_nClick >= 0 ? -1 : m_nCut);
        view->SetClicks(clicks, m_nClick);
        view->SetPlayPosition(m_nPosition);
    }
    if (m_nClick >= 0) {
        const uint64_t at = clicks[size_t(m_nClick)];
        m_pCutLine->setText(QStringLiteral(" Click %1 of %2 at %3 in song %4 ")
                                .arg(m_nClick + 1)
                                .arg(clicks.size())
                                .arg(TimeText(at))
                                .arg(Q(SongNumber(int(m_cuts.SongAt(at)), numbering))));
    } else if (m_nCut >= 0) {
        const uint64_t at = m_cuts.Cuts()[size_t(m_nCut)];
        m_pCutLine->setText(QStringLiteral(" Cut %1 of %2 at %3 (frame %4) ")
                                .arg(m_nCut + 1)
                                .arg(m_cuts.Cuts().size())
                                .arg(TimeText(at))
                                .arg(at));
    } else {
        m_pCutLine->setText(QStringLiteral(" No cuts: one song "));
    }
}

void CReviewDlg::RefreshSongList() {
    m_bFilling = true;
    const SongNumbering numbering = Numbering();
    const int songs = int(m_cuts.SongCount());
    m_pSongs->setRowCount(songs);
    for (int s = 0; s < songs; ++s) {
        const auto cell = [this, s](int column, const QString& text, bool editable) {
            QTableWidgetItem* item = m_pSongs->item(s, column);
            if (!item) {
                item = new QTableWidgetItem;
                m_pSongs->setItem(s, column, item);
            }
            item->setText(text);
            item->setFlags(editable ? item->flags() | Qt::ItemIsEditable
                                    : item->flags() & ~Qt::ItemIsEditable);
        };
        const uint64_t start = m_cuts.SongStart(size_t(s));
        cell(kColNumber, Q(SongNumber(s, numbering)), false);
        cell(kColTitle, Q(m_cuts.Titles()[size_t(s)]), true);
        cell(kColStart, TimeText(start), false);
        cell(kColLength, TimeText(m_cuts.SongEnd(size_t(s)) - start), false);
        cell(kColFile, {}, false);
        cell(kColClicks, {}, false);
    }
    m_pSideB->setRange(1, std::max(1, songs));
    m_bFilling = false;
    RefreshClickCounts();
}

void CReviewDlg::RefreshClickCounts() {
    m_bFilling = true;
    for (int s = 0; s < m_pSongs->rowCount() && s < int(m_cuts.SongCount()); ++s) {
        const size_t n = m_clicks.CountIn(m_cuts.SongStart(size_t(s)), m_cuts.SongEnd(size_t(s)));
        if (QTableWidgetItem* item = m_pSongs->item(s, kColClicks)) {
            item->setText(n == 0   ? QString()
                          : n == 1 ? QStringLiteral("1 click")
                                   : QStringLiteral("%1 clicks").arg(n));
        }
    }
    m_bFilling = false;
}

SongNumbering CReviewDlg::Numbering() const {
    SongNumbering numbering;
    if (m_pNumbering->currentIndex() != 1) return numbering;
    // Numbered by sides: the take begins on the chosen side, and the next side needs a song of
    // its own to begin with (none: the take is one side).
    numbering.cFirstSide = char('A' + std::clamp(m_pFirstSide->currentIndex(), 0, 25));
    if (m_pSideB->value() >= 2 && m_cuts.SongCount() >= 2 && numbering.cFirstSide < 'Z')
        numbering.sideStarts.push_back(std::min(m_pSideB->value(), int(m_cuts.SongCount())));
    return numbering;
}

QString CReviewDlg::DefaultPattern() const {
    // The names the take has now: SideA1.wav, SideA2.wav, ... for SideA.wav.
    const QFileInfo side(Q(m_take.strSide));
    const QString stem =
        side.completeBaseName().isEmpty() ? QStringLiteral("Song") : side.completeBaseName();
    QString escaped = stem;
    escaped.replace(QLatin1Char('{'), QStringLiteral("{{"))
        .replace(QLatin1Char('}'), QStringLiteral("}}"));
    return escaped + QStringLiteral("{n}") + Ext(KeepFormat(m_pFormat->currentIndex()));
}

void CReviewDlg::RefreshNames() {
    if (m_bFilling) return;
    const SongNames names = BuildSongNames(S(m_pPattern->text()), m_cuts.Titles(), Numbering(),
                                           SongTags{S(m_pAlbum->text()), S(m_pArtist->text())});
    m_bFilling = true;
    const SongNumbering numbering = Numbering();
    for (int s = 0; s < m_pSongs->rowCount(); ++s) {
        if (QTableWidgetItem* number = m_pSongs->item(s, kColNumber))
            number->setText(Q(SongNumber(s, numbering)));
        if (QTableWidgetItem* file = m_pSongs->item(s, kColFile))
            file->setText(names.Ok() ? Q(names.names[size_t(s)]) : QString());
    }
    m_bFilling = false;
    if (names.Ok()) {
        m_names = names.names;
        if (!m_bKeeping) {
            // Said while the suggested cuts are the only edit.
            const bool suggested = m_bSuggested && m_pUndo->index() == 1;
            m_pStatus->setText(
                !m_strKeepText.isEmpty() ? m_strKeepText
                : suggested ? QStringLiteral("The cuts shown are the ones the side's own levels "
                                             "suggest: Keep writes them, Undo puts back the cuts "
                                             "on disk.")
                            : QStringLiteral("Nothing on the disk changes until Keep."));
        }
    } else {
        m_names.clear();
        m_pStatus->setText(QStringLiteral("File names refused: ") + Q(DescribeNamesRefusal(names)));
    }
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::UpdateControls() {
    const bool idle = CanEdit();
    const bool hasCut = m_nCut >= 0;
    m_pPrev->setEnabled(idle && m_nCut > 0);
    m_pNext->setEnabled(idle && hasCut && m_nCut + 1 < int(m_cuts.Cuts().size()));
    m_pPlay->setEnabled(idle && hasCut);
    m_pPlayStart->setEnabled(idle && m_pPlayback);
    m_pSnap->setEnabled(idle && hasCut);
    m_pAdd->setEnabled(idle && m_nPosition >= 0 && m_cuts.CanAddAt(uint64_t(m_nPosition)));
    m_pJoin->setEnabled(idle && hasCut);
    m_pUndoButton->setEnabled(idle && m_pUndo->canUndo());
    m_pRedoButton->setEnabled(idle && m_pUndo->canRedo());
    // While the search runs, Repair Clicks is the button that cancels it.
    m_pRepair->setText(m_bSearching ? QStringLiteral("Cancel Repair")
                                    : QStringLiteral("Repair Clicks"));
    m_pRepair->setEnabled(m_bSearching ? !m_bCancelSearch : idle);
    m_pSensitivity->setEnabled(idle && !m_bSearching);
    const bool clicks = !m_clicks.Clicks().empty();
    m_pPrevClick->setEnabled(idle && clicks && m_nClick != 0);
    m_pNextClick->setEnabled(idle && clicks && m_nClick + 1 < int(m_clicks.Clicks().size()));
    m_pLeaveClick->setEnabled(idle && m_nClick >= 0);
    m_pRepairProgress->setVisible(m_bSearching);
    m_pSideB->setEnabled(idle && m_pNumbering->currentIndex() == 1);
    m_pFirstSide->setEnabled(idle && m_pNumbering->currentIndex() == 1);
    const bool flac = m_pFormat->currentIndex() == 1;
    m_pAlbum->setEnabled(idle && flac);
    m_pArtist->setEnabled(idle && flac);
    // While a keep runs, Keep is the button that cancels it.
    m_pKeep->setText(m_bKeeping ? QStringLiteral("Cancel Keep") : QStringLiteral("Keep"));
    m_pKeep->setEnabled(m_bKeeping ? !m_bCancelKeep : idle && !m_bSearching && !m_names.empty());
    for (QWidget* w : std::initializer_list<QWidget*>{m_pSongs, m_pPaste, m_pPlaceByTimes,
                                                      m_pNumbering, m_pPattern, m_pFormat, m_pCue})
        w->setEnabled(idle);
    m_pClose->setEnabled(!m_bKeeping);
    m_pKeepProgress->setVisible(m_bKeeping);
}

// ---------------------------------------------------------------------------------------------
// Names

void CReviewDlg::OnTitleEdited(int row, int column) {
    if (m_bFilling || column != kColTitle || row < 0 || row >= int(m_cuts.SongCount())) return;
    std::vector<std::string> titles = m_cuts.Titles();
    const std::string typed = S(m_pSongs->item(row, column)->text());
    if (titles[size_t(row)] == typed) return;
    titles[size_t(row)] = typed;
    m_pUndo->push(MakeSetTitles(m_cuts, std::move(titles), QStringLiteral("Title")));
}

void CReviewDlg::OnPasteClicked() { PasteTrackList(QApplication::clipboard()->text()); }

void CReviewDlg::PasteTrackList(const QString& text) {
    if (!CanEdit()) return;
    const std::vector<TrackListEntry> entries = ParseTrackListEntries(S(text));
    std::vector<std::string> parsed;
    m_pastedSeconds.clear();
    for (const TrackListEntry& e : entries) {
        parsed.push_back(e.strTitle);
        m_pastedSeconds.push_back(e.nSeconds);
    }
    m_pastedTitles = parsed;
    const bool timed =
        parsed.size() >= 2 &&
        std::any_of(m_pastedSeconds.begin(), m_pastedSeconds.end(), [](int s) { return s > 0; });
    m_pPlaceByTimes->setVisible(timed);
    if (parsed.empty()) {
        m_pStatus->setText(QStringLiteral("The clipboard holds no track list."));
        return;
    }
    std::vector<std::string> titles = m_cuts.Titles();
    for (size_t i = 0; i < titles.size() && i < parsed.size(); ++i) titles[i] = parsed[i];
    m_pUndo->push(MakeSetTitles(m_cuts, std::move(titles), QStringLiteral("Paste Track List")));
    // Titles are what the names were missing: a pattern left as it came takes them in.
    if (m_pPattern->text() == m_strDefaultPattern) {
        m_strDefaultPattern =
            QStringLiteral("{n:02} {title}") + Ext(KeepFormat(m_pFormat->currentIndex()));
        m_pPattern->setText(m_strDefaultPattern);
    }
    if (parsed.size() != m_cuts.SongCount()) {
        m_pStatus->setText(
            QStringLiteral("The track list has %1 titles for %2 songs%3.")
                .arg(parsed.size())
                .arg(m_cuts.SongCount())
                .arg(timed ? QStringLiteral("; its times can place the cuts") : QString()));
    }
}

void CReviewDlg::PlaceCutsByTimes() {
    if (!CanEdit() || m_pastedTitles.size() < 2) return;
    if (!m_pOverviewData) {
        m_pStatus->setText(QStringLiteral("The side is still being read; try again in a moment."));
        return;
    }
    const std::vector<uint64_t> before = m_cuts.Cuts();
    const std::vector<uint64_t> placed =
        CutsByTrackTimes(*m_pOverviewData, m_pastedSeconds, float(m_options.fGapLevel),
                         Frames(m_options.fGapSeconds));
    if (placed.size() + 1 != m_pastedTitles.size()) {
        m_pStatus->setText(QStringLiteral("The track list's times do not fit this side: its %1 "
                                          "songs could not all be placed.")
                               .arg(m_pastedTitles.size()));
        return;
    }
    m_pUndo->push(
        MakeSetCuts(m_cuts, placed, m_pastedTitles, QStringLiteral("Place the Cuts by the Times")));
    // Which cuts moved and by how much, in the order of the side.
    const double rate = std::max<uint32_t>(1, m_take.format.nSamplesPerSec);
    QStringList changes;
    for (size_t k = 0; k < placed.size(); ++k) {
        if (k >= before.size()) {
            changes << QStringLiteral("cut %1 added at %2").arg(k + 1).arg(TimeText(placed[k]));
            continue;
        }
        const double moved = (double(placed[k]) - double(before[k])) / rate;
        if (std::fabs(moved) >= 0.05) {
            changes << QStringLiteral("cut %1 moved %2 s")
                           .arg(k + 1)
                           .arg(QString::asprintf("%+.1f", moved));
        }
    }
    if (before.size() > placed.size()) {
        const size_t gone = before.size() - placed.size();
        changes << (gone == 1 ? QStringLiteral("1 cut removed")
                              : QStringLiteral("%1 cuts removed").arg(gone));
    }
    m_pStatus->setText(changes.isEmpty()
                           ? QStringLiteral("The cuts already lie where the times put them.")
                           : QStringLiteral("Placed by the times: %1.").arg(changes.join(", ")));
}

void CReviewDlg::OnFormatChanged() {
    const QString ext = Ext(KeepFormat(m_pFormat->currentIndex()));
    const QString other =
        ext == QStringLiteral(".wav") ? QStringLiteral(".flac") : QStringLiteral(".wav");
    const bool wasDefault = m_pPattern->text() == m_strDefaultPattern;
    QString pattern = m_pPattern->text();
    if (pattern.endsWith(other, Qt::CaseInsensitive)) pattern = pattern.chopped(other.size()) + ext;
    if (m_strDefaultPattern.endsWith(other))
        m_strDefaultPattern = m_strDefaultPattern.chopped(other.size()) + ext;
    if (wasDefault) pattern = m_strDefaultPattern;
    m_pPattern->setText(pattern);
    RefreshNames();
}

// ---------------------------------------------------------------------------------------------
// Listening

void CReviewDlg::Play(uint64_t first, uint64_t last, PlaybackSource source) {
    if (!m_pPlayback || last <= first) return;
    if (!m_pPlayback->IsOpen()) {
        if (const PlaybackError error = m_pPlayback->Open(m_take.format)) {
            m_pStatus->setText(QStringLiteral("Cannot play: ") + Q(error.text));
            return;
        }
    }
    if (!source) {
        const std::shared_ptr<CTakeReader> reader = m_pReader;
        source = [reader](uint64_t a, size_t n, void* dst) {
            return reader->ReadFrames(a, n, dst);
        };
    }
    const PlaybackError error = m_pPlayback->Play(std::move(source), first, last);
    if (error) {
        m_pStatus->setText(QStringLiteral("Cannot play: ") + Q(error.text));
        return;
    }
    m_nPosition = int64_t(first);
    m_pPlayTimer->start();
    m_pPlay->setText(QStringLiteral("Stop"));
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::PlayAroundCut() {
    if (m_pPlayback && m_pPlayback->GetState() == PlaybackState::Playing) {
        StopPlaying();
        return;
    }
    if (m_nCut < 0) return;
    const uint64_t cut = m_cuts.Cuts()[size_t(m_nCut)];
    const uint64_t around = Frames(kAroundCutSeconds);
    Play(cut > around ? cut - around : 0, std::min(m_take.nFrames, cut + around));
}

void CReviewDlg::PlayAroundClick(bool repaired) {
    if (m_pPlayback && m_pPlayback->GetState() == PlaybackState::Playing) {
        StopPlaying();
        return;
    }
    if (m_nClick < 0) return;
    const ReviewClick& click = m_clicks.Clicks()[size_t(m_nClick)];
    const uint64_t around = Frames(kAroundClickSeconds);
    const uint64_t first = click.nFirst > around ? click.nFirst - around : 0;
    const uint64_t last = std::min(m_take.nFrames, click.nEnd + around);
    // The stretch's repairs, copied for the playback thread; as it was, the click's own are out.
    auto repairs = std::make_shared<std::vector<ClickRepair>>();
    const std::vector<ClickRepair>& all = m_clicks.Repairs();
    for (size_t i = 0; i < all.size() && all[i].nFrame < last; ++i) {
        const bool own = i >= click.nRepair && i < click.nRepair + click.nRepairs;
        if (all[i].nFrame + all[i].nLength > first && (repaired || !own))
            repairs->push_back(all[i]);
    }
    const std::shared_ptr<CTakeReader> reader = m_pReader;
    Play(first, last, [reader, repairs, format = m_take.format](uint64_t a, size_t n, void* dst) {
        const size_t got = reader->ReadFrames(a, n, dst);
        ApplyRepairsAt(dst, format, a, got, *repairs, true);
        return got;
    });
}

void CReviewDlg::PlaySongStart(int song) {
    if (song < 0 || song >= int(m_cuts.SongCount())) return;
    const uint64_t start = m_cuts.SongStart(size_t(song));
    Play(start, std::min(m_cuts.SongEnd(size_t(song)), start + Frames(kSongStartSeconds)));
}

void CReviewDlg::StopPlaying() {
    if (!m_pPlayback) return;
    m_pPlayback->Stop();
    OnPlaybackTick();
    m_pPlayTimer->stop();
    m_pPlay->setText(QStringLiteral("Play Cut"));
}

void CReviewDlg::OnPlaybackTick() {
    if (!m_pPlayback) return;
    m_nPosition = int64_t(m_pPlayback->GetPosition());
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::OnPlaybackEnded() {
    if (!m_pPlayback) return;
    OnPlaybackTick();
    m_pPlayTimer->stop();
    m_pPlay->setText(QStringLiteral("Play Cut"));
    if (m_pPlayback->GetState() == PlaybackState::Failed)
        m_pStatus->setText(QStringLiteral("Playback stopped: ") + Q(m_pPlayback->GetFailure()));
}

// ---------------------------------------------------------------------------------------------
// Clicks

void CReviewDlg::RepairClicks() {
    if (!CanEdit() || m_bSearching) return;
    if (!CClickRepairStream::Supports(m_take.format)) {
        m_pStatus->setText(
            QStringLiteral("Clicks are repaired in takes of 16-bit or 32-bit float samples."));
        return;
    }
    if (m_searcher.joinable()) m_searcher.join();
    m_bCancelSearch = false;
    m_bSearching = true;
    m_pRepairProgress->setValue(0);
    m_pStatus->setText(QStringLiteral("Looking for clicks..."));
    UpdateControls();
    const std::shared_ptr<CTakeReader> reader = m_pReader;
    const ClickSensitivity sensitivity = ClickSensitivity(m_pSensitivity->currentIndex());
    // The songs as they are cut now; the repairs are the take's frames, whatever moves later.
    m_searcher = std::thread([this, reader, cuts = m_cuts.Cuts(), sensitivity] {
        std::vector<ClickRepair> repairs;
        int permille = -1;
        const ClickSearch outcome = FindTakeClicks(
            *reader, cuts, sensitivity,
            [this, &permille](uint64_t done, uint64_t total) {
                const int now = total > 0 ? int(done * 1000 / total) : 0;
                if (now != permille) {
                    permille = now;
                    QMetaObject::invokeMethod(
                        this, [this, now] { m_pRepairProgress->setValue(now); },
                        Qt::QueuedConnection);
                }
                return !m_bCancelSearch.load();
            },
            &repairs);
        QMetaObject::invokeMethod(
            this,
            [this, outcome, repairs = std::move(repairs)] { OnClicksFound(outcome, repairs); },
            Qt::QueuedConnection);
    });
}

void CReviewDlg::CancelRepairClicks() {
    if (!m_bSearching) return;
    m_bCancelSearch = true;
    m_pStatus->setText(QStringLiteral("Cancelling..."));
    UpdateControls();
}

void CReviewDlg::OnClicksFound(ClickSearch outcome, const std::vector<ClickRepair>& repairs) {
    if (m_searcher.joinable()) m_searcher.join();
    m_bSearching = false;
    if (outcome == ClickSearch::Cancelled) {
        m_pStatus->setText(QStringLiteral("Repair Clicks was cancelled; nothing was changed."));
    } else if (outcome == ClickSearch::ReadFailed) {
        m_pStatus->setText(
            QStringLiteral("The side could not be read whole; no clicks were repaired."));
    } else if (repairs.empty() && m_clicks.Repairs().empty()) {
        m_pStatus->setText(QStringLiteral("No clicks found."));
    } else {
        m_pUndo->push(MakeSetRepairs(m_clicks, repairs, QStringLiteral("Repair Clicks")));
        const size_t clicks = m_clicks.Clicks().size();
        size_t songs = 0;
        for (size_t s = 0; s < m_cuts.SongCount(); ++s)
            songs += m_clicks.CountIn(m_cuts.SongStart(s), m_cuts.SongEnd(s)) > 0;
        m_pStatus->setText(
            clicks == 0 ? QStringLiteral("No clicks found.")
                        : QStringLiteral("Repaired %1 %2 in %3 %4; Keep writes them.")
                              .arg(clicks)
                              .arg(clicks == 1 ? QStringLiteral("click") : QStringLiteral("clicks"))
                              .arg(songs)
                              .arg(songs == 1 ? QStringLiteral("song") : QStringLiteral("songs")));
    }
    UpdateControls();
    emit ClicksSearched();
}

void CReviewDlg::SelectClick(int click) {
    const int count = int(m_clicks.Clicks().size());
    m_nClick = count == 0 ? -1 : std::clamp(click, 0, count - 1);
    CentreZoom();
    RefreshViews();
    UpdateControls();
}

void CReviewDlg::LeaveSelectedClick() {
    if (!CanEdit() || m_nClick < 0) return;
    m_pUndo->push(MakeLeaveClick(m_clicks, size_t(m_nClick)));
}

void CReviewDlg::OnClicksChanged(int click) {
    m_nClick = click;
    if (m_nClick >= 0) {
        const uint64_t at = m_clicks.Clicks()[size_t(m_nClick)].nFirst;
        if (at < m_pZoom->First() || at >= m_pZoom->Last()) CentreZoom();
    }
    RefreshClickCounts();
    RefreshViews();
    UpdateControls();
}

// ---------------------------------------------------------------------------------------------
// Keep

QString CReviewDlg::KeepOutcomeText(const KeepOutcome& outcome) {
    if (!outcome.Ok()) return QStringLiteral("Not kept: ") + Q(DescribeKeepOutcome(outcome));
    if (outcome.files.empty()) return QStringLiteral("Kept.");
    const QString first = QFileInfo(Q(outcome.files.front())).fileName();
    const QString last = QFileInfo(Q(outcome.files.back())).fileName();
    const QString kept =
        outcome.files.size() == 1
            ? QStringLiteral("Kept as %1.").arg(first)
            : QStringLiteral("Kept %1 songs: %2 to %3.").arg(outcome.files.size()).arg(first, last);
    const std::string shortened = DescribeShortenedNames(outcome);
    return shortened.empty() ? kept : kept + QLatin1Char(' ') + Q(shortened);
}

void CReviewDlg::Keep() {
    if (!CanEdit() || m_names.empty()) return;
    if (m_bSearching) {
        m_pStatus->setText(
            QStringLiteral("Clicks are still being looked for: wait, or cancel "
                           "Repair Clicks, then Keep."));
        return;
    }
    StopPlaying();
    KeepPlan plan;
    plan.cuts = m_cuts.Cuts();
    plan.titles = m_cuts.Titles();
    plan.fileNames = m_names;
    plan.repairs = m_clicks.Repairs();
    plan.format = m_pFormat->currentIndex() == 1 ? KeepFormat::Flac : KeepFormat::Wav;
    if (plan.format == KeepFormat::Flac) {
        plan.strAlbum = S(m_pAlbum->text());
        plan.strArtist = S(m_pArtist->text());
    }
    if (m_pCue->isChecked()) {
        const QFileInfo side(Q(m_take.strSide));
        const QString stem = side.absolutePath() + QLatin1Char('/') + side.completeBaseName();
        plan.strLabelFile = S(stem + QStringLiteral(".txt"));
        plan.strCueSheet = S(stem + QStringLiteral(".cue"));
    }
    // Reports come from the keeping thread, about a thousand at most; the answer says whether
    // to go on.
    plan.onProgress = [this, permille = -1](uint64_t done, uint64_t total) mutable {
        const int now = total > 0 ? int(done * 1000 / total) : 0;
        if (now != permille) {
            permille = now;
            QMetaObject::invokeMethod(
                this, [this, now] { m_pKeepProgress->setValue(now); }, Qt::QueuedConnection);
        }
        return !m_bCancelKeep.load();
    };
    if (m_keeper.joinable()) m_keeper.join();
    m_bCancelKeep = false;
    m_bKeeping = true;
    m_pKeepProgress->setValue(0);
    m_pStatus->setText(QStringLiteral("Keeping..."));
    UpdateControls();
    const Take take = m_take;
    // The files are written and synced off the window thread; the window stays live.
    m_keeper = std::thread([this, take, plan] {
        KeepOutcome outcome = KeepTake(take, plan);
        QMetaObject::invokeMethod(
            this, [this, outcome, titles = plan.titles] { OnKeepDone(outcome, titles); },
            Qt::QueuedConnection);
    });
}

void CReviewDlg::CancelKeep() {
    if (!m_bKeeping) return;
    m_bCancelKeep = true;
    m_pStatus->setText(QStringLiteral("Cancelling..."));
    UpdateControls();
}

void CReviewDlg::OnKeepDone(const KeepOutcome& outcome, const std::vector<std::string>& titles) {
    if (m_keeper.joinable()) m_keeper.join();
    m_bKeeping = false;
    m_strKeepText = KeepOutcomeText(outcome);
    if (outcome.Ok() && !outcome.files.empty()) {
        // From now on the kept files are the take.
        const TakeOpening reopened = OpenTakeFiles(outcome.files, m_take.strSide);
        if (reopened.Ok()) {
            LoadTake(reopened.take, titles);
        } else {
            // FLAC songs: the WAV take is gone and there is nothing left here to edit.
            m_bKeptAway = true;
            StopPlaying();
        }
    }
    // What is on the disk now is what the window shows.
    if (outcome.Ok()) m_pUndo->setClean();
    m_pStatus->setText(m_strKeepText);
    UpdateControls();
    emit KeepFinished(outcome.Ok());
    // Asked to keep before closing: a keep that failed leaves the window open with its reason.
    if (std::exchange(m_bCloseAfterKeep, false) && outcome.Ok()) reject();
}

// ---------------------------------------------------------------------------------------------
// Keys and closing

void CReviewDlg::keyPressEvent(QKeyEvent* event) {
    if (HandleKey(event)) return;
    // Escape leaves as Close does, by way of the question about unkept edits.
    if (event->matches(QKeySequence::Cancel)) {
        close();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool CReviewDlg::eventFilter(QObject* watched, QEvent* event) {
    if ((watched == m_pZoom || watched == m_pOverview) && event->type() == QEvent::KeyPress)
        return HandleKey(static_cast<QKeyEvent*>(event));
    return QDialog::eventFilter(watched, event);
}

bool CReviewDlg::HandleKey(QKeyEvent* event) {
    const Qt::KeyboardModifiers mods = event->modifiers() & ~Qt::KeypadModifier;
    const int64_t step = mods & Qt::ShiftModifier     ? 1
                         : mods & Qt::ControlModifier ? int64_t(Frames(kBigStepSeconds))
                                                      : int64_t(Frames(kStepSeconds));
    if (!CanEdit()) return false;
    switch (event->key()) {
        case Qt::Key_Left:
            MoveSelectedCut(-step);
            return true;
        case Qt::Key_Right:
            MoveSelectedCut(step);
            return true;
        case Qt::Key_Up:
            if (mods & Qt::ControlModifier) {
                m_pPrevClick->click();
            } else {
                SelectCut(m_nCut - 1);
            }
            return true;
        case Qt::Key_Down:
            if (mods & Qt::ControlModifier) {
                m_pNextClick->click();
            } else {
                SelectCut(m_nCut + 1);
            }
            return true;
        case Qt::Key_Space:
            if (m_nClick >= 0) {
                PlayAroundClick(!(mods & Qt::ShiftModifier));
            } else {
                PlayAroundCut();
            }
            return true;
        case Qt::Key_Insert:
            AddCutAtPlayPosition();
            return true;
        case Qt::Key_Delete:
        case Qt::Key_Backspace:
            if (m_nClick >= 0) {
                LeaveSelectedClick();
            } else {
                JoinAtSelectedCut();
            }
            return true;
        case Qt::Key_S:
            if (mods == Qt::NoModifier) {
                SnapSelectedCut();
                return true;
            }
            break;
        case Qt::Key_Plus:
        case Qt::Key_Equal:
            Zoom(0.5);
            return true;
        case Qt::Key_Minus:
            Zoom(2.0);
            return true;
        default:
            break;
    }
    return false;
}

bool CReviewDlg::HasUnkeptEdits() const { return !m_pUndo->isClean(); }

bool CReviewDlg::MayCloseWithUnkeptEdits() {
    // Steps on the undo stack since the take was opened or last kept; a clean state lost to
    // undo and new edits leaves only "some".
    const int steps =
        m_pUndo->cleanIndex() >= 0 ? std::abs(m_pUndo->index() - m_pUndo->cleanIndex()) : 0;
    const QString what =
        steps == 1  ? QStringLiteral("1 change to the cuts, titles or clicks is")
        : steps > 1 ? QStringLiteral("%1 changes to the cuts, titles or clicks are").arg(steps)
                    : QStringLiteral("Changes to the cuts, titles or clicks are");
    QMessageBox box(QMessageBox::Question, windowTitle(),
                    QStringLiteral("Keep your changes to this take before closing?"),
                    QMessageBox::Save | QMessageBox::Discard | QMessageBox::Cancel, this);
    box.setInformativeText(
        what + QStringLiteral(" not kept yet. Discard closes the window and leaves the song "
                              "files as they were."));
    box.setTextFormat(Qt::PlainText);
    box.button(QMessageBox::Save)->setText(QStringLiteral("Keep"));
    box.button(QMessageBox::Discard)->setText(QStringLiteral("Discard"));
    box.setDefaultButton(QMessageBox::Save);
    switch (box.exec()) {
        case QMessageBox::Discard:
            return true;
        case QMessageBox::Save:
            // Only a keep that starts can close the window; one that cannot (names refused)
            // leaves the reason on the line at the bottom.
            Keep();
            m_bCloseAfterKeep = m_bKeeping;
            return false;
        default:
            return false;
    }
}

void CReviewDlg::closeEvent(QCloseEvent* event) {
    // A keep must finish: its files are half written until it does. The Close button, the
    // title bar and Escape all come here.
    if (m_bKeeping || (HasUnkeptEdits() && !MayCloseWithUnkeptEdits())) {
        event->ignore();
        return;
    }
    QDialog::closeEvent(event);
}

void CReviewDlg::reject() {
    // Also how the main window closes it when the program is told to end: that must not wait
    // for an answer, so only the user's ways out (closeEvent, Escape) ask about unkept edits.
    if (m_bKeeping) return;
    StopPlaying();
    QDialog::reject();
}
