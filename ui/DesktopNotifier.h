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

#include "engine/RecordingOutcome.h"

// How a side ended, as far as a user away from the window needs to know.
struct SideNotice {
    int nFilesWritten = 0;
    bool bAudioLost = false;  // the capture side lost audio: frames or overruns
    bool bFailed = false;     // ended by the device, the disk or a file, not by Stop or End Gap
};

// A finished recording's notice: the song files it kept, lost frames or overruns count as lost
// audio, any end but Stop and End Gap as a failure.
SideNotice SideNoticeFor(const RecordingReport& report);

class CDesktopNotifier : public QObject {
    Q_OBJECT

public:
    // Without a connection, the session bus is connected at the first notification.
    explicit CDesktopNotifier(QObject* parent = nullptr);
    CDesktopNotifier(const QDBusConnection& bus, QObject* parent = nullptr);

    void NotifySideDone(const SideNotice& notice);

    // The notification's title and text.
    static QString Summary(const SideNotice& notice);
    static QString Body(const SideNotice& notice);

private:
    std::optional<QDBusConnection> m_bus;
};
