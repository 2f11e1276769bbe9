// The program's resources by number, as the window code asks for them: the string table, the
// dialog templates (control ids, kinds, texts and positions in dialog units) and the artwork
// (SVG sources compiled into the Qt resource system, drawn at any pixel ratio).
// Constant data; any thread.
#pragma once

#include <cstdint>

// Control kinds of a dialog template.
enum class DlgKind {
    PushButton,
    DefPushButton,
    Label,
    ComboBox,
    GroupBox,
    CheckBox,
    RadioButton,
    Trackbar,
    Frame,
    Picture
};

// Style bits of a dialog item.
enum DlgStyle : uint32_t {
    kDlgTabStop = 1u << 0,
    kDlgIcon = 1u << 1,    // push button showing an icon instead of its text
    kDlgSorted = 1u << 2,  // combo box keeps its entries sorted
    kDlgVScroll = 1u << 3,
    kDlgAutoHScroll = 1u << 4,
    kDlgVCentre = 1u << 5,   // label text centred vertically
    kDlgTextLeft = 1u << 6,  // check box with its text left of the box
    kDlgBlackFrame = 1u << 7,
    kDlgCentre = 1u << 8,      // text (or a group box's title) centred
    kDlgHidden = 1u << 9,      // never shown
    kDlgGroup = 1u << 10,      // a radio button that starts a new group of radio buttons
    kDlgPushLike = 1u << 11,   // check box drawn as a push button
    kDlgEditable = 1u << 12,   // combo box with an edit field above its list
    kDlgVertical = 1u << 13,   // trackbar
    kDlgTicksBoth = 1u << 14,  // trackbar with ticks on both sides
};

struct DlgItem {
    int id;  // -1 for items without an id
    DlgKind kind;
    const char* text;
    int x, y, cx, cy;  // dialog units
    uint32_t style;
    int imageId;  // icon or bitmap shown by the item, 0 for none
};

struct DlgTemplate {
    int id;
    const char* caption;
    const char* fontFace;
    int pointSize;
    int cx, cy;  // client area, dialog units
    const DlgItem* items;
    int count;
};

// Dialog 102 (the main window), 139 (Custom Settings) and 100 (About); null for an unknown id.
const DlgTemplate* FindDialogTemplate(int id);

// The string-table entry, or "" when there is none.
const char* LoadResString(int id);

// Qt resource path (":/...") of an icon or bitmap id, or null for an unknown id.
const char* ResourceImagePath(int id);
