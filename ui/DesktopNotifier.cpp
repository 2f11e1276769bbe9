#include "ui/DesktopNotifier.h"

#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QVariantMap>

#include "VellistoVersion.h"

CDesktopNotifier::CDesktopNotifier(QObject* parent) : QObject(parent) {}

CDesktopNotifier::CDesktopNotifier(const QDBusConnection& bus, QObject* parent)
    : QObject(parent), m_bus(bus) {}

SideNotice SideNoticeFor(const RecordingReport& report) {
    SideNotice notice;
    for (const SongFileRecord& file : report.files) notice.nFilesWritten += file.bRemoved ? 0 : 1;
    notice.bAudioLost = report.nLostFrames > 0 || report.nOverflows > 0;
    notice.bFailed = report.end != RecordingEnd::Stop && report.end != RecordingEnd::EndGap;
    return notice;
}

QString CDesktopNotifier::Summary(const SideNotice& notice) {
    if (notice.bFailed) return QStringLiteral("Recording stopped");
    if (notice.bAudioLost) return QStringLiteral("Side done, audio lost");
    return QStringLiteral("Side done");
}

QString CDesktopNotifier::Body(const SideNotice& notice) {
    const QString files = notice.nFilesWritten == 1
                              ? QStringLiteral("1 song file written")
                              : QStringLiteral("%1 song files written").arg(notice.nFilesWritten);
    if (notice.bFailed)
        return QStringLiteral(
                   "The recording stopped before the end of the side: %1. "
                   "Vellisto's window says why.")
            .arg(files);
    if (notice.bAudioLost)
        return QStringLiteral(
                   "The side is done, but audio was lost: %1. "
                   "Vellisto's window names the files it is missing from.")
            .arg(files);
    return QStringLiteral("The side is done: %1.").arg(files);
}

void CDesktopNotifier::NotifySideDone(const SideNotice& notice) {
    if (!m_bus) m_bus = QDBusConnection::sessionBus();
    if (!m_bus->isConnected()) return;
    QDBusMessage call = QDBusMessage::createMethodCall(
        QStringLiteral("org.freedesktop.Notifications"),
        QStringLiteral("/org/freedesktop/Notifications"),
        QStringLiteral("org.freedesktop.Notifications"), QStringLiteral("Notify"));
    const bool trouble = notice.bFailed || notice.bAudioLost;
    QVariantMap hints;
    hints.insert(QStringLiteral("desktop-entry"), QStringLiteral(VELLISTO_APP_ID));
    hints.insert(QStringLiteral("urgency"), QVariant::fromValue(uchar(trouble ? 2 : 1)));
    call << QStringLiteral("Vellisto") << uint(0) << QStringLiteral(VELLISTO_APP_ID)
         << Summary(notice) << Body(notice) << QStringList() << hints << int(-1);
    // Nobody waits for the answer: a missing service is an error reply that is dropped.
    m_bus->asyncCall(call);
}
