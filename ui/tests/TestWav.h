// WAV files for the window tests: input signals written directly, and a check that a song
// file was finished (its RIFF and data sizes agree with its length).
#pragma once

#include <QByteArray>
#include <QFile>
#include <QString>
#include <cmath>
#include <cstring>
#include <fstream>
#include <initializer_list>
#include <vector>

constexpr int kRate = 44100;
constexpr int kBytesPerSecond = kRate * 4;  // 16-bit stereo

// A 16-bit stereo WAV of tone and silence segments: positive seconds of a 440 Hz tone at
// -12 dBFS, negative seconds of digital silence.
inline void WriteWav(const QString& path, std::initializer_list<double> segments) {
    std::vector<int16_t> samples;
    for (double seconds : segments) {
        const int frames = static_cast<int>(std::fabs(seconds) * kRate);
        for (int i = 0; i < frames; ++i) {
            const int16_t v =
                seconds > 0 ? int16_t(8000 * std::sin(2 * M_PI * 440 * i / kRate)) : 0;
            samples.push_back(v);
            samples.push_back(v);
        }
    }
    const uint32_t dataBytes = uint32_t(samples.size() * 2);
    std::ofstream out(path.toStdString(), std::ios::binary);
    auto u32 = [&out](uint32_t v) { out.write(reinterpret_cast<const char*>(&v), 4); };
    auto u16 = [&out](uint16_t v) { out.write(reinterpret_cast<const char*>(&v), 2); };
    out.write("RIFF", 4);
    u32(36 + dataBytes);
    out.write("WAVEfmt ", 8);
    u32(16);
    u16(1);
    u16(2);
    u32(kRate);
    u32(kBytesPerSecond);
    u16(4);
    u16(16);
    out.write("data", 4);
    u32(dataBytes);
    out.write(reinterpret_cast<const char*>(samples.data()), dataBytes);
}

// Data bytes of a finished WAV file, or -1 when its sizes do not agree with the file's length.
inline qint64 FinishedDataBytes(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return -1;
    const QByteArray all = file.readAll();
    if (all.size() < 44 || !all.startsWith("RIFF") || all.mid(8, 4) != "WAVE") return -1;
    auto u32 = [&all](qsizetype at) {
        uint32_t v;
        std::memcpy(&v, all.constData() + at, 4);
        return qint64(v);
    };
    if (u32(4) + 8 != all.size()) return -1;
    qsizetype at = 12;
    while (at + 8 <= all.size()) {
        const qint64 size = u32(at + 4);
        if (all.mid(at, 4) == "data") return at + 8 + size == all.size() ? size : -1;
        at += 8 + size + (size & 1);
    }
    return -1;
}
