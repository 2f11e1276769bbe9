#include "ui/ScreenFit.h"

#include <QApplication>
#include <QEvent>
#include <QScreen>
#include <QStyle>
#include <QWidget>
#include <algorithm>

namespace {

class CScreenFitFilter : public QObject {
public:
    explicit CScreenFitFilter(QWidget* mainWindow) : QObject(mainWindow), m_pMain(mainWindow) {}

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() != QEvent::Show || watched == m_pShowing || !watched->isWidgetType())
            return false;
        auto* window = static_cast<QWidget*>(watched);
        const Qt::WindowType type = window->windowType();
        if (!window->isWindow() || (type != Qt::Window && type != Qt::Dialog)) return false;
        // The window's own show handling comes first: a message box sizes itself to its text
        // there and a dialog is centred on its parent. Fitting before it would move a box not
        // yet placed (at the screen's corner), and a moved dialog is no longer centred. The
        // window system has still not been asked to map the window afterwards.
        QWidget* outer = m_pShowing;
        m_pShowing = window;
        QCoreApplication::sendEvent(window, event);
        m_pShowing = outer;
        const QWidget* parent = window->parentWidget();
        const QWidget* anchor = parent ? parent->window() : (window == m_pMain ? nullptr : m_pMain);
        KeepOnScreen(window, anchor);
        return true;
    }

private:
    QWidget* m_pMain;
    QWidget* m_pShowing = nullptr;  // the window whose show event is being handled
};

}  // namespace

QRect FitInside(const QRect& rect, const QRect& area, bool resizable) {
    QRect fitted = rect;
    if (resizable) {
        fitted.setWidth(std::min(rect.width(), area.width()));
        fitted.setHeight(std::min(rect.height(), area.height()));
    }
    // Right and bottom edges first, then left and top, so that a window larger than the area
    // shows its top-left corner (its title and first controls).
    if (fitted.right() > area.right()) fitted.moveRight(area.right());
    if (fitted.bottom() > area.bottom()) fitted.moveBottom(area.bottom());
    if (fitted.left() < area.left()) fitted.moveLeft(area.left());
    if (fitted.top() < area.top()) fitted.moveTop(area.top());
    return fitted;
}

QScreen* ScreenOf(const QWidget* window) {
    if (window) {
        if (QScreen* screen = QGuiApplication::screenAt(window->geometry().center())) return screen;
        if (window->screen()) return window->screen();
    }
    return QGuiApplication::primaryScreen();
}

QMargins FrameMarginsOf(const QWidget* window) {
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    if (frame != client) {
        return {client.left() - frame.left(), client.top() - frame.top(),
                frame.right() - client.right(), frame.bottom() - client.bottom()};
    }
    const int border = window->style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
    const int title = window->style()->pixelMetric(QStyle::PM_TitleBarHeight);
    return {border, title + border, border, border};
}

void KeepOnScreen(QWidget* window, const QWidget* anchor) {
    QScreen* screen = ScreenOf(anchor ? anchor : window);
    if (!screen) return;
    const bool resizable = window->minimumSize() != window->maximumSize();
    const QMargins margins = FrameMarginsOf(window);
    const QRect frame = window->geometry().marginsAdded(margins);
    const QRect fitted = FitInside(frame, screen->availableGeometry(), resizable);
    if (fitted == frame) return;
    const QSize client = fitted.marginsRemoved(margins).size();
    if (client != window->size()) window->resize(client);
    // A top-level window's position is that of its frame.
    window->move(fitted.topLeft());
}

void KeepWindowsOnScreen(QWidget* mainWindow) {
    qApp->installEventFilter(new CScreenFitFilter(mainWindow));
}
