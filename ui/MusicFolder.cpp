#include "ui/MusicFolder.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

QString MusicFolder() {
    // Qt falls back to ~/Music when the desktop names no Music folder; it need not exist.
    const QString music = QStandardPaths::writableLocation(QStandardPaths::MusicLocation);
    if (!music.isEmpty() && QFileInfo(music).isDir()) return music;
    return QDir::homePath();
}
