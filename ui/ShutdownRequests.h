// Turns the system's requests to end the program (SIGTERM, SIGHUP, SIGINT, and the desktop
// session ending) into one Qt signal on the user-interface thread, so that they can take the
// window's close path: the song file is finished and the settings are kept. The signal handler
// only writes a byte into a pipe; a socket notifier reads it on the UI thread.
// One instance per process; user-interface thread.
#pragma once

#include <QObject>

class QSocketNotifier;

class CShutdownRequests : public QObject {
    Q_OBJECT

public:
    explicit CShutdownRequests(QObject* parent = nullptr);
    ~CShutdownRequests() override;

    // False when the pipe or the handlers could not be set up (the program still runs).
    bool IsInstalled() const { return m_pNotifier != nullptr; }
    // The signal number of the last request, or 0 for the desktop session.
    int GetLastSignal() const { return m_nLastSignal; }

signals:
    void ShutdownRequested();

private:
    void OnPipeReadable();

    QSocketNotifier* m_pNotifier = nullptr;
    int m_nLastSignal = 0;
};
