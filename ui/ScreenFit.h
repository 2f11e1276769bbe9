// Keeps the program's windows wholly on the screen that holds the main window. Once installed,
// every window and dialog that is about to show (the main window at a position kept from a
// larger screen or a smaller scale factor, the help window, Custom Settings, About, message
// boxes) is moved into the available area of that screen, and shrunk to it when it may be
// resized and is too big. Popups and tooltips are left to Qt. User-interface thread.
#pragma once

#include <QMargins>
#include <QRect>

class QScreen;
class QWidget;

// rect (a window's frame) moved to lie inside area; when it is wider or taller than area it is
// cut to area's size if resizable, otherwise it keeps its size and its top-left corner shows.
QRect FitInside(const QRect& rect, const QRect& area, bool resizable);

// The screen that holds the centre of window (shown or placed), else the primary screen.
QScreen* ScreenOf(const QWidget* window);

// The window frame's width on each side: measured on a window that has one, else an estimate
// (a title bar and a border), since a window about to be shown for the first time has none yet.
QMargins FrameMarginsOf(const QWidget* window);

// Moves (and, if it can be resized, shrinks) a top-level window so that its frame lies inside
// the available area of the screen that holds anchor; anchor null: the window's own screen.
void KeepOnScreen(QWidget* window, const QWidget* anchor);

// From now until mainWindow is destroyed, every window about to show is kept on the screen of
// the window it belongs to: its parent's, or mainWindow's for one without a parent.
void KeepWindowsOnScreen(QWidget* mainWindow);
