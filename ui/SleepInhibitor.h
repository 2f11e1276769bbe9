// Keeps the computer awake while a side is being recorded: holds logind's "sleep:idle" block
// inhibitor, taken with Inhibit over D-Bus, for as long as the descriptor logind returned stays
// open. The call is asynchronous, so the window never waits on the bus; a bus or a logind that
// is missing, slow or refusing only means that nothing is held. The main window owns one.
// User-interface thread.
#pragma once

#include <QDBusConnection>
#include <QDBusUnixFileDescriptor>
#include <QObject>
#include <optional>

class QDBusPendingCallWatcher;

class CSleepInhibitor : public QObject {
    Q_OBJECT

public:
    // Without a connection, the system bus is connected at the first Acquire (the address comes
    // from DBUS_SYSTEM_BUS_ADDRESS when it is set).
    explicit CSleepInhibitor(QObject* parent = nullptr);
    CSleepInhibitor(const QDBusConnection& bus, QObject* parent = nullptr);
    ~CSleepInhibitor() override;

    // Asks for the inhibitor; it is held once logind answers, unless Release came first.
    void Acquire();
    // Closes the descriptor (or drops the answer still on its way).
    void Release();
    // True while a descriptor from logind is open.
    bool IsHeld() const { return m_fd.isValid(); }

signals:
    // Acquire's answer arrived: held or not.
    void Answered(bool held);

private:
    void OnReply(QDBusPendingCallWatcher* watcher);

    std::optional<QDBusConnection> m_bus;
    QDBusUnixFileDescriptor m_fd;
    QDBusPendingCallWatcher* m_pPending = nullptr;  // the Inhibit call on its way
    bool m_bWanted = false;
};
