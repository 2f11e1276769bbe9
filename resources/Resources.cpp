#include "resources/Resources.h"

#include <iterator>

#include "resources/ControlIds.h"

namespace {

constexpr DlgItem kMainItems[] = {
    {IDC_RECORD, DlgKind::PushButton, "Record", 142, 18, 22, 20,
     kDlgTabStop | kDlgIcon | kDlgCentre, 136},
    {IDC_STOP, DlgKind::DefPushButton, "Stop", 166, 18, 22, 20, kDlgTabStop | kDlgIcon | kDlgCentre,
     132},
    {-1, DlgKind::Label, "Base File Name", 118, 42, 50, 8, 0, 0},
    {IDC_BASEFILE, DlgKind::ComboBox, "", 117, 53, 74, 50, kDlgTabStop | kDlgVScroll, 0},
    {IDC_NEW, DlgKind::PushButton, "New", 194, 53, 22, 14, kDlgTabStop, 0},
    {IDC_REVIEW, DlgKind::PushButton, "Review...", 194, 69, 36, 12, kDlgTabStop, 0},
    {IDC_PRESETS_FRAME, DlgKind::GroupBox, "Presets", 2, 83, 111, 51, 0, 0},
    {IDC_PRESETS, DlgKind::ComboBox, "", 6, 98, 104, 55,
     kDlgTabStop | kDlgSorted | kDlgAutoHScroll | kDlgVScroll, 0},
    {IDC_CUSTOMIZE, DlgKind::PushButton, "Customize...", 32, 116, 50, 14, kDlgTabStop, 0},
    {IDC_RECMIXER, DlgKind::PushButton, "Record Mixer", 16, 140, 77, 11, kDlgTabStop, 0},
    {IDC_PLAYMIXER, DlgKind::PushButton, "Playback Mixer", 16, 153, 77, 11, kDlgTabStop, 0},
    {IDC_AUTOCONFIG, DlgKind::PushButton, "Auto-Config Rec-Mixer", 16, 166, 77, 11, kDlgTabStop, 0},
    {IDOK_EXIT, DlgKind::PushButton, "Exit", 233, 2, 40, 14, kDlgTabStop, 0},
    {IDC_HELP, DlgKind::PushButton, "Help", 233, 18, 40, 14, kDlgTabStop, 0},
    {IDC_PURPLE, DlgKind::CheckBox, "Purple", 235, 35, 36, 10, kDlgTabStop | kDlgTextLeft, 0},
    {IDC_MONITOR, DlgKind::CheckBox, "Monitor", 229, 47, 42, 10, kDlgTabStop | kDlgTextLeft, 0},
    {IDC_RECINFO, DlgKind::GroupBox, "Recording Info", 126, 82, 103, 98, 0, 0},
    {IDC_CURFILE, DlgKind::Label, "", 137, 100, 84, 14, kDlgVCentre, 0},
    {IDC_CLIPPED, DlgKind::Label, "", 137, 119, 84, 14, kDlgVCentre, 0},
    {IDC_SONGTIME, DlgKind::Label, "", 137, 138, 70, 14, kDlgVCentre, 0},
    {IDC_TOTALTIME, DlgKind::Label, "", 137, 157, 70, 15, kDlgVCentre, 0},
    {IDC_METER_LEFT, DlgKind::Frame, "", 242, 61, 12, 120, kDlgBlackFrame, 0},
    {IDC_METER_RIGHT, DlgKind::Frame, "", 258, 61, 12, 120, kDlgBlackFrame, 0},
    {IDC_PICTURE, DlgKind::Picture, "", 17, 7, 77, 71, 0, 159},
    {IDC_WARNING, DlgKind::Label, "", 4, 184, 267, 10, kDlgVCentre, 0},
};

constexpr uint32_t kTrackbar = kDlgVertical | kDlgTicksBoth | kDlgTabStop;

constexpr DlgItem kCustomItems[] = {
    {CustomDlgIds::IDC_GAPSIZE_TITLE, DlgKind::Label, "Gap Size", 14, 9, 32, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_GAPSIZE, DlgKind::Trackbar, "", 14, 19, 32, 115, kTrackbar, 0},
    {CustomDlgIds::IDC_GAPSIZE_LABEL, DlgKind::Label, "0.75 secs", 13, 137, 32, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_GAPLEVEL_TITLE, DlgKind::Label, "Gap Level", 53, 9, 34, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_GAPLEVEL, DlgKind::Trackbar, "", 54, 19, 32, 116, kTrackbar, 0},
    {CustomDlgIds::IDC_GAPLEVEL_LABEL, DlgKind::Label, "-40.0 dB", 55, 137, 28, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_MINSONG_TITLE, DlgKind::Label, "Min Song", 93, 9, 32, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_MINSONG, DlgKind::Trackbar, "", 93, 19, 32, 115, kTrackbar, 0},
    {CustomDlgIds::IDC_MINSONG_LABEL, DlgKind::Label, "30.0 secs", 93, 137, 32, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_ENDSIZE_TITLE, DlgKind::Label, "End Gap", 134, 9, 29, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_ENDSIZE, DlgKind::Trackbar, "", 133, 19, 32, 115, kTrackbar, 0},
    {CustomDlgIds::IDC_ENDSIZE_LABEL, DlgKind::Label, "10 secs", 137, 137, 26, 8, kDlgCentre, 0},
    {CustomDlgIds::IDC_DCBLOCK, DlgKind::CheckBox, "DC Block", 24, 147, 53, 16,
     kDlgPushLike | kDlgTabStop, 0},
    {CustomDlgIds::IDC_SMARTGAP, DlgKind::CheckBox, "Smart Gap", 101, 151, 49, 10, kDlgTabStop, 0},
    {CustomDlgIds::IDC_GLOBALHOTKEY, DlgKind::CheckBox, "Ctrl+S from any application", 14, 164, 150,
     10, kDlgTabStop, 0},
    {CustomDlgIds::IDC_RATE_FRAME, DlgKind::GroupBox, "Sampling Rate", 171, 28, 118, 43, kDlgCentre,
     0},
    {CustomDlgIds::IDC_RATE11, DlgKind::RadioButton, "11 kHz", 182, 42, 49, 10, kDlgGroup, 0},
    {CustomDlgIds::IDC_RATE22, DlgKind::RadioButton, "22 kHz", 236, 42, 49, 10, 0, 0},
    {CustomDlgIds::IDC_RATE44, DlgKind::RadioButton, "44.1 kHz", 182, 54, 45, 10, 0, 0},
    {CustomDlgIds::IDC_RATE48, DlgKind::RadioButton, "48 kHz", 236, 54, 39, 10, 0, 0},
    {-1, DlgKind::GroupBox, "Recording Device", 171, 77, 118, 34, 0, 0},
    {CustomDlgIds::IDC_DEVICE, DlgKind::ComboBox, "", 178, 91, 104, 57, kDlgTabStop | kDlgVScroll,
     0},
    {-1, DlgKind::GroupBox, "Presets", 171, 119, 117, 49, 0, 0},
    {CustomDlgIds::IDC_PRESETS, DlgKind::ComboBox, "", 178, 134, 104, 55,
     kDlgTabStop | kDlgEditable | kDlgSorted | kDlgAutoHScroll | kDlgVScroll, 0},
    {CustomDlgIds::IDC_ADDPRESET, DlgKind::PushButton, "Add", 217, 150, 13, 13,
     kDlgTabStop | kDlgIcon | kDlgCentre, 278},
    {CustomDlgIds::IDC_DELETEPRESET, DlgKind::PushButton, "Delete", 233, 150, 13, 13,
     kDlgTabStop | kDlgIcon | kDlgCentre, 279},
    {CustomDlgIds::IDC_DEFAULT, DlgKind::DefPushButton, "Default", 182, 7, 50, 8, kDlgHidden, 0},
    {CustomDlgIds::IDC_DONE, DlgKind::DefPushButton, "Done", 245, 7, 44, 14, kDlgTabStop, 0},
    {CustomDlgIds::IDC_HELP, DlgKind::PushButton, "Help", 193, 7, 44, 14, kDlgTabStop, 0},
    {CustomDlgIds::IDC_BITS16, DlgKind::RadioButton, "16", 197, 23, 24, 10, kDlgGroup | kDlgHidden,
     0},
    {CustomDlgIds::IDC_BITS24, DlgKind::RadioButton, "24", 241, 23, 24, 10, kDlgHidden, 0},
};

// The version line is replaced by the one of the build when the dialog opens.
constexpr DlgItem kAboutItems[] = {
    {-1, DlgKind::Picture, "", 12, 10, 20, 20, 0, 128},
    {-1, DlgKind::Label, "Vellisto Version 1.5", 40, 10, 119, 8, 0, 0},
    {-1, DlgKind::Label, "Splits records and tapes into songs", 40, 21, 119, 8, 0, 0},
    {-1, DlgKind::Label, "One numbered WAV file per song, cut at the gaps.", 12, 38, 192, 8, 0, 0},
    {1, DlgKind::DefPushButton, "OK", 178, 7, 32, 14, kDlgTabStop, 0},
    {1009, DlgKind::Picture, "", 21, 50, 175, 112, 0, 130},
    {-1, DlgKind::Label, "GNU GPL v3 or later", 67, 168, 65, 8, kDlgCentre, 0},
};

constexpr DlgTemplate kTemplates[] = {
    {102, "Zelk Vellisto", "MS Sans Serif", 8, 275, 196, kMainItems, int(std::size(kMainItems))},
    {139, "Zelk Vellisto Custom Settings", "MS Sans Serif", 8, 296, 175, kCustomItems,
     int(std::size(kCustomItems))},
    {100, "About Zelk Vellisto", "MS Sans Serif", 8, 217, 183, kAboutItems,
     int(std::size(kAboutItems))},
};

struct StringEntry {
    int id;
    const char* text;
};

constexpr StringEntry kStrings[] = {
    {101, "&About Zelk Vellisto"},
    {102, "Open the playback mixer"},
    {103, "Open the recording mixer"},
    {104, "Auto configures Rec Mixer"},
    {105, "Record (Ctrl+S)"},
    {106, "Stop recording"},
    {107, "Add a Preset"},
    {108, "Delete a Preset"},
    {109, "Level Left (2dB/LED)"},
    {110, "Select base filename from list"},
    {111, "Create new base file"},
    {113, "Level Right (2dB/LED)"},
    {115, "Review a take: listen to its cuts, move them, name the songs and keep them"},
    {114,
     "DC Block removes a constant offset from the input. It also lowers deep bass (at 44.1 kHz "
     "about -3 dB at 60 Hz, -4 dB at 50 Hz, -10 dB at 20 Hz). Switch it off for music with deep "
     "bass that matters when your sound card adds no offset."},
};

struct ImageEntry {
    int id;
    const char* path;
};

constexpr ImageEntry kImages[] = {
    {128, ":/art/app.svg"},
    {130, ":/art/about.svg"},
    {132, ":/art/stop.svg"},
    {136, ":/art/record.svg"},
    {158, ":/art/purple_active.svg"},
    {159, ":/art/purple_idle.svg"},
    {160, ":/art/standard_active.svg"},
    {161, ":/art/standard_idle.svg"},
    {278, ":/art/plus.svg"},
    {279, ":/art/minus.svg"},
};

}  // namespace

const DlgTemplate* FindDialogTemplate(int id) {
    for (const DlgTemplate& t : kTemplates)
        if (t.id == id) return &t;
    return nullptr;
}

const char* LoadResString(int id) {
    for (const StringEntry& s : kStrings)
        if (s.id == id) return s.text;
    return "";
}

const char* ResourceImagePath(int id) {
    for (const ImageEntry& e : kImages)
        if (e.id == id) return e.path;
    return nullptr;
}
