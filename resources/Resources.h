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
    kDlgCentre = 1u << 8,
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

// Dialog 102 (the main window) and 100 (About); null for an unknown id.
const DlgTemplate* FindDialogTemplate(int id);

// The string-table entry, or "" when there is none.
const char* LoadResString(int id);

// Qt resource path (":/...") of an icon or bitmap id, or null for an unknown id.
const char* ResourceImagePath(int id);
