#include "ui/CustomDlg.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSlider>
#include <cmath>
#include <cstdlib>
#include <new>

#include "audio/capture/CaptureBackend.h"
#include "audio/capture/DeviceLabels.h"
#include "audio/capture/WaveInDevice.h"
#include "engine/SignalAnalyzer.h"
#include "settings/PresetStore.h"
#include "settings/Windows1252.h"
#include "ui/ComboPresetBox.h"
#include "ui/HelpViewer.h"
#include "ui/RecorderToolTip.h"

namespace {

constexpr int kCustomTemplate = 139;
constexpr int kIconAdd = 278;
constexpr int kIconDelete = 279;
constexpr const char* kPresetError = "Preset Error";
constexpr const char* kPresetWarning = "Preset Warning";

// The four trackbars: their label, range, field of the record, label text and the step of the
// label's value an arrow key moves by.
struct Trackbar {
    int nId;
    int nLabelId;
    TrackbarRange range;
    int32_t RecSettings::*pField;
    std::string (*format)(int);
    double step;
};

constexpr Trackbar kTrackbars[] = {
    {CCustomDlg::IDC_GAPSIZE, CCustomDlg::IDC_GAPSIZE_LABEL, kGapSizeTrackbar,
     &RecSettings::nGapSize, &CSignalAnalyzer::FormatGapSize, 0.01},
    {CCustomDlg::IDC_GAPLEVEL, CCustomDlg::IDC_GAPLEVEL_LABEL, kGapLevelTrackbar,
     &RecSettings::nGapLevel, &CSignalAnalyzer::FormatGapLevel, 0.5},
    {CCustomDlg::IDC_MINSONG, CCustomDlg::IDC_MINSONG_LABEL, kMinSongSizeTrackbar,
     &RecSettings::nMinSongSize, &CSignalAnalyzer::FormatMinSongSize, 1.0},
    {CCustomDlg::IDC_ENDSIZE, CCustomDlg::IDC_ENDSIZE_LABEL, kEndSizeTrackbar,
     &RecSettings::nEndSize, &CSignalAnalyzer::FormatEndSize, 1.0},
};

// The number the label shows for a position.
double ShownValue(const Trackbar& bar, int position) {
    return std::strtod(bar.format(position).c_str(), nullptr);
}

// The position `steps` label steps away from `from`, toward higher positions (direction 1) or
// lower ones (-1); the end of the range when the label never gets there. The scales are not
// linear, and one position changes the label by less than its last digit over most of them,
// so a step of a fixed number of positions would often show no change.
int SteppedPosition(const Trackbar& bar, int from, int direction, int steps) {
    const double shown = ShownValue(bar, from) / bar.step;
    const double slack = 1e-6;
    // A higher position stands for a smaller value.
    const double target = direction < 0 ? (std::floor(shown + slack) + steps) * bar.step
                                        : (std::ceil(shown - slack) - steps) * bar.step;
    const double reached = bar.step * slack;
    int position = from;
    while (position + direction >= bar.range.nLowest &&
           position + direction <= bar.range.nHighest) {
        position += direction;
        const double value = ShownValue(bar, position);
        if (direction < 0 ? value >= target - reached : value <= target + reached) break;
    }
    return position;
}

// The trackbar's place in kTrackbars.
size_t TrackbarIndex(int id) {
    for (size_t i = 0; i < std::size(kTrackbars); ++i)
        if (kTrackbars[i].nId == id) return i;
    return 3;  // any other trackbar is the end gap's
}

struct RateButton {
    int nId;
    uint32_t nRate;
};
constexpr RateButton kRateButtons[] = {{CCustomDlg::IDC_RATE11, 11025},
                                       {CCustomDlg::IDC_RATE22, 22050},
                                       {CCustomDlg::IDC_RATE44, 44100},
                                       {CCustomDlg::IDC_RATE48, 48000}};
static_assert(std::size(kTrackbars) == 4 && std::size(kRateButtons) == 4);

// True when w is widget or lies inside it, across window boundaries (a combo box's list).
bool IsWithin(const QWidget* w, const QWidget* widget) {
    for (; w; w = w->parentWidget())
        if (w == widget) return true;
    return false;
}

}  // namespace

template <typename Widget>
Widget* CCustomDlg::Item(int id) const {
    return CheckedItem<Widget>(GetItem(id), id, "Custom Settings");
}

CCustomDlg::CCustomDlg(std::vector<CPresets>* presets, std::string* pstrPreset,
                       const SchemeColours* scheme, ICaptureBackend* devices, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_pPresets(presets),
      m_pstrPreset(pstrPreset),
      m_pScheme(scheme),
      m_pDevices(devices),
      m_fontCombo(MakeComboFont()),
      m_items(CreateDialogItems(this, *FindDialogTemplate(kCustomTemplate), m_fontCombo)) {
    for (size_t i = 0; i < std::size(kTrackbars); ++i) {
        m_pTrackbars[i] = Item<QSlider>(kTrackbars[i].nId);
        m_pTrackbarLabels[i] = Item<QLabel>(kTrackbars[i].nLabelId);
        m_pRateButtons[i] = Item<QAbstractButton>(kRateButtons[i].nId);
    }
    m_pBits16 = Item<QAbstractButton>(IDC_BITS16);
    m_pBits24 = Item<QAbstractButton>(IDC_BITS24);
    m_pDCBlock = Item<QAbstractButton>(IDC_DCBLOCK);
    m_pSmartGap = Item<QAbstractButton>(IDC_SMARTGAP);
    m_pGlobalHotKey = Item<QAbstractButton>(IDC_GLOBALHOTKEY);
    m_pAddPreset = Item<QPushButton>(IDC_ADDPRESET);
    m_pDeletePreset = Item<QPushButton>(IDC_DELETEPRESET);
    m_pDone = Item<QAbstractButton>(IDC_DONE);
    m_pHelp = Item<QAbstractButton>(IDC_HELP);
    m_pPresetBox = Item<QComboBox>(IDC_PRESETS);
    m_pDeviceBox = Item<QComboBox>(IDC_DEVICE);
    m_pPresetList = std::make_unique<CComboPresetBox>(m_pPresetBox);

    for (size_t i = 0; i < std::size(kTrackbars); ++i) {
        connect(m_pTrackbars[i], &QSlider::valueChanged, this,
                [this, id = kTrackbars[i].nId] { OnVScroll(id); });
        // The keys step through the label's values: the slider has moved its position by one
        // position or a page, and takes the value from the position once this returns.
        connect(m_pTrackbars[i], &QSlider::actionTriggered, this,
                [slider = m_pTrackbars[i], i](int action) {
                    int steps = 0;
                    int direction = 1;
                    switch (action) {
                        case QAbstractSlider::SliderSingleStepSub:
                            direction = -1;
                            [[fallthrough]];
                        case QAbstractSlider::SliderSingleStepAdd:
                            steps = 1;
                            break;
                        case QAbstractSlider::SliderPageStepSub:
                            direction = -1;
                            [[fallthrough]];
                        case QAbstractSlider::SliderPageStepAdd:
                            steps = 10;
                            break;
                        default:
                            return;
                    }
                    slider->setSliderPosition(
                        SteppedPosition(kTrackbars[i], slider->value(), direction, steps));
                });
    }
    ShowToggleState(m_pDCBlock);
    connect(m_pDCBlock, &QAbstractButton::clicked, this,
            [this](bool checked) { m_settings.bDCBlock = checked ? 1 : 0; });
    connect(m_pSmartGap, &QAbstractButton::clicked, this,
            [this](bool checked) { m_settings.bIgnoreClicks = checked ? 1 : 0; });
    connect(m_pGlobalHotKey, &QAbstractButton::clicked, this,
            [this](bool checked) { m_bGlobalHotKey = checked; });
    for (size_t i = 0; i < std::size(kRateButtons); ++i) {
        connect(m_pRateButtons[i], &QAbstractButton::clicked, this,
                [this, n = kRateButtons[i].nRate] { m_settings.nSamplesPerSec = n; });
    }
    connect(m_pBits16, &QAbstractButton::clicked, this, [this] { m_settings.wBitsPerSample = 16; });
    // "24" is what the user is offered; the samples are 32-bit floats.
    connect(m_pBits24, &QAbstractButton::clicked, this, [this] { m_settings.wBitsPerSample = 32; });
    connect(m_pDeviceBox, &QComboBox::activated, this, &CCustomDlg::OnSelChangeDevice);
    connect(m_pPresetBox, &QComboBox::activated, this, &CCustomDlg::OnSelChangePresets);
    // A name typed into the field is no entry of the list: the selection goes, the text stays.
    connect(m_pPresetBox->lineEdit(), &QLineEdit::textEdited, this, [this](const QString& text) {
        if (m_pPresetBox->currentIndex() < 0) return;
        QLineEdit* edit = m_pPresetBox->lineEdit();
        const int cursor = edit->cursorPosition();
        const QSignalBlocker block(m_pPresetBox);
        m_pPresetBox->setCurrentIndex(-1);
        edit->setText(text);
        edit->setCursorPosition(cursor);
    });
    m_pPresetBox->installEventFilter(this);
    m_pPresetBox->lineEdit()->installEventFilter(this);
    m_focusConnection =
        connect(qApp, &QApplication::focusChanged, this, [this](QWidget* old, QWidget* now) {
            if (old && IsWithin(old, m_pPresetBox) && now && now->window() == this &&
                !IsWithin(now, m_pPresetBox)) {
                OnKillFocusPresets(now);
            }
        });
    connect(m_pAddPreset, &QAbstractButton::clicked, this, &CCustomDlg::OnAddPreset);
    connect(m_pDeletePreset, &QAbstractButton::clicked, this, &CCustomDlg::OnDeletePreset);
    connect(m_pDone, &QAbstractButton::clicked, this, &QDialog::accept);
    connect(m_pHelp, &QAbstractButton::clicked, this, [] { ShowHelp(); });
    InstallHelpKey(this);
}

CCustomDlg::~CCustomDlg() {
    // The focus moves while the widgets go, after this class is gone.
    disconnect(m_focusConnection);
    CWaveInDevice::RemoveAllDevices();
}

int CCustomDlg::DoModal() {
    OnInitDialog();
    return exec();
}

void CCustomDlg::OnInitDialog() {
    CPresetStore::FillPresetCombo(*m_pPresetList, *m_pPresets, *m_pstrPreset);

    // Every device of the list carries its position as the device id; "System Default" comes
    // last with -1. It is shown selected when it is the setting, so the box never looks empty
    // for the default; a saved device that is no longer present shows no selection. Devices
    // are named as ALSA describes them, and those that are the system default again under
    // another name are left out: "System Default" stands for them, selected too.
    {
        const QSignalBlocker block(m_pDeviceBox);
        m_pDeviceBox->clear();
        if (m_pDevices) CWaveInDevice::EnumerateDevices(*m_pDevices);
        const std::vector<PcmHint> hints = AlsaPcmHints();
        int selected = -1;
        bool defaultSelected = m_settings.nWaveInID == -1;
        for (int i = 0; i < CWaveInDevice::GetDeviceCount(); ++i) {
            const std::string label =
                CaptureDeviceLabel(CWaveInDevice::GetDevice(i)->m_szPname, hints);
            if (label.empty()) {
                if (i == m_settings.nWaveInID) defaultSelected = true;
                continue;
            }
            m_pDeviceBox->addItem(QString::fromStdString(label), i);
            if (i == m_settings.nWaveInID) selected = m_pDeviceBox->count() - 1;
        }
        m_pDeviceBox->addItem(QStringLiteral("System Default"), -1);
        if (defaultSelected) selected = m_pDeviceBox->count() - 1;
        m_pDeviceBox->setCurrentIndex(selected);
    }

    ApplyWindowColours(this, *m_pScheme);
    ApplyComboColours(m_pDeviceBox, *m_pScheme);
    ApplyComboColours(m_pPresetBox, *m_pScheme);
    m_pAddPreset->setIcon(LoadIconResource(kIconAdd));
    m_pDeletePreset->setIcon(LoadIconResource(kIconDelete));

    for (size_t i = 0; i < std::size(kTrackbars); ++i) {
        const Trackbar& bar = kTrackbars[i];
        QSlider* slider = m_pTrackbars[i];
        const QSignalBlocker block(slider);
        slider->setRange(bar.range.nLowest, bar.range.nHighest);
        slider->setTickInterval(bar.range.TickFrequency());
        slider->setPageStep(bar.range.PageSize());
        slider->setSingleStep(TrackbarRange::kLineSize);
        MoveTrackbar(bar.nId, m_settings.*bar.pField);
    }

    m_pDCBlock->setChecked(m_settings.bDCBlock != 0);
    m_pSmartGap->setChecked(m_settings.bIgnoreClicks != 0);
    m_pGlobalHotKey->setChecked(m_bGlobalHotKey);
    CheckRateButton(m_settings.nSamplesPerSec);
    CheckBitsButton(m_settings.wBitsPerSample);

    if (!m_pToolTip) {
        m_pToolTip = new CRecorderToolTip(this);
        m_pToolTip->AddWindowTool(m_pAddPreset, 107);
        m_pToolTip->AddWindowTool(m_pDeletePreset, 108);
        m_pToolTip->AddWindowTool(m_pDCBlock, 114);
    }
    m_pToolTip->Activate(true);
}

// ---------------------------------------------------------------------------------------------
// Trackbars and buttons

void CCustomDlg::MoveTrackbar(int trackbarId, int position) {
    const size_t i = TrackbarIndex(trackbarId);
    {
        const QSignalBlocker block(m_pTrackbars[i]);
        m_pTrackbars[i]->setValue(position);
    }
    // The label tells the value the record holds, which a trackbar shows clamped to its range
    // when it came from elsewhere.
    m_pTrackbarLabels[i]->setText(QString::fromStdString(kTrackbars[i].format(position)));
}

void CCustomDlg::OnVScroll(int trackbarId) {
    const size_t i = TrackbarIndex(trackbarId);
    const Trackbar& bar = kTrackbars[i];
    const int position = m_pTrackbars[i]->value();
    m_settings.*bar.pField = position;
    MoveTrackbar(bar.nId, position);
    // The end gap stays no longer than the minimum song size, whichever of them moves.
    if (m_settings.nEndSize < m_settings.nMinSongSize) {
        if (bar.nId == IDC_MINSONG) {
            m_settings.nEndSize = m_settings.nMinSongSize;
            MoveTrackbar(IDC_ENDSIZE, m_settings.nEndSize);
        } else if (bar.nId == IDC_ENDSIZE) {
            m_settings.nMinSongSize = m_settings.nEndSize;
            MoveTrackbar(IDC_MINSONG, m_settings.nMinSongSize);
        }
    }
}

void CCustomDlg::CheckRateButton(uint32_t rate) {
    for (size_t i = 0; i < std::size(kRateButtons); ++i) {
        if (kRateButtons[i].nRate == rate) m_pRateButtons[i]->setChecked(true);
    }
}

void CCustomDlg::CheckBitsButton(uint16_t bits) {
    (bits == 16 ? m_pBits16 : m_pBits24)->setChecked(true);
}

void CCustomDlg::OnSelChangeDevice() {
    const int index = m_pDeviceBox->currentIndex();
    if (index >= 0) m_settings.nWaveInID = m_pDeviceBox->itemData(index).toInt();
}

// ---------------------------------------------------------------------------------------------
// Presets

void CCustomDlg::SetCurrentPresetName(const std::string& name) {
    *m_pstrPreset = CutPresetName(name);
}

void CCustomDlg::FocusDefaultButton() {
    // The template's hidden default button is where the focus goes after a preset operation,
    // away from the preset box, so that leaving the box later asks nothing about a name already
    // dealt with. A hidden widget cannot hold the focus here: the control that has it lets go.
    if (QWidget* focused = focusWidget()) focused->clearFocus();
}

bool CCustomDlg::AskYesNo(const QString& text, const QString& title) {
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No, this);
    box.setTextFormat(Qt::PlainText);
    return box.exec() == QMessageBox::Yes;
}

void CCustomDlg::ShowMessage(const QString& text, const QString& title, int icon) {
    QMessageBox box(static_cast<QMessageBox::Icon>(icon), title, text, QMessageBox::Ok, this);
    box.setTextFormat(Qt::PlainText);
    box.exec();
}

void CCustomDlg::OnSelChangePresets() {
    const int index = m_pPresetBox->currentIndex();
    if (index < 0) return;
    const CPresets* preset =
        FindPresetByName(*m_pPresets, CComboPresetBox::Stored(m_pPresetBox->itemText(index)));
    if (!preset) return;
    SetCurrentPresetName(preset->m_strName);
    const RecSettings& p = preset->m_settings;
    for (const Trackbar& bar : kTrackbars) {
        m_settings.*bar.pField = p.*bar.pField;
        MoveTrackbar(bar.nId, p.*bar.pField);
    }
    m_settings.bDCBlock = p.bDCBlock;
    m_settings.bIgnoreClicks = p.bIgnoreClicks;
    m_pDCBlock->setChecked(p.bDCBlock != 0);
    m_pSmartGap->setChecked(p.bIgnoreClicks != 0);
    m_settings.wBitsPerSample = p.wBitsPerSample;
    CheckBitsButton(p.wBitsPerSample);
    // A rate that is none of the four leaves the buttons as they were.
    m_settings.nSamplesPerSec = p.nSamplesPerSec;
    CheckRateButton(p.nSamplesPerSec);
    m_settings.wChannels = p.wChannels;
    m_settings.nWaveInID = p.nWaveInID;
}

void CCustomDlg::DeletePresetAt(int index) {
    const std::string name = CComboPresetBox::Stored(m_pPresetBox->itemText(index));
    for (auto it = m_pPresets->begin(); it != m_pPresets->end(); ++it) {
        if (it->m_strName == name) {
            m_pPresets->erase(it);
            break;
        }
    }
    m_pPresetBox->removeItem(index);
}

void CCustomDlg::PresetsChanged() {
    if (m_presetsChanged) m_presetsChanged();
}

void CCustomDlg::OnAddPreset() {
    const QString text = m_pPresetBox->currentText();
    if (text.isEmpty()) {
        ShowMessage(QStringLiteral("You need to enter a name for the preset."), kPresetError,
                    QMessageBox::NoIcon);
        m_pPresetBox->setFocus();
        return;
    }
    // The presets file keeps names in one 8-bit code page. A character it has no byte for would
    // come back as '?', and two names differing only there would become one name twice.
    const std::string lost = Windows1252Unencodable(text.toStdString());
    if (!lost.empty()) {
        QStringList characters;
        for (char32_t c : QString::fromStdString(lost).toUcs4())
            characters.append(QString::fromUcs4(&c, 1));
        ShowMessage(QStringLiteral("The preset name cannot keep these characters: %1\n"
                                   "Please type the name without them.")
                        .arg(characters.join(QLatin1Char(' '))),
                    kPresetError, QMessageBox::Warning);
        m_pPresetBox->setFocus();
        return;
    }
    // Duplicates are looked for under the name as it will be stored, cut to the longest preset
    // name the program keeps.
    const std::string stored = CutPresetName(CComboPresetBox::Stored(text));
    const QString name = CComboPresetBox::Shown(stored);
    const int existing = m_pPresetList->FindStringExact(name);
    if (existing >= 0) {
        const QString question = QStringLiteral("The preset, %1, exists.\n").arg(name) +
                                 QStringLiteral(
                                     "Are you sure you want to over-write this preset?\n\n"
                                     "If you want to add a new preset follow these steps:\n"
                                     "Step 1: Type a new name in the edit box.\n"
                                     "Step 2: Click on the plus button.\n");
        if (!AskYesNo(question, kPresetWarning)) {
            m_pPresetBox->setFocus();
            return;
        }
        DeletePresetAt(existing);
    }

    RecSettings record = m_settings;
    for (size_t i = 0; i < std::size(kTrackbars); ++i)
        record.*kTrackbars[i].pField = m_pTrackbars[i]->value();
    record.bDCBlock = m_pDCBlock->isChecked() ? 1 : 0;
    record.bIgnoreClicks = m_pSmartGap->isChecked() ? 1 : 0;
    const CPresets preset(stored, record);
    try {
        m_pPresets->push_back(preset);
    } catch (const std::bad_alloc&) {
        ShowMessage(QStringLiteral("Error adding preset.\n"), kPresetError, QMessageBox::Critical);
        if (existing >= 0) PresetsChanged();  // the over-written preset is gone all the same
        return;
    }
    const int at = m_pPresetList->InsertSorted(CComboPresetBox::Shown(preset.m_strName));
    m_pPresetBox->setCurrentIndex(at);
    SetCurrentPresetName(preset.m_strName);
    FocusDefaultButton();
    PresetsChanged();
}

void CCustomDlg::OnDeletePreset() {
    const int selected = m_pPresetBox->currentIndex();
    if (selected < 0) {
        if (!m_pPresetBox->currentText().isEmpty()) {  // a name typed, never stored
            m_pPresetBox->setEditText(QString());
            FocusDefaultButton();
            return;
        }
        ShowMessage(QStringLiteral("No preset is selected"), kPresetWarning, QMessageBox::NoIcon);
        m_pPresetBox->setFocus();
        return;
    }
    const QString question = QStringLiteral("Are you sure you want to delete the preset, %1?\n")
                                 .arg(m_pPresetBox->itemText(selected));
    if (!AskYesNo(question, kPresetWarning)) {
        FocusDefaultButton();
        return;
    }
    DeletePresetAt(selected);
    // No other preset becomes current: the controls still show the deleted one's values, and a
    // name in the box would claim they were that preset's. The box stays blank until one is
    // chosen, in the main window too.
    m_pPresetBox->setCurrentIndex(-1);
    m_pPresetBox->setEditText(QString());
    m_pstrPreset->clear();
    FocusDefaultButton();
    PresetsChanged();
}

bool CCustomDlg::HasTypedName() const {
    // The selection is no guide: an editable box may keep its entry while the text changes, and
    // an entry's name typed again is no new name. The text is new when no entry has it as the
    // plus button would store it.
    const QString text = m_pPresetBox->currentText();
    if (text.isEmpty()) return false;
    const std::string stored = CutPresetName(CComboPresetBox::Stored(text));
    return m_pPresetList->FindStringExact(CComboPresetBox::Shown(stored)) < 0;
}

void CCustomDlg::OfferToAddTypedName() {
    const QString question =
        QStringLiteral("You have changed the current preset name.\n") +
        QStringLiteral("Do you want to add the new preset, %1?\n").arg(m_pPresetBox->currentText());
    if (AskYesNo(question, kPresetWarning)) OnAddPreset();
}

void CCustomDlg::OnKillFocusPresets(QWidget* now) {
    if (!HasTypedName()) return;
    if (now == m_pAddPreset || now == m_pDeletePreset) return;
    OfferToAddTypedName();
}

bool CCustomDlg::eventFilter(QObject* watched, QEvent* event) {
    // Enter after typing a name would otherwise press Done and lose the name. The keys reach the
    // box, the focus widget, which hands them to its field past any filter of the field's own.
    if ((watched == m_pPresetBox || watched == m_pPresetBox->lineEdit()) &&
        event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent*>(event)->key();
        if ((key == Qt::Key_Return || key == Qt::Key_Enter) && HasTypedName()) {
            OfferToAddTypedName();
            return true;
        }
    }
    return QDialog::eventFilter(watched, event);
}
