// The control ids of the dialog templates, named once: the templates (Resources.cpp) are built
// from them and the dialogs find their controls by them. Ids are unique within a template only.
// Constant data.
#pragma once

// The main window, template 102.
constexpr int IDOK_EXIT = 1;
constexpr int IDC_RECORD = 1000;
constexpr int IDC_RECMIXER = 1001;
constexpr int IDC_BASEFILE = 1002;  // Base File Name box
constexpr int IDC_PRESETS = 1003;   // Presets box
constexpr int IDC_NEW = 1004;
constexpr int IDC_PLAYMIXER = 1005;
constexpr int IDC_AUTOCONFIG = 1006;
constexpr int IDC_STOP = 1011;
constexpr int IDC_CURFILE = 1015;    // "Cur File: ..." label
constexpr int IDC_SONGTIME = 1016;   // "Song Time  mm:ss" label
constexpr int IDC_TOTALTIME = 1017;  // "Total Time  mm:ss" label
constexpr int IDC_CUSTOMIZE = 1018;  // Customize... button
constexpr int IDC_RECINFO = 1019;
constexpr int IDC_CLIPPED = 1020;  // "Clipped Pts: n" label
constexpr int IDC_HELP = 1028;
constexpr int IDC_PURPLE = 1031;
constexpr int IDC_METER_LEFT = 1032;
constexpr int IDC_PICTURE = 1033;  // recording picture
constexpr int IDC_METER_RIGHT = 1034;
constexpr int IDC_PRESETS_FRAME = 1106;
constexpr int IDC_WARNING = 1107;  // warnings while recording, empty otherwise
constexpr int IDC_MONITOR = 1108;  // "Monitor": the meters follow the input while idle
constexpr int IDC_REVIEW = 1109;   // Review... button

// Custom Settings, template 139 (the dialog's own names: CCustomDlg::IDC_...).
struct CustomDlgIds {
    static constexpr int IDC_DONE = 1;
    static constexpr int IDC_PRESETS = 1003;
    static constexpr int IDC_DEVICE = 1006;
    static constexpr int IDC_DEFAULT = 1012;
    static constexpr int IDC_GAPSIZE = 1020;
    static constexpr int IDC_GAPLEVEL = 1021;
    static constexpr int IDC_DCBLOCK = 1022;
    static constexpr int IDC_GAPSIZE_LABEL = 1023;
    static constexpr int IDC_GAPLEVEL_LABEL = 1024;
    static constexpr int IDC_GAPSIZE_TITLE = 1025;
    static constexpr int IDC_GAPLEVEL_TITLE = 1026;
    static constexpr int IDC_MINSONG = 1027;
    static constexpr int IDC_ENDSIZE = 1029;
    static constexpr int IDC_MINSONG_LABEL = 1030;
    static constexpr int IDC_ENDSIZE_LABEL = 1031;
    static constexpr int IDC_MINSONG_TITLE = 1032;
    static constexpr int IDC_ENDSIZE_TITLE = 1033;
    static constexpr int IDC_SMARTGAP = 1035;
    static constexpr int IDC_RATE44 = 1036;
    static constexpr int IDC_RATE48 = 1037;
    static constexpr int IDC_BITS16 = 1038;
    static constexpr int IDC_BITS24 = 1039;
    static constexpr int IDC_RATE_FRAME = 1040;
    static constexpr int IDC_RATE11 = 1041;
    static constexpr int IDC_RATE22 = 1042;
    static constexpr int IDC_GLOBALHOTKEY = 1043;  // "Ctrl+S from any application"
    static constexpr int IDC_HELP = 57670;
    static constexpr int IDC_DELETEPRESET = 57672;
    static constexpr int IDC_ADDPRESET = 57673;
};
