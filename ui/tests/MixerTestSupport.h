// Shared by the mixer-button tests: a catcher that answers every message box as it shows and
// logs it, a volume-control program that records its launches, and stand-in programs on PATH
// that write their arguments to a file.
#pragma once

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <QTimer>
#include <QtTest>
#include <vector>

#include "audio/mixer/VolumeControl.h"

// Logs each message box as "title|icon|text" and presses its OK button.
class BoxCatcher {
public:
    BoxCatcher() {
        QObject::connect(&m_timer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            boxes.append(box->windowTitle() + '|' + QString::number(int(box->icon())) + '|' +
                         box->text());
            box->accept();
        });
        m_timer.start(5);
    }
    static QString Box(const char* title, QMessageBox::Icon icon, const QString& text) {
        return QString::fromLatin1(title) + '|' + QString::number(int(icon)) + '|' + text;
    }
    QStringList boxes;

private:
    QTimer m_timer;
};

struct Launch {
    MixerView view;
    uint32_t nDeviceID;
    bool operator==(const Launch&) const = default;
};

class LaunchLog : public IVolumeControl {
public:
    bool Open(MixerView view, uint32_t deviceId, const std::string&) override {
        launches.push_back({view, deviceId});
        if (pCatcher) boxesBefore.push_back(pCatcher->boxes.size());
        return bStarts;
    }
    VolumeControlKind Kind() const override { return kind; }
    std::vector<Launch> launches;
    bool bStarts = true;
    VolumeControlKind kind = VolumeControlKind::Graphical;
    // With a catcher: how many boxes had been answered at each launch.
    const BoxCatcher* pCatcher = nullptr;
    std::vector<qsizetype> boxesBefore;
};

// An executable at dir/name that writes its arguments, one a line, to dir/name.log (whole,
// once it has them all).
inline void WriteStubProgram(const QString& dir, const QString& name) {
    const QString path = dir + '/' + name;
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(
        "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.log.tmp\" && /bin/mv \"$0.log.tmp\" \"$0.log\"\n");
    file.close();
    QVERIFY(file.setPermissions(QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
}

// The arguments a stub program was started with, waiting for the detached process to write
// them; empty when it never ran.
inline QStringList StubArguments(const QString& dir, const QString& name) {
    QFile log(dir + '/' + name + ".log");
    QDeadlineTimer deadline(20000);
    while (!log.exists() && !deadline.hasExpired()) QTest::qWait(10);
    if (!log.open(QIODevice::ReadOnly)) return {};
    return QString::fromLocal8Bit(log.readAll()).split('\n', Qt::SkipEmptyParts);
}
