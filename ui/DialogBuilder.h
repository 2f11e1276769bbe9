// Builds a window's controls from its dialog template: the caption, the dialog font, the fixed
// size and every control with its kind, text and style, placed in dialog units of that font,
// with the tab order of the template and radio buttons in their groups. The main window, the
// Custom Settings dialog and About are all built this way. User-interface thread.
#pragma once

#include <QComboBox>
#include <QFont>
#include <QWidget>
#include <QtGlobal>
#include <map>
#include <vector>

#include "resources/Resources.h"
#include "ui/Appearance.h"

class QWidget;

// text shortened to width by leaving out characters from its middle, more of them from the
// beginning than from the end: the end of a name tells songs and sides apart.
QString ElideKeepingEnd(const QString& text, const QFontMetrics& fm, int width);

// A drop-down list that shortens a text too long for it in the middle, in the closed box and in
// the list, so that the end of a name (a side's number, say) always shows. An editable box shows
// its line edit as Qt draws it.
class CElidingComboBox : public QComboBox {
public:
    using QComboBox::QComboBox;

    // The current text as the closed box shows it.
    QString ShownText() const;

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QRect TextRect(const QStyleOptionComboBox& option) const;
};

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

// A template's control as the kind of widget the code expects. A control that is missing or of
// another kind means the template and the code disagree: a fault of the program, caught where
// the window is built. window names it in the message.
template <typename Widget>
Widget* CheckedItem(QWidget* item, int id, const char* window) {
    auto* widget = dynamic_cast<Widget*>(item);
    if (!widget) qFatal("control %d of %s is missing or of another kind", id, window);
    return widget;
}

// Creates the template's controls as children of window and gives window the template's
// caption, font and size. Combo boxes get comboFont; a closed combo box is as tall as its font
// needs, the template's height being that of the dropped-down list.
DialogItems CreateDialogItems(QWidget* window, const DlgTemplate& tpl, const QFont& comboFont);
