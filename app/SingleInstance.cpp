#include "app/SingleInstance.h"

#include <unistd.h>

#include <QDeadlineTimer>
#include <QDir>
#include <QLocalServer>
#include <QLocalSocket>
#include <QThread>

namespace {
const QByteArray kShow = "show\n";
const QByteArray kShown = "shown\n";

QString BaseName(const QString& folder) {
    return QDir(folder).filePath(QStringLiteral("vellisto-%1").arg(::getuid()));
}
}  // namespace

CSingleInstance::CSingleInstance(const QString& folder, QObject* parent)
    : QObject(parent),
      m_szSocketPath(BaseName(folder) + QStringLiteral(".socket")),
      m_lock(BaseName(folder) + QStringLiteral(".lock")) {
    // A lock is stale when its owner is gone, never because the recorder has run for long.
    m_lock.setStaleLockTime(0);
}

CSingleInstance::~CSingleInstance() {
    if (m_pServer) m_pServer->close();
}

QString CSingleInstance::DefaultFolder() {
    const QString runtime = qEnvironmentVariable("XDG_RUNTIME_DIR");
    if (!runtime.isEmpty() && QDir(runtime).exists()) return runtime;
    return QDir::tempPath();
}

bool CSingleInstance::Claim() {
    if (m_pServer) return true;
    if (!m_lock.tryLock(0)) {
        // Without a usable folder there is nobody to ask either: run alone rather than not at all.
        return m_lock.error() != QLockFile::LockFailedError;
    }
    // The lock is ours, so a socket file there is a crashed run's.
    QLocalServer::removeServer(m_szSocketPath);
    m_pServer = new QLocalServer(this);
    m_pServer->setSocketOptions(QLocalServer::UserAccessOption);
    connect(m_pServer, &QLocalServer::newConnection, this, &CSingleInstance::OnNewConnection);
    // Not listening only means later starts cannot reach this window; they say so.
    m_pServer->listen(m_szSocketPath);
    return true;
}

void CSingleInstance::OnNewConnection() {
    while (QLocalSocket* socket = m_pServer->nextPendingConnection()) {
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] {
            if (!socket->canReadLine()) return;
            if (socket->readLine() != kShow) {
                socket->disconnectFromServer();
                return;
            }
            emit ShowRequested();
            socket->write(kShown);
            socket->flush();
        });
    }
}

bool CSingleInstance::AskFirstToShow(int timeoutMs) {
    const QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        QLocalSocket socket;
        socket.connectToServer(m_szSocketPath);
        if (socket.waitForConnected(int(qMax<qint64>(1, deadline.remainingTime())))) {
            socket.write(kShow);
            while (socket.bytesAvailable() < kShown.size() &&
                   socket.waitForReadyRead(int(qMax<qint64>(1, deadline.remainingTime())))) {
            }
            return socket.readLine() == kShown;
        }
        // The first start may hold the lock but not listen yet.
        QThread::msleep(50);
    }
    return false;
}
