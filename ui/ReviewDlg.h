// The Review window: a take (a side's song files, or one side WAV) shown whole and around the
// selected cut, listened to around its cuts, re-cut, its songs named, and kept. Nothing on the
// disk changes until Keep, which rewrites the songs at the new cuts off the window thread and
// replaces the old files only once every new one is whole.
//
// The overview's envelope is computed on a background thread once, with a progress bar; the
// zoomed view reads samples from the take itself when it is zoomed in further than the
// envelope resolves. Every edit of the cuts or titles goes on an undo stack.
//
// Repair Clicks looks for the clicks of the record's surface song by song on a worker thread
// (with progress, and cancelled by the same button); the repairs it finds are one undoable edit,
// marked in both views and counted in the song list, and each can be listened to repaired or as
// it was and left as it was. The take stays as it is on the disk; Keep writes the repairs.
//
// Keys, in either waveform view: Left/Right move the selected cut by 10 ms, with Shift by one
// frame, with Ctrl by 1 s; Up/Down select the previous/next cut; Space plays around the cut or
// stops; Insert adds a cut at the play position; Delete joins the songs at the cut; S snaps the
// cut to the quietest point near it; + and - zoom. Ctrl+Up/Ctrl+Down select the previous/next
// repaired click; while a click is selected (until a cut is), Space plays around it repaired,
// Shift+Space as the take has it, and Delete leaves it as it was. Ctrl+Z undoes, Ctrl+Shift+Z
// redoes. F1 opens the window's help page.
//
// Closing it (Close, the title bar, Escape) with edits not yet kept asks whether to keep them
// first; Escape in a title being typed only takes back the typing.
//
// Made by the main window and run modally. User-interface thread, except where marked.
#pragma once

#include <QDialog>
#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "audio/playback/PlaybackBackend.h"
#include "take/ClickRepair.h"
#include "take/Keep.h"
#include "take/Overview.h"
#include "take/SongNames.h"
#include "take/Take.h"
#include "ui/Appearance.h"
#include "ui/ReviewClicks.h"
#include "ui/ReviewCuts.h"
#include "ui/WaveView.h"

class IProfileStore;
class QCheckBox;
class QComboBox;
class QLabel;
class QLineEdit;
class QProgressBar;
class QPushButton;
class QSpinBox;
class QTableWidget;
class QTimer;
class QUndoStack;

// What the window needs besides the take.
struct ReviewOptions {
    double fGapLevel = 0.0178;  // the Gap Level as a fraction of full scale (-35 dB)
    double fGapSeconds = 1.0;   // the Gap Size: the width of the quiet window a cut snaps to
    SchemeColours scheme;
    // What opening the take has to say (DescribeLeftOut), on a line of its own; "" for none.
    std::string strNotice;
    // Cuts to review in place of the take's own (frames, ascending): an edit the window opens
    // with, which Keep writes and Undo takes back. Empty: the take's own.
    std::vector<uint64_t> suggestedCuts;
    // Where the click repair's sensitivity is remembered; null: Normal, not remembered.
    IProfileStore* pProfile = nullptr;
};

class CReviewDlg : public QDialog {
    Q_OBJECT

public:
    // take: opened by OpenTake; playback: where it is heard (opened on the first Play).
    CReviewDlg(const Take& take, std::unique_ptr<IPlaybackBackend> playback,
               const ReviewOptions& options, QWidget* parent = nullptr);
    ~CReviewDlg() override;

    // Steps of how far Left/Right move a cut, in frames.
    static constexpr double kStepSeconds = 0.010;
    static constexpr double kBigStepSeconds = 1.0;
    // Played on either side of a cut.
    static constexpr double kAroundCutSeconds = 3.0;
    // How far a snap looks on either side of the cut.
    static constexpr double kSnapRadiusSeconds = 2.0;
    // Played on either side of a click.
    static constexpr double kAroundClickSeconds = 1.0;

    void SelectCut(int cut);
    int SelectedCut() const { return m_nCut; }
    void MoveSelectedCut(int64_t frames);
    void SnapSelectedCut();
    void AddCutAtPlayPosition();
    void JoinAtSelectedCut();
    void PlayAroundCut();
    void PlaySongStart(int song);
    void StopPlaying();
    void PasteTrackList(const QString& text);
    // The cuts where the last pasted track list's times put them (offered once a list with
    // times is pasted and the overview is ready); one undoable edit.
    void PlaceCutsByTimes();
    void Keep();
    // Looks for clicks in every song between the cuts as they are now, off the window thread;
    // the repairs found replace any there were, as one undoable edit.
    void RepairClicks();
    void CancelRepairClicks();
    void SelectClick(int click);
    int SelectedClick() const { return m_nClick; }
    // Around the selected click: with every repair, or with all but the click's (as it was).
    void PlayAroundClick(bool repaired);
    void LeaveSelectedClick();
    // Asks a running keep to stop; it changes nothing when it stops before the old songs are
    // replaced, and finishes otherwise.
    void CancelKeep();

    // The overview of the whole side, once its background computation is done.
    bool HasOverview() const { return m_pOverviewData != nullptr; }

    const CReviewCuts& GetCuts() const { return m_cuts; }
    const CReviewClicks& GetClicks() const { return m_clicks; }
    bool IsRepairing() const { return m_bSearching; }
    const Take& GetTake() const { return m_take; }
    QUndoStack& GetUndoStack() { return *m_pUndo; }
    CWaveView& GetOverview() { return *m_pOverview; }
    CWaveView& GetZoom() { return *m_pZoom; }
    QTableWidget& GetSongList() { return *m_pSongs; }
    QLineEdit& GetPatternField() { return *m_pPattern; }
    QComboBox& GetNumberingBox() { return *m_pNumbering; }
    QSpinBox& GetSideBox() { return *m_pSideB; }
    QComboBox& GetFirstSideBox() { return *m_pFirstSide; }
    QComboBox& GetFormatBox() { return *m_pFormat; }
    QLineEdit& GetAlbumField() { return *m_pAlbum; }
    QLineEdit& GetArtistField() { return *m_pArtist; }
    QCheckBox& GetCueBox() { return *m_pCue; }
    QPushButton& GetKeepButton() { return *m_pKeep; }
    QComboBox& GetSensitivityBox() { return *m_pSensitivity; }
    QPushButton& GetRepairButton() { return *m_pRepair; }
    QPushButton& GetLeaveClickButton() { return *m_pLeaveClick; }
    QPushButton& GetPasteButton() { return *m_pPaste; }
    QPushButton& GetPlaceByTimesButton() { return *m_pPlaceByTimes; }
    QLabel& GetStatusLine() { return *m_pStatus; }
    QLabel& GetNoticeLine() { return *m_pNotice; }
    bool IsKeeping() const { return m_bKeeping; }
    // The cuts and names may be changed: no keep runs, and the take is still one to review.
    bool CanEdit() const { return !m_bKeeping && !m_bKeptAway; }
    // Cuts or titles differ from the take's files: closing now would lose them.
    bool HasUnkeptEdits() const;
    // The names the pattern gives now (empty while it is refused).
    const std::vector<std::string>& SongFileNames() const { return m_names; }
    // The text of the last keep's outcome.
    QString LastKeepText() const { return m_strKeepText; }

    // The text of a keep's outcome, the one place it is worded.
    static QString KeepOutcomeText(const KeepOutcome& outcome);

signals:
    void KeepFinished(bool ok);
    void OverviewReady();
    // A search for clicks ended: found, cancelled or failed.
    void ClicksSearched();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;

private:
    void CreateControls();
    // The window's keys (see above); false for a key it leaves to others.
    bool HandleKey(QKeyEvent* event);
    void ApplyScheme();
    void LoadTake(const Take& take, std::vector<std::string> titles);
    void StartOverview();
    void OnCutsChanged(int cut);
    void RefreshViews();
    void RefreshSongList();
    void RefreshClickCounts();
    void OnClicksChanged(int click);
    void OnClicksFound(ClickSearch outcome, const std::vector<ClickRepair>& repairs);
    void RefreshNames();
    void UpdateControls();
    // The zoomed view around the selected cut, span frames wide (0: as wide as it is).
    void CentreZoom(uint64_t span = 0);
    void Zoom(double factor);
    void OnTitleEdited(int row, int column);
    void OnZoomClicked(quint64 frame);
    void OnOverviewClicked(quint64 frame);
    void OnCutDragged(int cut, quint64 frame, bool finished);
    void OnFormatChanged();
    void OnPasteClicked();
    // source: the take's own frames when empty.
    void Play(uint64_t first, uint64_t last, PlaybackSource source = {});
    void OnPlaybackTick();
    void OnPlaybackEnded();
    void OnKeepDone(const KeepOutcome& outcome, const std::vector<std::string>& titles);
    // Asked before the window closes with unkept edits: false to stay open (Cancel, or a keep
    // that now runs and closes the window once it succeeds).
    bool MayCloseWithUnkeptEdits();
    void OnOverviewProgress(uint64_t done, uint64_t total);
    void OnOverviewDone();
    void PeaksOf(uint64_t first, uint64_t last, int columns, std::vector<PeakPair>& out) const;
    SongNumbering Numbering() const;
    QString DefaultPattern() const;
    uint64_t Frames(double seconds) const;
    QString TimeText(uint64_t frame) const;

    Take m_take;
    std::shared_ptr<CTakeReader> m_pReader;
    std::unique_ptr<IPlaybackBackend> m_pPlayback;
    ReviewOptions m_options;
    CReviewCuts m_cuts;
    CReviewClicks m_clicks;
    int m_nClick = -1;  // the selected click, -1 for none
    QUndoStack* m_pUndo = nullptr;
    int m_nCut = -1;           // the selected cut, -1 for none
    int64_t m_nPosition = -1;  // where the play position marker stands (frames), -1 for none
    std::vector<std::string> m_names;

    // The side's peaks: computed once in the background; until then a blank one that draws
    // only what is narrow enough to read from the take at once.
    std::unique_ptr<COverviewTask> m_pOverviewTask;
    std::shared_ptr<const COverview> m_pOverviewData;
    std::unique_ptr<COverview> m_pBlankOverview;

    std::thread m_keeper;
    std::atomic<bool> m_bKeeping{false};
    std::atomic<bool> m_bCancelKeep{false};
    std::thread m_searcher;     // looks for clicks
    bool m_bSearching = false;  // until its outcome has come back
    std::atomic<bool> m_bCancelSearch{false};
    bool m_bKeptAway = false;  // kept as files that are no take to review (FLAC)
    bool m_bCloseAfterKeep = false;
    QString m_strKeepText;
    QString m_strDefaultPattern;
    bool m_bFilling = false;  // the song list is being filled, not edited

    QLabel* m_pHeading = nullptr;
    CWaveView* m_pOverview = nullptr;
    QProgressBar* m_pProgress = nullptr;
    CWaveView* m_pZoom = nullptr;
    QLabel* m_pCutLine = nullptr;
    QLabel* m_pNotice = nullptr;  // the take's notice, hidden without one
    QPushButton* m_pPrev = nullptr;
    QPushButton* m_pNext = nullptr;
    QPushButton* m_pPlay = nullptr;
    QPushButton* m_pPlayStart = nullptr;
    QPushButton* m_pSnap = nullptr;
    QPushButton* m_pAdd = nullptr;
    QPushButton* m_pJoin = nullptr;
    QPushButton* m_pUndoButton = nullptr;
    QPushButton* m_pRedoButton = nullptr;
    QComboBox* m_pSensitivity = nullptr;
    QPushButton* m_pRepair = nullptr;
    QPushButton* m_pPrevClick = nullptr;
    QPushButton* m_pNextClick = nullptr;
    QPushButton* m_pLeaveClick = nullptr;
    QProgressBar* m_pRepairProgress = nullptr;
    QTableWidget* m_pSongs = nullptr;
    QPushButton* m_pPaste = nullptr;
    QPushButton* m_pPlaceByTimes = nullptr;  // shown while a pasted list has times
    std::vector<std::string> m_pastedTitles;
    std::vector<int> m_pastedSeconds;  // per title, -1 where it has no time
    bool m_bSuggested = false;         // the first edit is the suggested cuts
    QComboBox* m_pNumbering = nullptr;
    QComboBox* m_pFirstSide = nullptr;
    QSpinBox* m_pSideB = nullptr;
    QLineEdit* m_pPattern = nullptr;
    QComboBox* m_pFormat = nullptr;
    QLineEdit* m_pAlbum = nullptr;
    QLineEdit* m_pArtist = nullptr;
    QCheckBox* m_pCue = nullptr;
    QPushButton* m_pKeep = nullptr;
    QPushButton* m_pClose = nullptr;
    QLabel* m_pStatus = nullptr;
    QProgressBar* m_pKeepProgress = nullptr;
    QTimer* m_pPlayTimer = nullptr;
};
