// The program's only main window, built from dialog template 102: Record and Stop with the
// Ctrl+S hot key, the base-file-name list, presets, the Recording Info lines, the two LED
// meters and the colour scheme. It owns every long-lived object of a run: the recording
// control (analyser, writer, capture device, lock, event), the level monitor that lights the
// meters while no recording runs, the preset list, the meters and their thread. The application
// runs it modally; its exit path (Exit, the close box, SIGTERM, the session ending) finishes a
// running recording and saves presets and settings.
//
// Everything here runs on the user-interface thread except PostRecordingProgress and
// PostRecordingDone (recording thread), which only leave the message in the mailbox and wake
// the user-interface thread through an eventfd: no allocation, no Qt call.
#pragma once

#include <QDialog>
#include <QPixmap>
#include <array>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "audio/capture/CaptureBackend.h"
#include "engine/RecSettings.h"
#include "engine/RecordingMailbox.h"
#include "engine/RecordingSink.h"
#include "engine/SideSummary.h"
#include "settings/Prompter.h"
#include "ui/Appearance.h"
#include "ui/LedMeter.h"
#include "ui/MeterThread.h"
#include "ui/RecorderView.h"
#include "ui/RecordingPresenter.h"

class QCheckBox;
class QComboBox;
class QLabel;
class QPushButton;
class QShortcut;
class QSocketNotifier;
class CComboPresetBox;
class CDesktopNotifier;
class CGlobalHotKey;
class CLevelMonitor;
class CMixerButtons;
class CPresetStore;
class CRecorderToolTip;
class CRecordingControl;
class CRecordingPresenter;
class CSideSummaryDlg;
class CSleepInhibitor;
struct PersistentSettings;
class IProfileStore;
class IPlaybackBackend;

class CRecorderDlg : public QDialog,
                     public IRecorderView,
                     public IRecordingSink,
                     public IRecordingObserver,
                     public IPrompter {
    Q_OBJECT

public:
    // backend: the capture backend of the recording (PortAudio in the program); profile: where
    // the persistent settings live. The profile must outlive the window. Without a monitor
    // backend the meters stay dark between recordings.
    CRecorderDlg(std::unique_ptr<ICaptureBackend> backend, IProfileStore& profile,
                 QWidget* parent = nullptr);
    // monitorBackend: a second instance of the capture backend, for the level monitor.
    CRecorderDlg(std::unique_ptr<ICaptureBackend> backend,
                 std::unique_ptr<ICaptureBackend> monitorBackend, IProfileStore& profile,
                 QWidget* parent = nullptr);
    ~CRecorderDlg() override;

    // Command handlers.
    void OnRecord();
    void OnStop();
    void OnNew() override;
    void OnSelChangeBaseFile();
    void OnSelChangePreset();
    // Runs the Custom Settings dialog; Done applies its record. The preset box is refilled
    // however the dialog ends, since presets may have been added or deleted either way.
    void OnCustomize();
    void OnPurple();
    // The "Monitor" check box.
    void OnMonitor();
    void OnSysColorChange();
    // Review...: asks for a take (a side WAV or any song file of one), starting in the base
    // file's folder, and opens it in the Review window.
    void OnReview();
    // Opens the Review window on the take that path belongs to, or says why it cannot. Nothing
    // happens while a recording runs.
    // suggested: cuts to review in place of the take's own (the summary's check), or none.
    void OpenReview(const std::string& path, const std::vector<uint64_t>& suggested = {});
    // Where the Review window plays: PortAudio's output unless a test gives another.
    using PlaybackFactory = std::function<std::unique_ptr<IPlaybackBackend>()>;
    void SetPlaybackFactory(PlaybackFactory factory) { m_makePlayback = std::move(factory); }
    void OnHotKey();
    // Exit: stops a running recording, saves presets and settings, ends the dialog. Runs once.
    // A recording whose thread has not ended within m_nExitWaitMs (a stalled disk) is left to
    // FinishLeftRecording: the window does not wait for the disk.
    void OnOK();
    int m_nExitWaitMs = 3000;
    // After the dialog has ended: finishes a recording the exit left running, waiting as long as
    // the disk takes, and returns what went wrong, in words (none: everything is written).
    std::vector<std::string> FinishLeftRecording();
    // The close box, Ctrl+Q, SIGTERM and the session ending come here. Inside a command (a pause
    // of Record, say) the exit waits until the command has returned.
    void RequestClose();

    // IRecorderView
    MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override;
    void SetItemText(int id, const std::string& text) override;
    void EnableItem(int id, bool enable) override;
    void FocusItem(int id) override;
    void SetCaption(const std::string& caption) override;
    void ShowRecordingPicture(bool active) override;
    void SetWaitCursor(bool on) override;
    bool IsMinimized() override;
    bool HasBaseFileSelection() override;
    std::string GetBaseFileText() override;
    std::string GetBaseFilePath() override;
    bool Wait(int ms) override;

    // IRecordingObserver: holds the sleep inhibitor while a recording runs; when one has ended,
    // lets it go, with the window in the background sends the desktop notification and shows
    // the end-of-side summary (before any box of the end, which may wait for hours; the summary
    // is not modal, and its buttons answer once the boxes have been). Record hides the summary
    // of the side before.
    void OnRecordingStarting() override;
    void OnRecordingStarted() override;
    void OnRecordingEnded(const RecordingReport& report) override;

    // IRecordingSink
    // Recording thread.
    void PostRecordingProgress(const RecordingProgress& progress) override;
    // Recording thread.
    void PostRecordingDone() override;

    // The base-file-name list. AddBaseFile inserts a path at the top and selects it; GetCurSel
    // is -1 when nothing is selected.
    void AddBaseFile(const std::string& fullPath);
    int GetCurSel();
    int GetCount();
    std::string GetFullPath(int index);

    // IPrompter
    bool AskYesNo(const std::string& text, const std::string& title, PromptIcon icon) override;
    void ShowMessage(const std::string& text, const std::string& title, PromptIcon icon) override;

    // The control with that id (null for none).
    QWidget* GetItem(int id) const;
    CRecordingControl& GetControl() { return *m_pControl; }
    CRecordingPresenter& GetPresenter() { return *m_pPresenter; }
    CPresetStore& GetPresetStore() { return *m_pPresetStore; }
    CLedMeter& GetMeter(int channel) { return channel == 0 ? *m_pMeterLeft : *m_pMeterRight; }
    CMeterThread& GetMeterThread() { return m_meterThread; }
    CRecorderToolTip& GetToolTip() { return *m_pToolTip; }
    CMixerButtons& GetMixerButtons() { return *m_pMixerButtons; }
    bool IsPurple() const { return m_bPurple != 0; }
    const SchemeColours& GetScheme() const { return m_scheme; }
    // True while the recording picture shows the active picture.
    bool IsPictureActive() const { return m_bPictureActive; }
    // The colour count the schemes use; tests pretend a 16-colour display with it.
    void SetColourCount(int numColors) { m_nNumColors = numColors; }
    bool HasGlobalHotKey() const;
    bool HasFinished() const { return m_bFinished; }
    CSleepInhibitor& GetSleepInhibitor() { return *m_pInhibitor; }
    // Null without a monitor backend.
    CLevelMonitor* GetMonitor() { return m_pMonitor.get(); }
    // The end-of-side summary window, shown when a recording that kept a song file ends.
    CSideSummaryDlg& GetSideSummary() { return *m_pSummary; }
    // The summary's Review... button shows only with a handler.
    void SetReviewHandler(
        std::function<void(const SideSummary&, const std::vector<uint64_t>&)> handler);

    // The default offered by the next New after a confirmed choice: "Untitled.wav" in the
    // folder of the file chosen.
    static std::string DefaultNewPath(const std::string& chosenPath);

protected:
    void changeEvent(QEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void closeEvent(QCloseEvent* event) override;
    void reject() override;
    bool event(QEvent* event) override;

private:
    // The base-file list's tooltip names the chosen file with its folder.
    void ShowBaseFileTip();
    void OnInitDialog();
    // Runs a command; an exit asked for meanwhile follows once it has returned.
    template <typename Command>
    void RunCommand(Command&& command);
    void WakeForMessages();
    void OnRecordingMessages();
    void CreateControls();
    void ApplyScheme();
    void LoadPictures();
    void ApplyControlColours();
    void OnSize(bool minimised);
    // Monitors while the window is idle, shown and not minimised, Monitor is on and nobody
    // needs the device; lets the device go otherwise, without waiting. Points the meters at
    // the recording or the monitor.
    void UpdateMonitor();
    // Runs work that opens the capture device itself (a mixer button, Custom Settings) with the
    // monitor's device let go; monitoring resumes after it.
    template <typename Work>
    void WithDeviceFree(Work&& work);
    // The meters' tooltip says why the monitor has no device. Queued from the monitor's thread.
    void ShowMonitorState();
    // The persistent settings: those read at start-up take effect here, all at once, and those
    // to save at exit are gathered here.
    void ApplyPersistentSettings(const PersistentSettings& stored);
    PersistentSettings GatherPersistentSettings();
    // Hands a record to the recording control; each value it rejects shows in a box.
    void SetSettings(const RecSettings& settings);
    // Ctrl+S from any application when the user wants it and the display allows a global grab;
    // inside the window otherwise.
    void ApplyHotKey();
    std::string ChooseSaveFile(const std::string& initialPath);
    static QString ToText(const std::string& bytes);

    std::unique_ptr<CRecordingControl> m_pControl;
    std::unique_ptr<CLevelMonitor> m_pMonitor;
    std::unique_ptr<CRecordingPresenter> m_pPresenter;
    IProfileStore& m_profile;

    int m_bLargeFonts = 0;
    int m_nNumColors = 16777216;
    int m_bPurple = 1;
    int m_nSizeType = 0;  // 1 while minimised

    CLedMeter* m_pMeterLeft = nullptr;
    CLedMeter* m_pMeterRight = nullptr;
    QFont m_fontMeter;
    QFont m_fontCombo;
    QFont m_fontDialog;
    DialogBaseUnits m_baseUnits;
    CMeterThread m_meterThread;

    QIcon m_hIconRecord;
    QIcon m_hIconStop;
    QPixmap m_hPictureIdle;
    QPixmap m_hPictureActive;
    bool m_bPictureActive = false;
    SchemeColours m_scheme;
    CRecorderToolTip* m_pToolTip = nullptr;
    QIcon m_hIcon;

    std::map<int, QWidget*> m_items;
    // The controls, fetched once from the template with checked casts.
    template <typename Widget>
    Widget* Item(int id) const;
    QPushButton* m_pRecord = nullptr;
    QPushButton* m_pStop = nullptr;
    QPushButton* m_pNew = nullptr;
    QPushButton* m_pExit = nullptr;
    QPushButton* m_pCustomize = nullptr;
    QPushButton* m_pHelp = nullptr;
    QPushButton* m_pRecMixer = nullptr;
    QPushButton* m_pPlayMixer = nullptr;
    QPushButton* m_pAutoConfig = nullptr;
    QPushButton* m_pReview = nullptr;
    std::array<QLabel*, 4> m_pInfoLines{};  // Cur File, Clipped Pts, Song Time, Total Time
    QComboBox* m_pBaseFile = nullptr;
    QComboBox* m_pPresets = nullptr;
    QCheckBox* m_pPurple = nullptr;
    QCheckBox* m_pMonitorBox = nullptr;
    QLabel* m_pPicture = nullptr;

    std::unique_ptr<CComboPresetBox> m_pPresetBox;
    std::unique_ptr<CPresetStore> m_pPresetStore;
    CGlobalHotKey* m_pHotKey = nullptr;
    QShortcut* m_pShortcut = nullptr;
    bool m_bGlobalHotKey = true;  // the user lets Ctrl+S work from any application
    int m_bMonitor = 1;           // the meters follow the input while idle
    int m_nDeviceUsers = 0;       // commands that need the capture device free
    std::unique_ptr<CMixerButtons> m_pMixerButtons;
    CSleepInhibitor* m_pInhibitor = nullptr;
    CDesktopNotifier* m_pNotifier = nullptr;
    PlaybackFactory m_makePlayback;
    CSideSummaryDlg* m_pSummary = nullptr;

    // The recording thread's messages wait in the mailbox; the thread writes to the eventfd when
    // it leaves one in an empty mailbox, and the notifier hands them to the presenter.
    CRecordingMailbox m_mailbox;
    int m_nWakeFd = -1;
    QSocketNotifier* m_pWakeNotifier = nullptr;

    int m_nCommandDepth = 0;      // commands running (nested event loops inside them)
    bool m_bExitPending = false;  // an exit was asked for inside a command
    bool m_bFinished = false;     // the exit path ran
    bool m_bApplyingScheme = false;
    bool m_bClosing = false;  // inside the exit path
    int m_nWaitCursors = 0;
};
