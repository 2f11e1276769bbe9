// About, built from dialog template 100: the program's icon and picture, the version of this
// build, what the program does and its licence, black on grey. Opened from the help window,
// modal to it, and from the main window's context menu; it changes nothing. User-interface
// thread.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // "Vellisto Version " and the version the build carries.
    static QString VersionLine();
};

// Runs About modally over parent (may be null).
void ShowAbout(QWidget* parent);

// Gives window a context menu whose entry "About Zelk Vellisto" runs About over it, so About is
// a right click away from any spot of the window without a button of its own.
void AddAboutToContextMenu(QWidget* window);
