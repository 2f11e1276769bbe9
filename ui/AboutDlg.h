// About, built from dialog template 100: the program's icon and picture, the version of this
// build, what the program does and its licence, black on grey. Opened from the help window,
// modal to it; it changes nothing. User-interface thread.
#pragma once

#include <QDialog>

class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAboutDlg(QWidget* parent = nullptr);

    // "Vellisto Version " and the version the build carries.
    static QString VersionLine();
};
