#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

#include "VellistoVersion.h"
#include "engine/RecordingTexts.h"

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent) {}

CDesktopNotifier::CDesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {}

void CDesktopNotifier::NotifySideDone(const SideSummary& side) {
    if (!m_bus) m_bus = QDBusConnection::sessionBus();
    if (!m_bus->isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const bool trouble = side.bFailed || side.bAudioLost;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral(VELLISTO_APP_ID));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(trouble ? 2 : 1)));
    call << QStringLiteral("Vellisto") << uint(0) << QStringLiteral(VELLISTO_APP_ID)
         << QString::fromStdString(recording_texts::SideTitle(side))
         << QString::fromStdString(recording_texts::SideNotificationBody(side)) << QStringList()
         << hints << int(-1);
    // Nobody waits for the answer: a missing service is an error reply that is dropped.
    m_bus->asyncCall(call);
}
