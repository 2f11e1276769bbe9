#include "ui/SleepInhibitor.h"

#include <QDBusMessage>
#include <QDBusPendingCallWatcher>
#include <QDBusPendingReply>

namespace {
const QString kService = QStringLiteral("org.freedesktop.login1");
const QString kPath = QStringLiteral("/org/freedesktop/login1");
const QString kInterface = QStringLiteral("org.freedesktop.login1.Manager");
}  // namespace

CSleepInhibitor::CSleepInhibitor(QObject* parent) : QObject(parent) {}

CSleepInhibitor::CSleepInhibitor(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {}

CSleepInhibitor::~CSleepInhibitor() { Release(); }

void CSleepInhibitor::Acquire() {
    m_bWanted = true;
    if (m_fd.isValid() || m_pPending) return;
    if (!m_bus) m_bus = QDBusConnection::systemBus();
    if (!m_bus->isConnected()) {
        emit Answered(false);
        return;
    }
    QDBusMessage call =
        QDBusMessage::createMethodCall(kService, kPath, kInterface, QStringLiteral("Inhibit"));
    call << QStringLiteral("sleep:idle") << QStringLiteral("Vellisto")
         << QStringLiteral("Recording a side") << QStringLiteral("block");
    m_pPending = new QDBusPendingCallWatcher(m_bus->asyncCall(call), this);
    connect(m_pPending, &QDBusPendingCallWatcher::finished, this, &CSleepInhibitor::OnReply);
}

void CSleepInhibitor::Release() {
    m_bWanted = false;
    m_fd = QDBusUnixFileDescriptor();
}

void CSleepInhibitor::OnReply(QDBusPendingCallWatcher* watcher) {
    watcher->deleteLater();
    if (watcher == m_pPending) m_pPending = nullptr;
    const QDBusPendingReply<QDBusUnixFileDescriptor> reply = *watcher;
    // A recording that ended before logind answered must not leave the lock behind: the
    // descriptor is closed with the reply. One that ended and started again while the call was
    // on its way is served by this answer.
    if (reply.isValid() && m_bWanted) m_fd = reply.value();
    emit Answered(m_fd.isValid());
}
