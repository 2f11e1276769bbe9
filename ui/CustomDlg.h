// The Custom Settings dialog, built from dialog template 139: four vertical trackbars for Gap
// Size, Gap Level, Minimum Song Size and End Gap with their labels, DC Block, Smart Gap, the
// sampling rate, the capture device, and the presets. It edits a copy of the main window's
// settings record, which the main window reads back after Done; the preset list and the current
// preset name belong to the main window and change at once, through pointers, whichever way the
// dialog ends.
//
// Made on the stack by the main window's Customize handler and run modally (DoModal).
// User-interface thread only; no recording runs while it is open.
#pragma once

#include <QDialog>
#include <array>
#include <functional>
#include <memory>
#include <vector>

#include "engine/RecSettings.h"
#include "resources/ControlIds.h"
#include "settings/Presets.h"
#include "ui/Appearance.h"
#include "ui/DialogBuilder.h"

class ICaptureBackend;
class CComboPresetBox;
class CRecorderToolTip;
class QAbstractButton;
class QComboBox;
class QLabel;
class QPushButton;
class QSlider;

// The control ids are CustomDlgIds' (CCustomDlg::IDC_...).
class CCustomDlg : public QDialog, public CustomDlgIds {
    Q_OBJECT

public:
    // presets and the current preset's name are the main window's; scheme its colours; devices
    // the capture backend whose devices the device box lists. All must outlive the dialog.
    CCustomDlg(std::vector<CPresets>* presets, std::string* pstrPreset, const SchemeColours* scheme,
               ICaptureBackend* devices, QWidget* parent = nullptr);
    ~CCustomDlg() override;

    // Fills the controls from m_settings and the preset list; then exec(). Result: Accepted
    // for Done, Rejected for Esc.
    int DoModal();
    void OnInitDialog();

    void OnVScroll(int trackbarId);
    void OnSelChangeDevice();
    void OnSelChangePresets();
    void OnAddPreset();
    void OnDeletePreset();
    // The preset box lost the focus to `now`.
    void OnKillFocusPresets(QWidget* now);

    QWidget* GetItem(int id) const { return m_items.Get(id); }

    // The working copy: set before DoModal, read after Done.
    RecSettings m_settings;
    // Ctrl+S from any application; set before DoModal, read after Done.
    bool m_bGlobalHotKey = true;
    // Called after the preset list changed (a preset added, replaced or deleted), so that the
    // owner of the list keeps it at once rather than at exit. May be empty.
    std::function<void()> m_presetsChanged;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void DeletePresetAt(int index);
    void PresetsChanged();
    // A name typed into the preset box that is no entry of it.
    bool HasTypedName() const;
    void OfferToAddTypedName();
    void SetCurrentPresetName(const std::string& name);
    void MoveTrackbar(int trackbarId, int position);
    void CheckRateButton(uint32_t rate);
    void CheckBitsButton(uint16_t bits);
    void FocusDefaultButton();
    bool AskYesNo(const QString& text, const QString& title);
    void ShowMessage(const QString& text, const QString& title, int icon);

    std::vector<CPresets>* m_pPresets;
    std::string* m_pstrPreset;
    const SchemeColours* m_pScheme;
    ICaptureBackend* m_pDevices;

    QFont m_fontCombo;
    DialogItems m_items;
    // The controls, fetched once from the template with checked casts. The trackbars and their
    // labels go as Gap Size, Gap Level, Minimum Song Size, End Gap; the rate buttons as 11.025,
    // 22.05, 44.1, 48 kHz.
    template <typename Widget>
    Widget* Item(int id) const;
    std::array<QSlider*, 4> m_pTrackbars{};
    std::array<QLabel*, 4> m_pTrackbarLabels{};
    std::array<QAbstractButton*, 4> m_pRateButtons{};
    QAbstractButton* m_pBits16 = nullptr;
    QAbstractButton* m_pBits24 = nullptr;
    QAbstractButton* m_pDCBlock = nullptr;
    QAbstractButton* m_pSmartGap = nullptr;
    QAbstractButton* m_pGlobalHotKey = nullptr;
    QPushButton* m_pAddPreset = nullptr;
    QPushButton* m_pDeletePreset = nullptr;
    QAbstractButton* m_pDone = nullptr;
    QAbstractButton* m_pHelp = nullptr;
    QComboBox* m_pPresetBox = nullptr;
    QComboBox* m_pDeviceBox = nullptr;
    std::unique_ptr<CComboPresetBox> m_pPresetList;
    CRecorderToolTip* m_pToolTip = nullptr;
    QMetaObject::Connection m_focusConnection;
};
