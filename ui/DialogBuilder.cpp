#include "ui/DialogBuilder.h"

#include <QAbstractItemView>
#include <QButtonGroup>
#include <QCheckBox>
#include <QComboBox>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QRadioButton>
#include <QSlider>
#include <QStylePainter>
#include <algorithm>

#include "ui/LedMeter.h"

namespace {

QWidget* CreateItem(QWidget* window, const DlgItem& item, const QRect& rect,
                    const QFont& comboFont) {
    const QString text = QString::fromLatin1(item.text);
    switch (item.kind) {
        case DlgKind::PushButton:
        case DlgKind::DefPushButton: {
            auto* button = new QPushButton(window);
            if (item.style & kDlgIcon) {
                // The text names the button for accessibility; the icon is what shows.
                button->setAccessibleName(text);
                const int side = std::max(8, std::min(rect.width(), rect.height()) - 10);
                button->setIconSize(QSize(side, side));
            } else {
                button->setText(text);
            }
            button->setDefault(item.kind == DlgKind::DefPushButton);
            return button;
        }
        case DlgKind::Label: {
            auto* label = new QLabel(text, window);
            label->setAlignment(((item.style & kDlgCentre) ? Qt::AlignHCenter : Qt::AlignLeft) |
                                ((item.style & kDlgVCentre) ? Qt::AlignVCenter : Qt::AlignTop));
            label->setTextFormat(Qt::PlainText);
            return label;
        }
        case DlgKind::ComboBox: {
            auto* combo = new CElidingComboBox(window);
            combo->view()->setTextElideMode(Qt::ElideMiddle);
            combo->setFont(comboFont);
            combo->setSizeAdjustPolicy(QComboBox::AdjustToContentsOnFirstShow);
            if (item.style & kDlgEditable) {
                combo->setEditable(true);
                // Typed names are taken as typed: no completion from the list, and the box only
                // gains entries the program adds.
                combo->setCompleter(nullptr);
                combo->setInsertPolicy(QComboBox::NoInsert);
            }
            return combo;
        }
        case DlgKind::GroupBox: {
            auto* group = new QGroupBox(text, window);
            if (item.style & kDlgCentre) group->setAlignment(Qt::AlignHCenter);
            return group;
        }
        case DlgKind::CheckBox: {
            if (item.style & kDlgPushLike) {
                auto* button = new QPushButton(text, window);
                button->setCheckable(true);
                button->setAutoDefault(false);  // a check box: Enter still means the default
                return button;
            }
            auto* check = new QCheckBox(text, window);
            if (item.style & kDlgTextLeft) check->setLayoutDirection(Qt::RightToLeft);
            return check;
        }
        case DlgKind::RadioButton:
            return new QRadioButton(text, window);
        case DlgKind::Trackbar: {
            auto* slider =
                new QSlider((item.style & kDlgVertical) ? Qt::Vertical : Qt::Horizontal, window);
            if (item.style & kDlgTicksBoth) slider->setTickPosition(QSlider::TicksBothSides);
            // The lowest position is at the top, and Up, Page Up and the wheel move toward it.
            slider->setInvertedAppearance(true);
            slider->setInvertedControls(true);
            return slider;
        }
        case DlgKind::Frame:
            return new CLedMeter(window);
        case DlgKind::Picture: {
            auto* picture = new QLabel(window);
            picture->setAlignment(Qt::AlignCenter);
            return picture;
        }
    }
    return nullptr;
}

}  // namespace

QString ElideKeepingEnd(const QString& text, const QFontMetrics& fm, int width) {
    if (fm.horizontalAdvance(text) <= width) return text;
    const QString ellipsis(QChar(0x2026));
    const int room = width - fm.horizontalAdvance(ellipsis);
    if (room <= 0) return ellipsis;
    // Two thirds of the room for the end, what the end leaves over for the beginning.
    qsizetype tail = 0;
    while (tail < text.size() && fm.horizontalAdvance(text.right(tail + 1)) <= room * 2 / 3) ++tail;
    const int left = room - fm.horizontalAdvance(text.right(tail));
    qsizetype head = 0;
    while (head + tail < text.size() && fm.horizontalAdvance(text.left(head + 1)) <= left) ++head;
    return text.left(head) + ellipsis + text.right(tail);
}

QRect CElidingComboBox::TextRect(const QStyleOptionComboBox& option) const {
    return style()->subControlRect(QStyle::CC_ComboBox, &option, QStyle::SC_ComboBoxEditField,
                                   this);
}

QString CElidingComboBox::ShownText() const {
    QStyleOptionComboBox option;
    initStyleOption(&option);
    if (isEditable()) return option.currentText;
    return ElideKeepingEnd(option.currentText, fontMetrics(), TextRect(option).width());
}

void CElidingComboBox::paintEvent(QPaintEvent* event) {
    if (isEditable()) {
        QComboBox::paintEvent(event);
        return;
    }
    QStylePainter painter(this);
    painter.setPen(palette().color(QPalette::Text));
    QStyleOptionComboBox option;
    initStyleOption(&option);
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    option.currentText = ShownText();
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}

DialogItems CreateDialogItems(QWidget* window, const DlgTemplate& tpl, const QFont& comboFont) {
    DialogItems items;
    window->setWindowTitle(QString::fromLatin1(tpl.caption));
    items.fontDialog = MakeDialogFont(tpl.fontFace, tpl.pointSize);
    window->setFont(items.fontDialog);
    items.units = BaseUnitsFor(items.fontDialog);
    window->setFixedSize(MapDialogRect(QRect(0, 0, tpl.cx, tpl.cy), items.units).size());

    QWidget* previousTabStop = nullptr;
    QButtonGroup* radioGroup = nullptr;
    for (int i = 0; i < tpl.count; ++i) {
        const DlgItem& item = tpl.items[i];
        const QRect rect = MapDialogRect(QRect(item.x, item.y, item.cx, item.cy), items.units);
        QWidget* widget = CreateItem(window, item, rect, comboFont);
        widget->setGeometry(rect);
        if (auto* combo = qobject_cast<QComboBox*>(widget)) {
            const int closed = combo->sizeHint().height();
            combo->setGeometry(rect.x(), rect.y(), rect.width(), closed);
            const int row = QFontMetrics(comboFont).height() + 2;
            combo->setMaxVisibleItems(std::max(3, (rect.height() - closed) / row));
        }
        if (auto* radio = qobject_cast<QRadioButton*>(widget)) {
            // Radio buttons of one parent would all exclude each other; the template's groups
            // decide instead.
            if ((item.style & kDlgGroup) || !radioGroup) radioGroup = new QButtonGroup(window);
            radioGroup->addButton(radio);
        }
        if (item.style & kDlgTabStop) {
            widget->setFocusPolicy(Qt::StrongFocus);
            if (previousTabStop) QWidget::setTabOrder(previousTabStop, widget);
            previousTabStop = widget;
        } else {
            widget->setFocusPolicy(Qt::NoFocus);
        }
        if (item.style & kDlgHidden) widget->setHidden(true);
        widget->setObjectName(QStringLiteral("item%1").arg(item.id));
        items.all.push_back(widget);
        if (item.id >= 0) items.byId[item.id] = widget;
    }
    return items;
}
