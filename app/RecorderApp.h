// The application object: names the profile ("Zelk", "Vellistro"), runs the main window as the
// program's one modal window and ends the process when it closes. Termination requests from
// the system take the window's exit path. User-interface thread.
#pragma once

#include <QApplication>

class CRecorderApp : public QApplication {
public:
    CRecorderApp(int& argc, char** argv);

    // Runs the main window until it closes; returns the process exit code.
    int InitInstance();
};
