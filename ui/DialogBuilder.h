// Builds a window's controls from its dialog template: the caption, the dialog font, the fixed
// size and every control with its kind, text and style, placed in dialog units of that font,
// with the tab order of the template and radio buttons in their groups. The main window, the
// Custom Settings dialog and About are all built this way. User-interface thread.
#pragma once

#include <QFont>
#include <map>
#include <vector>

#include "resources/Resources.h"
#include "ui/Appearance.h"

class QWidget;

struct DialogItems {
    std::vector<QWidget*> all;     // every item, in template order
    std::map<int, QWidget*> byId;  // the items that have an id
    QFont fontDialog;
    DialogBaseUnits units;

    QWidget* Get(int id) const {
        const auto it = byId.find(id);
        return it == byId.end() ? nullptr : it->second;
    }
};

// Creates the template's controls as children of window and gives window the template's
// caption, font and size. Combo boxes get comboFont; a closed combo box is as tall as its font
// needs, the template's height being that of the dropped-down list.
DialogItems CreateDialogItems(QWidget* window, const DlgTemplate& tpl, const QFont& comboFont);
