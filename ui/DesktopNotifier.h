// Tells a user who is away from the window that a side has ended: one desktop notification
// through the freedesktop notification service on the session bus. The call is asynchronous
// and nothing fails when the bus or the service is missing. The main window owns one and sends
// it only when the recording ends while the window is not the active one.
// User-interface thread.
#pragma once

#include <QDBusConnection>
#include <QObject>
#include <QString>
#include <optional>

#include "engine/SideSummary.h"

class CDesktopNotifier : public QObject {
    Q_OBJECT

public:
    // Without a connection, the session bus is connected at the first notification.
    explicit CDesktopNotifier(QObject* parent = nullptr);
    CDesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    void NotifySideDone(const SideSummary& side);

private:
    std::optional<QDBusConnection> m_bus;
};
