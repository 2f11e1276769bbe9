// Shared by the window tests: a temporary working directory and profile, WAV input files written
// directly, and a check that a song file was finished (RIFF and data sizes agree with its length).
#pragma once

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <cmath>
#include <cstring>
#include <functional>
#include <initializer_list>

constexpr int kRate = 44100;
constexpr int kBytesPerSecond = kRate * 4;  // 16-bit stereo

inline QString g_workDir;
inline QString Path(const QString& name) { return QDir(g_workDir).filePath(name); }

// A 16-bit stereo WAV of tone and silence segments: positive seconds of a 440 Hz tone at
// -12 dBFS, negative seconds of digital silence.
inline void WriteWav(const QString& path, std::initializer_list<double> segments) {
    QByteArray pcm;
    QDataStream samples(&pcm, QIODevice::WriteOnly);
    samples.setByteOrder(QDataStream::LittleEndian);
    for (double seconds : segments)
        for (int i = 0; i < int(std::fabs(seconds) * kRate); ++i) {
            const qint16 v = seconds > 0 ? qint16(8000 * std::sin(2 * M_PI * 440 * i / kRate)) : 0;
            samples << v << v;
        }
    QFile file(path);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QDataStream out(&file);
    out.setByteOrder(QDataStream::LittleEndian);
    out.writeRawData("RIFF", 4);
    out << quint32(36 + pcm.size());
    out.writeRawData("WAVEfmt ", 8);
    out << quint32(16) << quint16(1) << quint16(2) << quint32(kRate) << quint32(kBytesPerSecond)
        << quint16(4) << quint16(16);
    out.writeRawData("data", 4);
    out << quint32(pcm.size());
    out.writeRawData(pcm.constData(), int(pcm.size()));
}

// Data bytes of a finished WAV file, or -1 when its sizes do not agree with the file's length.
inline qint64 FinishedDataBytes(const QString& path) {
    QFile file(path);
    const QByteArray all = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    auto u32 = [&all](qsizetype at) {
        uint32_t v;
        std::memcpy(&v, all.constData() + at, 4);
        return qint64(v);
    };
    if (all.size() < 44 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE" ||
        u32(4) + 8 != all.size())
        return -1;
    for (qsizetype at = 12; at + 8 <= all.size(); at += 8 + u32(at + 4) + (u32(at + 4) & 1))
        if (all.mid(at, 4) == "data") return at + 8 + u32(at + 4) == all.size() ? u32(at + 4) : -1;
    return -1;
}

// Runs the handler on the next modal window other than `except` as soon as it shows.
inline void OnNextModal(QWidget* except, std::function<void(QWidget*)> handler) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, except, handler] {
        QWidget* modal = QApplication::activeModalWidget();
        if (!modal || modal == except) return;
        timer->stop();
        timer->deleteLater();
        handler(modal);
    });
    timer->start();
}

// Runs a Qt Test object in a temporary working directory (song files) with a temporary
// XDG_CONFIG_HOME (the QSettings profile) and XDG_DATA_HOME (the presets, under
// data/Zelk/Vellistro).
template <typename Test>
int RunInTemporaryDir(int argc, char** argv) {
    QTemporaryDir work;
    g_workDir = work.path();
    qputenv("XDG_CONFIG_HOME", Path("cfg").toLocal8Bit());
    qputenv("XDG_DATA_HOME", Path("data").toLocal8Bit());
    QDir::setCurrent(g_workDir);
    QApplication app(argc, argv);
    Test test;
    return QTest::qExec(&test, argc, argv);
}
