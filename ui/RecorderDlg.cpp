#include "ui/RecorderDlg.h"

#include <sys/eventfd.h>
#include <unistd.h>

#include <QApplication>
#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QShortcut>
#include <QSocketNotifier>
#include <QStyle>
#include <QTimer>
#include <cstdint>
#include <mutex>

#include "engine/LevelMonitor.h"
#include "engine/ParamScales.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "resources/Resources.h"
#include "settings/HotKeySetting.h"
#include "settings/MonitorSetting.h"
#include "settings/PersistentSettings.h"
#include "settings/PresetStore.h"
#include "take/CutCheck.h"
#include "take/Take.h"
#include "ui/AboutDlg.h"
#include "ui/ComboPresetBox.h"
#include "ui/CustomDlg.h"
#include "ui/DesktopNotifier.h"
#include "ui/DialogBuilder.h"
#include "ui/GlobalHotKey.h"
#include "ui/HelpViewer.h"
#include "ui/MixerButtons.h"
#include "ui/MusicFolder.h"
#include "ui/RecorderToolTip.h"
#include "ui/RecordingPresenter.h"
#include "ui/ReviewDlg.h"
#include "ui/ScreenFit.h"
#include "ui/SideSummaryDlg.h"
#include "ui/SleepInhibitor.h"

namespace {
constexpr int kMainTemplate = 102;
constexpr int kIconApp = 128;
constexpr int kIconRecord = 136;
constexpr int kIconStop = 132;

QMessageBox::Icon ToQtIcon(MsgIcon icon) {
    switch (icon) {
        case MsgIcon::Stop:
            return QMessageBox::Critical;
        case MsgIcon::Warning:
            return QMessageBox::Warning;
        case MsgIcon::Question:
            return QMessageBox::Question;
        case MsgIcon::Information:
            return QMessageBox::Information;
    }
    return QMessageBox::NoIcon;
}

MsgIcon FromPromptIcon(PromptIcon icon) {
    switch (icon) {
        case PromptIcon::Stop:
            return MsgIcon::Stop;
        case PromptIcon::Warning:
            return MsgIcon::Warning;
        case PromptIcon::Question:
            return MsgIcon::Question;
        case PromptIcon::Information:
        case PromptIcon::None:
            break;
    }
    return MsgIcon::Information;
}
}  // namespace

CRecorderDlg::CRecorderDlg(std::unique_ptr<ICaptureBackend> backend, IProfileStore& profile,
                           QWidget* parent)
    : CRecorderDlg(std::move(backend), nullptr, profile, parent) {}

CRecorderDlg::CRecorderDlg(std::unique_ptr<ICaptureBackend> backend,
                           std::unique_ptr<ICaptureBackend> monitorBackend, IProfileStore& profile,
                           QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                          Qt::WindowCloseButtonHint),
      m_pControl(std::make_unique<CRecordingControl>(this, std::move(backend))),
      m_pPresenter(std::make_unique<CRecordingPresenter>(*this, *m_pControl)),
      m_profile(profile) {
    if (monitorBackend) m_pMonitor = std::make_unique<CLevelMonitor>(std::move(monitorBackend));
    m_hIcon = LoadIconResource(kIconApp);
    m_nWakeFd = ::eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    if (m_nWakeFd >= 0) {
        m_pWakeNotifier = new QSocketNotifier(m_nWakeFd, QSocketNotifier::Read, this);
        connect(m_pWakeNotifier, &QSocketNotifier::activated, this,
                &CRecorderDlg::OnRecordingMessages);
    }
    OnInitDialog();
}

CRecorderDlg::~CRecorderDlg() {
    m_meterThread.SetRunning(false);
    SetMeterLevelSource(nullptr);
    // Its thread posts to this window: it ends before the window does.
    m_pMonitor.reset();
    CLedMeter::SetSharedFont(nullptr);
    while (m_nWaitCursors > 0) SetWaitCursor(false);
    CloseHelp();
    // The control ends a recording still running; its thread must not post to a closed fd.
    m_pPresenter.reset();
    m_pControl.reset();
    if (m_nWakeFd >= 0) ::close(m_nWakeFd);
}

QString CRecorderDlg::ToText(const std::string& bytes) {
    // Paths are UTF-8 on this system; preset names from older files are 8-bit code page.
    const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
    const QString text = QString::fromUtf8(raw);
    if (text.contains(QChar::ReplacementCharacter) && !raw.contains("\xEF\xBF\xBD"))
        return QString::fromLatin1(raw);
    return text;
}

void CRecorderDlg::CreateControls() {
    m_fontCombo = MakeComboFont();
    DialogItems items = CreateDialogItems(this, *FindDialogTemplate(kMainTemplate), m_fontCombo);
    m_fontDialog = items.fontDialog;
    m_baseUnits = items.units;
    m_items = std::move(items.byId);

    m_pRecord = Item<QPushButton>(IDC_RECORD);
    m_pStop = Item<QPushButton>(IDC_STOP);
    m_pNew = Item<QPushButton>(IDC_NEW);
    m_pExit = Item<QPushButton>(IDOK_EXIT);
    m_pCustomize = Item<QPushButton>(IDC_CUSTOMIZE);
    m_pHelp = Item<QPushButton>(IDC_HELP);
    m_pRecMixer = Item<QPushButton>(IDC_RECMIXER);
    m_pPlayMixer = Item<QPushButton>(IDC_PLAYMIXER);
    m_pAutoConfig = Item<QPushButton>(IDC_AUTOCONFIG);
    m_pReview = Item<QPushButton>(IDC_REVIEW);
    m_pBaseFile = Item<QComboBox>(IDC_BASEFILE);
    m_pPresets = Item<QComboBox>(IDC_PRESETS);
    m_pPurple = Item<QCheckBox>(IDC_PURPLE);
    m_pMonitorBox = Item<QCheckBox>(IDC_MONITOR);
    m_pPicture = Item<QLabel>(IDC_PICTURE);
    m_pInfoLines = {Item<QLabel>(IDC_CURFILE), Item<QLabel>(IDC_CLIPPED),
                    Item<QLabel>(IDC_SONGTIME), Item<QLabel>(IDC_TOTALTIME)};
    m_pMeterLeft = Item<CLedMeter>(IDC_METER_LEFT);
    m_pMeterRight = Item<CLedMeter>(IDC_METER_RIGHT);

    connect(m_pRecord, &QPushButton::clicked, this, &CRecorderDlg::OnRecord);
    connect(m_pStop, &QPushButton::clicked, this, &CRecorderDlg::OnStop);
    connect(m_pNew, &QPushButton::clicked, this, &CRecorderDlg::OnNew);
    connect(m_pExit, &QPushButton::clicked, this, &CRecorderDlg::OnOK);
    connect(m_pBaseFile, &QComboBox::activated, this, &CRecorderDlg::OnSelChangeBaseFile);
    connect(m_pPresets, &QComboBox::activated, this, &CRecorderDlg::OnSelChangePreset);
    connect(m_pPurple, &QCheckBox::clicked, this, &CRecorderDlg::OnPurple);
    connect(m_pMonitorBox, &QCheckBox::clicked, this, &CRecorderDlg::OnMonitor);
    connect(m_pCustomize, &QPushButton::clicked, this, &CRecorderDlg::OnCustomize);
    connect(m_pReview, &QPushButton::clicked, this, &CRecorderDlg::OnReview);
    connect(m_pHelp, &QPushButton::clicked, this, [] { ShowHelp(); });
    InstallHelpKey(this);
    AddAboutToContextMenu(this);
    m_pMixerButtons = std::make_unique<CMixerButtons>(this, *m_pControl);
    m_pMixerButtons->Connect(m_pRecMixer, m_pPlayMixer, m_pAutoConfig,
                             [this](const std::function<void()>& press) { WithDeviceFree(press); });
}

void CRecorderDlg::OnInitDialog() {
    CreateControls();
    setWindowIcon(m_hIcon);
    KeepWindowsOnScreen(this);

    // Exit from the keyboard, through the path that saves. (Escape does nothing.)
    auto* quit = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q), this);
    quit->setContext(Qt::WindowShortcut);
    connect(quit, &QShortcut::activated, this, &CRecorderDlg::RequestClose);

    m_pPresetBox = std::make_unique<CComboPresetBox>(m_pPresets);
    m_pPresetStore = std::make_unique<CPresetStore>(*m_pPresetBox, *this);
    ApplyPersistentSettings(LoadSettings(m_profile, m_pControl->m_settings));
    m_bGlobalHotKey = LoadGlobalHotKey(m_profile);
    m_bMonitor = LoadMonitor(m_profile) ? 1 : 0;
    m_pMonitorBox->setChecked(m_bMonitor != 0);
    ApplyHotKey();
    m_pPresetStore->LoadPresets();

    m_pControl->m_nBufferSize = 65536;

    m_bLargeFonts = QFontMetrics(m_fontDialog).height() >= 20 ? 1 : 0;
    const QScreen* scr = screen() ? screen() : QGuiApplication::primaryScreen();
    m_nNumColors = ColourCountFromDepth(scr ? scr->depth() : 32);

    m_pPurple->setChecked(m_bPurple != 0);
    ApplyScheme();

    m_hIconRecord = LoadIconResource(kIconRecord);
    m_hIconStop = LoadIconResource(kIconStop);
    m_pRecord->setIcon(m_hIconRecord);
    m_pStop->setIcon(m_hIconStop);

    ShowRecordingPicture(false);
    if (m_bLargeFonts) {
        m_pPicture->move(m_pPicture->x() + m_pPicture->width() * 13 / 100,
                         m_pPicture->y() + m_pPicture->height() * 13 / 100);
    }

    m_pStop->setEnabled(false);

    m_fontMeter = MakeMeterFont();
    CLedMeter::SetSharedFont(&m_fontMeter);
    for (CLedMeter* meter : {m_pMeterLeft, m_pMeterRight}) {
        meter->SetLedCount(20);
        m_meterThread.AddMeter(meter);
    }
    if (m_pMonitor) {
        m_pMonitor->m_nBufferSize = m_pControl->m_nBufferSize;
        m_pMonitor->SetStateCallback([this] {
            QMetaObject::invokeMethod(this, &CRecorderDlg::ShowMonitorState, Qt::QueuedConnection);
        });
    }
    UpdateMonitor();
    m_meterThread.Start([](int meter, int* level, int* peak,
                           int* overload) { GetMeterLevels(meter, level, peak, overload); },
                        20, 40, 150, 300, 1);
    m_meterThread.SetRunning(true);

    m_pToolTip = new CRecorderToolTip(this);
    m_pToolTip->AddWindowTool(m_pRecord, 105);
    m_pToolTip->AddWindowTool(m_pStop, 106);
    m_pToolTip->AddWindowTool(m_pBaseFile, 110);
    ShowBaseFileTip();
    m_pToolTip->AddWindowTool(m_pNew, 111);
    m_pToolTip->AddWindowTool(m_pReview, 115);
    m_pToolTip->AddWindowTool(m_pPlayMixer, 102);
    m_pToolTip->AddWindowTool(m_pRecMixer, 103);
    m_pToolTip->AddWindowTool(m_pAutoConfig, 104);
    m_pToolTip->AddRectTool(this, 109, m_pMeterLeft->geometry(), IDC_METER_LEFT);
    m_pToolTip->AddRectTool(this, 113, m_pMeterRight->geometry(), IDC_METER_RIGHT);
    m_pToolTip->Activate(true);
    ShowMonitorState();

    m_pInhibitor = new CSleepInhibitor(this);
    m_pNotifier = new CDesktopNotifier(this);
    m_pSummary = new CSideSummaryDlg(this);
    m_pPresenter->AddObserver(this);

    m_pRecord->setFocus();
}

template <typename Widget>
Widget* CRecorderDlg::Item(int id) const {
    return CheckedItem<Widget>(GetItem(id), id, "the main window");
}

QWidget* CRecorderDlg::GetItem(int id) const {
    const auto it = m_items.find(id);
    return it == m_items.end() ? nullptr : it->second;
}

bool CRecorderDlg::HasGlobalHotKey() const { return m_pHotKey && m_pHotKey->IsRegistered(); }

void CRecorderDlg::ApplyHotKey() {
    if (!m_pHotKey) {
        m_pHotKey = new CGlobalHotKey(this);
        connect(m_pHotKey, &CGlobalHotKey::Activated, this, &CRecorderDlg::OnHotKey);
        m_pShortcut = new QShortcut(QKeySequence(Qt::CTRL | Qt::Key_S), this);
        m_pShortcut->setContext(Qt::WindowShortcut);
        connect(m_pShortcut, &QShortcut::activated, this, &CRecorderDlg::OnHotKey);
    }
    if (!m_bGlobalHotKey)
        m_pHotKey->Unregister();
    else if (!m_pHotKey->IsRegistered())
        m_pHotKey->RegisterCtrlKey('s');
    // The grab takes the key before any window sees it; only without it does the window's own.
    m_pShortcut->setEnabled(!m_pHotKey->IsRegistered());
}

// ---------------------------------------------------------------------------------------------
// Appearance

void CRecorderDlg::ApplyScheme() {
    m_bApplyingScheme = true;
    m_scheme = SchemeFor(m_bPurple != 0, m_nNumColors, QGuiApplication::palette());
    LoadPictures();
    ApplyControlColours();
    if (m_pSummary) m_pSummary->ApplyColours(m_scheme);
    update();
    m_bApplyingScheme = false;
}

void CRecorderDlg::LoadPictures() {
    const QSize size = m_pPicture->size();
    const qreal ratio = devicePixelRatioF();
    m_hPictureIdle = LoadPicture(m_scheme.nPictureIdle, size, ratio);
    m_hPictureActive = LoadPicture(m_scheme.nPictureActive, size, ratio);
}

void CRecorderDlg::ApplyControlColours() {
    ApplyWindowColours(this, m_scheme);
    for (QComboBox* box : {m_pBaseFile, m_pPresets}) ApplyComboColours(box, m_scheme);

    const ControlColours info = ColoursFor(ControlClass::InfoLine, m_scheme);
    for (QLabel* line : m_pInfoLines) {
        QPalette pal = line->palette();
        pal.setColor(QPalette::Window, info.clrBackground);
        pal.setColor(QPalette::WindowText, info.clrText);
        line->setPalette(pal);
        line->setAutoFillBackground(info.bOpaque);
    }
}

void CRecorderDlg::OnPurple() {
    m_bPurple = m_pPurple->isChecked() ? 1 : 0;
    ApplyScheme();
    ShowRecordingPicture(false);
}

void CRecorderDlg::OnSysColorChange() {
    const QScreen* scr = screen();
    m_nNumColors = ColourCountFromDepth(scr ? scr->depth() : 32);
    OnPurple();
}

bool CRecorderDlg::event(QEvent* event) {
    // Only the application's palette or theme counts as a system colour change; our own
    // setPalette calls raise PaletteChange and must not loop back here.
    if ((event->type() == QEvent::ApplicationPaletteChange ||
         event->type() == QEvent::ThemeChange) &&
        !m_bApplyingScheme && m_pPurple) {
        const bool handled = QDialog::event(event);
        OnSysColorChange();
        return handled;
    }
    return QDialog::event(event);
}

void CRecorderDlg::ShowRecordingPicture(bool active) {
    m_bPictureActive = active;
    m_pPicture->setPixmap(active ? m_hPictureActive : m_hPictureIdle);
}

// ---------------------------------------------------------------------------------------------
// Recording

template <typename Command>
void CRecorderDlg::RunCommand(Command&& command) {
    ++m_nCommandDepth;
    command();
    --m_nCommandDepth;
    if (m_nCommandDepth == 0 && m_bExitPending) {
        m_bExitPending = false;
        OnOK();
    }
}

void CRecorderDlg::OnRecord() {
    if (m_bClosing || m_bFinished) return;
    RunCommand([this] { m_pPresenter->OnRecord(); });
    // A start that was refused or abandoned gives the device back to the monitor.
    UpdateMonitor();
}

void CRecorderDlg::OnStop() {
    RunCommand([this] { m_pPresenter->OnStop(); });
}

void CRecorderDlg::OnHotKey() {
    if (HasGlobalHotKey()) {
        if (isMinimized()) showNormal();
        raise();
        activateWindow();
    }
    // A message box or file dialog of ours is open: bring the window forward only, so that
    // Record cannot run again inside its own question.
    if (QWidget* modal = QApplication::activeModalWidget(); modal && modal != this) return;
    if (m_bClosing || m_bFinished) return;
    if (m_pControl->IsRecording()) {
        OnStop();
    } else {
        OnRecord();
    }
}

void CRecorderDlg::PostRecordingProgress(const RecordingProgress& progress) {
    if (m_mailbox.PostProgress(progress)) WakeForMessages();
}

void CRecorderDlg::PostRecordingDone() {
    if (m_mailbox.PostDone()) WakeForMessages();
}

// Recording thread: a system call, nothing else.
void CRecorderDlg::WakeForMessages() {
    if (m_nWakeFd < 0) {
        // Without an eventfd (never seen) the queued call is the fallback.
        QMetaObject::invokeMethod(this, &CRecorderDlg::OnRecordingMessages, Qt::QueuedConnection);
        return;
    }
    const uint64_t one = 1;
    (void)!::write(m_nWakeFd, &one, sizeof one);
}

void CRecorderDlg::OnRecordingStarting() {
    SetMeterLevelSource(m_pControl.get());
    // Waits until the monitor's device is closed, unless its backend hangs: then Record tries
    // anyway, and a device still busy is refused as any busy device is.
    if (m_pMonitor) m_pMonitor->Release(CLevelMonitor::kReleaseTimeoutMs);
}

void CRecorderDlg::OnRecordingStarted() {
    m_pInhibitor->Acquire();
    UpdateMonitor();
    // The files it lists are being overwritten or joined by new ones.
    m_pSummary->StopCheck();
    m_pSummary->hide();
}

void CRecorderDlg::OnRecordingEnded(const RecordingReport& report) {
    m_pInhibitor->Release();
    UpdateMonitor();
    if (m_bClosing) return;
    const SideSummary side = SummarizeSide(report);
    const bool active = isActiveWindow();
    if (!active) m_pNotifier->NotifySideDone(side);
    // Nothing kept, nothing to list: the end's box says what happened to the file.
    if (side.files.empty()) return;
    m_pSummary->ShowSide(side, m_scheme);
    if (!side.bFailed) {
        // The side's own levels, measured on the files as kept, against where it was cut.
        const CSignalAnalyzer params = m_pControl->GetAnalyzer();
        const std::string first = side.files.front().strPath;
        m_pSummary->CheckCuts([params, first](const std::atomic<bool>& cancel) {
            const TakeOpening opening = OpenTake(first);
            if (!opening.Ok()) return CutCheck{};
            const CTakeReader reader(opening.take);
            if (!reader.Ok()) return CutCheck{};
            return CheckTakeCuts(reader, params, cancel);
        });
    }
    // The keys stay with the window the user was in (Ctrl+S, Ctrl+Q), also where the platform
    // activates every window shown.
    if (active) activateWindow();
}

void CRecorderDlg::SetReviewHandler(
    std::function<void(const SideSummary&, const std::vector<uint64_t>&)> handler) {
    m_pSummary->SetReviewHandler(std::move(handler));
}

void CRecorderDlg::OnRecordingMessages() {
    uint64_t count = 0;
    if (m_nWakeFd >= 0) (void)!::read(m_nWakeFd, &count, sizeof count);
    m_mailbox.DeliverTo(*m_pPresenter);
}

MsgAnswer CRecorderDlg::MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                                   MsgButtons buttons) {
    QMessageBox box(
        ToQtIcon(icon), ToText(title), ToText(text),
        buttons == MsgButtons::Ok ? QMessageBox::Ok : (QMessageBox::Yes | QMessageBox::No), this);
    box.setTextFormat(Qt::PlainText);
    if (buttons == MsgButtons::YesNoDefaultNo) box.setDefaultButton(QMessageBox::No);
    const int answer = box.exec();
    if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
    return answer == QMessageBox::Yes ? MsgAnswer::Yes : MsgAnswer::No;
}

bool CRecorderDlg::AskYesNo(const std::string& text, const std::string& title, PromptIcon icon) {
    return MessageBox(text, title, FromPromptIcon(icon), MsgButtons::YesNo) == MsgAnswer::Yes;
}

void CRecorderDlg::ShowMessage(const std::string& text, const std::string& title, PromptIcon icon) {
    MessageBox(text, title, FromPromptIcon(icon), MsgButtons::Ok);
}

void CRecorderDlg::SetItemText(int id, const std::string& text) {
    auto* label = qobject_cast<QLabel*>(GetItem(id));
    if (!label) return;
    const QString full = ToText(text);
    if (std::find(m_pInfoLines.begin(), m_pInfoLines.end(), label) == m_pInfoLines.end()) {
        label->setText(full);
        return;
    }
    // A long song file name is shortened in the middle: its end, the song's number, shows. The
    // tooltip has it all.
    const QString shown =
        ElideKeepingEnd(full, label->fontMetrics(), label->contentsRect().width());
    label->setText(shown);
    label->setToolTip(shown == full ? QString() : full);
}

void CRecorderDlg::EnableItem(int id, bool enable) {
    if (QWidget* item = GetItem(id)) item->setEnabled(enable);
}

void CRecorderDlg::FocusItem(int id) {
    if (QWidget* item = GetItem(id)) item->setFocus();
}

void CRecorderDlg::SetCaption(const std::string& caption) { setWindowTitle(ToText(caption)); }

void CRecorderDlg::SetWaitCursor(bool on) {
    if (on) {
        QApplication::setOverrideCursor(Qt::WaitCursor);
        ++m_nWaitCursors;
    } else if (m_nWaitCursors > 0) {
        QApplication::restoreOverrideCursor();
        --m_nWaitCursors;
    }
}

bool CRecorderDlg::IsMinimized() { return m_nSizeType == 1; }

bool CRecorderDlg::Wait(int ms) {
    // The window keeps painting and the recording thread's messages keep arriving, but no
    // click or key can start another command meanwhile. A request to leave (SIGTERM, the
    // close box) only marks the exit as due.
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return !m_bExitPending;
}

// ---------------------------------------------------------------------------------------------
// Base-file-name list

std::string CRecorderDlg::DefaultNewPath(const std::string& chosenPath) {
    const std::string_view name = FileNamePart(chosenPath);
    return chosenPath.substr(0, chosenPath.size() - name.size()) + "Untitled.wav";
}

bool CRecorderDlg::HasBaseFileSelection() { return m_pBaseFile->currentIndex() >= 0; }

std::string CRecorderDlg::GetBaseFileText() { return m_pBaseFile->currentText().toStdString(); }

std::string CRecorderDlg::GetBaseFilePath() {
    const int index = m_pBaseFile->currentIndex();
    return index < 0 ? std::string() : GetFullPath(index);
}

void CRecorderDlg::AddBaseFile(const std::string& fullPath) {
    // A path that does not fit the recording's path fields would be cut and record to another
    // file: leave it out.
    if (fullPath.empty() || fullPath.size() >= static_cast<size_t>(kPathSize)) return;
    const QByteArray bytes(fullPath.data(), qsizetype(fullPath.size()));
    m_pBaseFile->insertItem(
        0, QFile::decodeName(QByteArray::fromStdString(std::string(FileNamePart(fullPath)))),
        bytes);
    // Takes of one name in different folders look alike in the list; the tooltip tells them
    // apart.
    m_pBaseFile->setItemData(0, QFile::decodeName(bytes), Qt::ToolTipRole);
    m_pBaseFile->setCurrentIndex(0);
    OnSelChangeBaseFile();
}

int CRecorderDlg::GetCurSel() { return m_pBaseFile->currentIndex(); }

int CRecorderDlg::GetCount() { return m_pBaseFile->count(); }

std::string CRecorderDlg::GetFullPath(int index) {
    return m_pBaseFile->itemData(index).toByteArray().toStdString();
}

void CRecorderDlg::OnSelChangeBaseFile() {
    CWaveFileWriter& writer = m_pControl->GetWriter();
    const int index = m_pBaseFile->currentIndex();
    if (index < 0 || m_pBaseFile->itemText(index).isEmpty()) {
        writer.SetFileName("");
    } else {
        writer.SetFileName(GetFullPath(index).c_str());
    }
    ShowBaseFileTip();
}

void CRecorderDlg::ShowBaseFileTip() {
    if (!m_pToolTip) return;
    const int index = m_pBaseFile->currentIndex();
    m_pToolTip->SetWindowNote(
        m_pBaseFile,
        index < 0 ? QString() : m_pBaseFile->itemData(index, Qt::ToolTipRole).toString());
}

std::string CRecorderDlg::ChooseSaveFile(const std::string& initialPath) {
    QFileDialog dialog(this);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix(QStringLiteral("wav"));
    dialog.setNameFilters({QStringLiteral("WAV audio (*.wav)"), QStringLiteral("All files (*)")});
    // Record asks its own question before it overwrites numbered song files.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    const QFileInfo initial(QFile::decodeName(QByteArray::fromStdString(initialPath)));
    if (initialPath == "*.wav") {
        // Not the folder the program happened to be started from.
        dialog.setDirectory(MusicFolder());
    } else if (!initial.absoluteDir().exists()) {
        // The folder is gone (a drive unplugged, say): the name is still a useful offer.
        dialog.setDirectory(MusicFolder());
        dialog.selectFile(initial.fileName());
    } else {
        dialog.selectFile(initial.filePath());
    }
    for (;;) {
        if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
        const QString chosen = dialog.selectedFiles().constFirst();
        const QString folder = QFileInfo(chosen).absolutePath();
        if (QFileInfo(folder).isDir()) return QFile::encodeName(chosen).toStdString();
        // A folder typed with the name: made now rather than refused by Record later. No
        // goes back to the choice.
        const std::string shown = QFile::encodeName(QDir::toNativeSeparators(folder)).toStdString();
        if (!AskYesNo("The folder " + shown + " does not exist.\n\nCreate it?", "New",
                      PromptIcon::Question)) {
            continue;
        }
        if (QDir().mkpath(folder)) return QFile::encodeName(chosen).toStdString();
        ShowMessage("The folder " + shown + " could not be created.", "ERROR", PromptIcon::Stop);
    }
}

void CRecorderDlg::OnNew() {
    const char* current = m_pControl->GetWriter().GetFileName();
    const std::string initial = (current && *current) ? std::string(current) : std::string("*.wav");
    const std::string chosen = ChooseSaveFile(initial);
    if (chosen.empty()) return;
    if (chosen.size() >= static_cast<size_t>(kPathSize)) {
        MessageBox("The path of the base file is too long: at most " +
                       std::to_string(kPathSize - 1) + " bytes.\n\n" + chosen,
                   "ERROR", MsgIcon::Stop, MsgButtons::Ok);
        return;
    }
    for (int i = 0; i < m_pBaseFile->count(); ++i) {
        if (GetFullPath(i) == chosen) {
            m_pBaseFile->removeItem(i);
            break;
        }
    }
    AddBaseFile(chosen);
    m_pControl->GetWriter().SetFileName(DefaultNewPath(chosen).c_str());
}

void CRecorderDlg::OnSelChangePreset() {
    if (const std::optional<RecSettings> picked = m_pPresetStore->OnSelChangePreset()) {
        SetSettings(*picked);
    }
}

void CRecorderDlg::SetSettings(const RecSettings& settings) {
    m_pControl->SetSettings(settings, [this](RecSetting, const char* text) {
        ShowMessage(text, "ERROR", PromptIcon::Stop);
    });
    // Another device or format: the monitor opens that one instead.
    UpdateMonitor();
}

void CRecorderDlg::OnCustomize() {
    CCustomDlg dlg(&m_pPresetStore->m_presets, &m_pPresetStore->m_strPreset, &m_scheme,
                   m_pControl->GetWaveIn().GetBackend(), this);
    dlg.m_settings = m_pControl->m_settings;
    dlg.m_bGlobalHotKey = m_bGlobalHotKey;
    // A preset added or deleted is on disk before the next one is touched: a crash later in the
    // run must not take it. The file is small; the safe save takes no lock and runs here, on the
    // user-interface thread, as the save at exit does, and tells a failure the same way.
    dlg.m_presetsChanged = [this] { m_pPresetStore->WritePresets(); };
    // Every trackbar position is valid: only a value out of range that came with a preset picked
    // in the dialog can be rejected. The dialog looks at the devices itself: the monitor lets go
    // meanwhile and comes back on the settings applied.
    WithDeviceFree([&] {
        if (dlg.DoModal() != QDialog::Accepted) return;
        m_bGlobalHotKey = dlg.m_bGlobalHotKey;
        ApplyHotKey();
        SetSettings(dlg.m_settings);
    });
    m_pPresetStore->FillPresetCombo();
}

// ---------------------------------------------------------------------------------------------
// Review

void CRecorderDlg::OnReview() {
    if (m_pControl->IsRecording()) return;
    QFileDialog dialog(this, QStringLiteral("Review a Take"));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setNameFilters({QStringLiteral("WAV audio (*.wav)"), QStringLiteral("All files (*)")});
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    // The take just recorded is the one most often reviewed: its folder, its first song.
    const std::string base = GetBaseFilePath();
    const QFileInfo baseInfo(QFile::decodeName(QByteArray::fromStdString(base)));
    if (!base.empty() && baseInfo.absoluteDir().exists()) {
        dialog.setDirectory(baseInfo.absoluteDir());
        const QString first = QFile::decodeName(
            QByteArray::fromStdString(std::string(FileNamePart(CSongFileName(base).Name(1)))));
        if (baseInfo.absoluteDir().exists(first)) dialog.selectFile(first);
    } else {
        dialog.setDirectory(MusicFolder());
    }
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    OpenReview(QFile::encodeName(dialog.selectedFiles().constFirst()).toStdString());
}

void CRecorderDlg::OpenReview(const std::string& path, const std::vector<uint64_t>& suggested) {
    if (m_pControl->IsRecording() || m_bClosing || m_bFinished) return;
    const TakeOpening opening = OpenTake(path);
    if (!opening.Ok()) {
        MessageBox(DescribeTakeRefusal(opening), "Review", MsgIcon::Warning, MsgButtons::Ok);
        return;
    }
    ReviewOptions options;
    options.fGapLevel = -double(m_pControl->m_settings.nGapLevel) / kLevelScale;
    options.fGapSeconds = -double(m_pControl->m_settings.nGapSize) / kGapSizeScale;
    options.scheme = m_scheme;
    options.strNotice = DescribeLeftOut(opening);
    options.suggestedCuts = suggested;
    options.pProfile = &m_profile;
    CReviewDlg review(opening.take, m_makePlayback ? m_makePlayback() : MakePortAudioPlayback(),
                      options, this);
    review.exec();
}

// ---------------------------------------------------------------------------------------------
// Placement

void CRecorderDlg::ApplyPersistentSettings(const PersistentSettings& stored) {
    // Each path goes on top, selected, so the first one stored ends there.
    for (auto path = stored.baseFiles.rbegin(); path != stored.baseFiles.rend(); ++path) {
        AddBaseFile(*path);
    }

    SetSettings(stored.settings);
    m_pPresetStore->SetCurrentPresetName(stored.strPreset);
    m_bPurple = stored.bPurple ? 1 : 0;

    const QRect frame = frameGeometry();
    const WindowPlacement current{
        0,
        kShowNormal,
        {frame.left(), frame.top(), frame.left() + frame.width(), frame.top() + frame.height()}};
    const QScreen* scr = QGuiApplication::primaryScreen();
    const QRect screenRect = scr ? scr->geometry() : QRect(0, 0, 1024, 768);
    const int icon = style()->pixelMetric(QStyle::PM_LargeIconSize);
    WindowPlacement placement;
    if (RestorePlacement(current, stored.placement.flags, stored.placement.left,
                         stored.placement.top, screenRect.width(), screenRect.height(), icon, icon,
                         placement)) {
        move(placement.normal.left, placement.normal.top);
    }
}

PersistentSettings CRecorderDlg::GatherPersistentSettings() {
    PersistentSettings values;
    values.settings = m_pControl->m_settings;
    values.strPreset = m_pPresetStore->m_strPreset;
    values.bPurple = m_bPurple != 0;
    for (int i = 0; i < GetCount(); ++i) values.baseFiles.push_back(GetFullPath(i));
    values.nSelectedBaseFile = GetCurSel();
    const QPoint corner = frameGeometry().topLeft();
    values.placement = {0, isMinimized() ? kShowMinimized : kShowNormal, corner.x(), corner.y()};
    return values;
}

// ---------------------------------------------------------------------------------------------
// Size and exit

void CRecorderDlg::changeEvent(QEvent* event) {
    QDialog::changeEvent(event);
    if (event->type() == QEvent::WindowStateChange) OnSize(isMinimized());
}

void CRecorderDlg::OnSize(bool minimised) {
    m_meterThread.SetRunning(!minimised && !m_bFinished);
    m_nSizeType = minimised ? 1 : 0;
    if (!minimised) setWindowTitle(QString::fromLatin1(recording_texts::kCaption));
    UpdateMonitor();
}

void CRecorderDlg::showEvent(QShowEvent* event) {
    QDialog::showEvent(event);
    UpdateMonitor();
}

void CRecorderDlg::hideEvent(QHideEvent* event) {
    QDialog::hideEvent(event);
    UpdateMonitor();
}

// ---------------------------------------------------------------------------------------------
// Level monitor

void CRecorderDlg::OnMonitor() {
    m_bMonitor = m_pMonitorBox->isChecked() ? 1 : 0;
    UpdateMonitor();
}

void CRecorderDlg::UpdateMonitor() {
    const bool recording = m_pControl->IsRecording();
    if (!m_pMonitor) {
        SetMeterLevelSource(m_pControl.get());
        return;
    }
    const bool wanted = m_bMonitor && !recording && m_nDeviceUsers == 0 && isVisible() &&
                        !isMinimized() && !m_bClosing && !m_bFinished;
    if (wanted) {
        m_pMonitor->Monitor(m_pControl->m_settings);
    } else {
        m_pMonitor->Release(0);
    }
    SetMeterLevelSource(recording ? static_cast<IMeterLevelSource*>(m_pControl.get())
                                  : m_pMonitor.get());
    ShowMonitorState();
}

template <typename Work>
void CRecorderDlg::WithDeviceFree(Work&& work) {
    ++m_nDeviceUsers;
    if (m_pMonitor) m_pMonitor->Release(CLevelMonitor::kReleaseTimeoutMs);
    ShowMonitorState();
    work();
    --m_nDeviceUsers;
    UpdateMonitor();
}

void CRecorderDlg::ShowMonitorState() {
    if (!m_pToolTip) return;
    QString note;
    if (m_pMonitor) {
        const std::string why = m_pMonitor->GetFailure();
        if (!why.empty()) note = QStringLiteral("Monitor: ") + ToText(why);
    }
    m_pToolTip->SetRectNote(IDC_METER_LEFT, note);
    m_pToolTip->SetRectNote(IDC_METER_RIGHT, note);
}

void CRecorderDlg::OnOK() {
    if (m_bClosing || m_bFinished) return;
    m_bClosing = true;
    // A disk that does not answer keeps the recording's last bytes, not the window: the process
    // writes them once the window has gone (FinishLeftRecording).
    (void)m_pPresenter->StopAndFinish(m_nExitWaitMs);
    m_pPresetStore->SavePresets();
    SaveSettings(m_profile, GatherPersistentSettings());
    SaveGlobalHotKey(m_profile, m_bGlobalHotKey);
    SaveMonitor(m_profile, m_bMonitor != 0);
    m_pBaseFile->clear();
    m_pSummary->close();
    m_bFinished = true;
    m_bClosing = false;
    m_meterThread.SetRunning(false);
    UpdateMonitor();
    done(QDialog::Accepted);
}

std::vector<std::string> CRecorderDlg::FinishLeftRecording() {
    return m_pPresenter->FinishLeftRecording();
}

void CRecorderDlg::RequestClose() {
    if (m_bFinished || m_bClosing) return;
    if (m_nCommandDepth > 0 && !QApplication::activeModalWidget()) {
        // Inside a command's pause: it gives up (Wait answers false) and the exit follows.
        m_bExitPending = true;
        return;
    }
    // A message box or file dialog of ours is open (the overwrite question, say): answer it
    // with No or Cancel and come back once its handler has returned, so that the exit path
    // never runs inside a half-done command.
    QWidget* modal = QApplication::activeModalWidget();
    if (modal && modal != this) {
        if (auto* dialog = qobject_cast<QDialog*>(modal)) {
            dialog->reject();
        } else {
            modal->close();
        }
        QTimer::singleShot(0, this, &CRecorderDlg::RequestClose);
        return;
    }
    OnOK();
}

void CRecorderDlg::closeEvent(QCloseEvent* event) {
    if (m_bFinished) {
        event->accept();
        return;
    }
    // The window goes through the exit path, now or once the running command has returned.
    event->ignore();
    RequestClose();
}

void CRecorderDlg::reject() {
    // Escape. A main window does not close on it: that would lose the settings, the base names
    // and the presets, and during a recording the song file. Exit and Ctrl+Q save.
}
