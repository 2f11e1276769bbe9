// One recorder per user. The first start holds a lock file and listens on a local socket beside
// it; a later start finds the lock held, asks the first through the socket to show its window,
// and ends. Both live in XDG_RUNTIME_DIR (the temporary folder when it is unset), named with the
// user id. A lock and a socket left behind by a run that crashed are taken over: the lock names
// its owner's process, and a dead owner does not count. The command-line splitter takes no part.
// User-interface thread.
#pragma once

#include <QLockFile>
#include <QObject>
#include <QString>
#include <memory>

class QLocalServer;

class CSingleInstance : public QObject {
    Q_OBJECT

public:
    explicit CSingleInstance(const QString& folder = DefaultFolder(), QObject* parent = nullptr);
    ~CSingleInstance() override;

    // True when this process is the first: it holds the lock and answers later starts.
    bool Claim();
    // For a later start: asks the first to show its window and waits for its answer (the first
    // may still be starting up). True when it answered within timeoutMs.
    bool AskFirstToShow(int timeoutMs = 5000);

    QString GetSocketPath() const { return m_szSocketPath; }
    static QString DefaultFolder();

signals:
    // A later start asked for the window.
    void ShowRequested();

private:
    void OnNewConnection();

    QString m_szSocketPath;
    QLockFile m_lock;
    QLocalServer* m_pServer = nullptr;
};
