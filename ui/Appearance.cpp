#include "ui/Appearance.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QComboBox>
#include <QFontMetrics>
#include <QIcon>
#include <QPainter>
#include <QSvgRenderer>
#include <cstdlib>

#include "resources/Resources.h"

namespace {
// MulDiv's rounding: to the nearest integer, halves away from zero.
int MulDivRound(int value, int mul, int div) {
    const long long p = static_cast<long long>(value) * mul;
    const long long half = div / 2;
    return static_cast<int>(p >= 0 ? (p + half) / div : -((-p + half) / div));
}
}  // namespace

DialogBaseUnits BaseUnitsFor(const QFont& font) {
    const QFontMetrics metrics(font);
    const int extent = metrics.horizontalAdvance(
        QStringLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"));
    // The average width of the 52 letters, rounded to the nearest pixel.
    return {(extent / 26 + 1) / 2, metrics.height()};
}

QRect MapDialogRect(const QRect& du, const DialogBaseUnits& units) {
    const int left = MulDivRound(du.x(), units.cx, 4);
    const int top = MulDivRound(du.y(), units.cy, 8);
    const int right = MulDivRound(du.x() + du.width(), units.cx, 4);
    const int bottom = MulDivRound(du.y() + du.height(), units.cy, 8);
    return QRect(left, top, right - left, bottom - top);
}

QFont MakeDialogFont(const char* face, int points) {
    QFont font;
    const QString name = QString::fromLatin1(face);
    const QString fallback =
        name.contains(QLatin1String("Serif")) && !name.contains(QLatin1String("Sans"))
            ? QStringLiteral("DejaVu Serif")
            : QStringLiteral("DejaVu Sans");
    font.setFamilies({name, fallback});
    font.setPointSize(points);
    return font;
}

QFont MakeComboFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Serif"), QStringLiteral("DejaVu Serif")});
    font.setPixelSize(14);
    font.setWeight(QFont::DemiBold);  // 600
    return font;
}

QFont MakeMeterFont() {
    QFont font;
    font.setFamilies({QStringLiteral("MS Serif"), QStringLiteral("DejaVu Serif")});
    font.setPixelSize(13);
    font.setWeight(QFont::Thin);  // 100
    return font;
}

int ColourCountFromDepth(int depth) {
    if (depth <= 0 || depth > 8) return 16777216;
    return 1 << depth;
}

SchemeColours SchemeFor(bool purple, int numColors, const QPalette& system) {
    if (purple) {
        return {numColors > 16 ? QColor(60, 0, 80) : QColor(128, 0, 128), QColor(255, 255, 255),
                159, 158};
    }
    return {system.color(QPalette::Active, QPalette::Button),
            system.color(QPalette::Active, QPalette::WindowText), 161, 160};
}

ControlColours ColoursFor(ControlClass cls, const SchemeColours& scheme) {
    switch (cls) {
        case ControlClass::Combo:
            return {QColor(50, 200, 50), QColor(0, 0, 0), true};
        case ControlClass::InfoLine:
            return {QColor(0, 200, 255), QColor(0, 0, 0), true};
        case ControlClass::Other:
            break;
    }
    return {scheme.clrText, scheme.clrBackground, false};
}

void ApplyWindowColours(QWidget* window, const SchemeColours& scheme) {
    QPalette pal = window->palette();
    const ControlColours other = ColoursFor(ControlClass::Other, scheme);
    for (QPalette::ColorGroup group : {QPalette::Active, QPalette::Inactive}) {
        pal.setColor(group, QPalette::Window, other.clrBackground);
        pal.setColor(group, QPalette::WindowText, other.clrText);
    }
    pal.setColor(QPalette::Disabled, QPalette::Window, other.clrBackground);
    window->setPalette(pal);
    window->setAutoFillBackground(true);
}

void ShowToggleState(QAbstractButton* button) {
    const QString name = button->text();
    button->setStyleSheet(
        QStringLiteral("QPushButton:checked { background-color: rgb(50, 200, 50); color: black;"
                       " border: 1px solid rgb(0, 90, 0); border-radius: 3px; }"));
    const auto show = [button, name](bool on) {
        button->setText(name + (on ? QStringLiteral(" On") : QStringLiteral(" Off")));
    };
    QObject::connect(button, &QAbstractButton::toggled, button, show);
    show(button->isChecked());
}

void ApplyComboColours(QComboBox* box, const SchemeColours& scheme) {
    const ControlColours combo = ColoursFor(ControlClass::Combo, scheme);
    QPalette pal = box->palette();
    for (QPalette::ColorRole role : {QPalette::Button, QPalette::Base, QPalette::Window})
        pal.setColor(role, combo.clrBackground);
    for (QPalette::ColorRole role : {QPalette::ButtonText, QPalette::Text, QPalette::WindowText}) {
        pal.setColor(QPalette::Active, role, combo.clrText);
        pal.setColor(QPalette::Inactive, role, combo.clrText);
    }
    box->setPalette(pal);
    // The list opens in a window of its own, which the style gives a menu's light colours
    // whenever the box's palette changes; the list itself keeps the box's.
    box->view()->setPalette(pal);
    box->view()->parentWidget()->setPalette(pal);
}

QPixmap LoadPicture(int id, const QSize& size, qreal pixelRatio) {
    const char* path = ResourceImagePath(id);
    if (!path || size.isEmpty()) return {};
    QSvgRenderer renderer(QString::fromLatin1(path));
    if (!renderer.isValid()) return {};
    QPixmap pixmap(QSize(qRound(size.width() * pixelRatio), qRound(size.height() * pixelRatio)));
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    renderer.setAspectRatioMode(Qt::KeepAspectRatio);
    renderer.render(&painter);
    painter.end();
    pixmap.setDevicePixelRatio(pixelRatio);
    return pixmap;
}

QIcon LoadIconResource(int id) {
    const char* path = ResourceImagePath(id);
    if (!path) return {};
    // Rendered for every size and pixel ratio asked, so the icon stays sharp.
    QIcon icon;
    for (int px : {16, 24, 32, 48, 64, 128, 256}) {
        QSvgRenderer renderer(QString::fromLatin1(path));
        if (!renderer.isValid()) return {};
        QPixmap pixmap(px, px);
        pixmap.fill(Qt::transparent);
        QPainter painter(&pixmap);
        renderer.render(&painter);
        painter.end();
        icon.addPixmap(pixmap);
    }
    return icon;
}
