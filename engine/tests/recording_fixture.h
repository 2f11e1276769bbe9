// A whole recording through the control: input, backend, window, and the split points the gap
// rule predicts for an input made of loud and near-silent stretches.
#pragma once

#include <algorithm>
#include <memory>

#include "FileCaptureBackend.h"
#include "TestCaptureBackend.h"
#include "recording_support.h"

namespace rectest {

constexpr long kBlock = 65536;

struct Prediction {
    std::vector<long> cuts;  // byte offsets of the splits in the input
    long nEndByte = -1;      // byte offset of the sample where End Gap was reached, or -1
};

// The gap rule on the input as one stream: a split where Gap Size of silence has passed and at
// least Minimum Song Size since the previous split; the end once End Gap of silence has passed.
// Loud frames are loud in both channels; the thresholds come from the analyser.
inline Prediction Predict(const Format& format, const std::vector<Segment>& plan,
                          const CSignalAnalyzer& a) {
    const long gap = a.m_nGapSamples;
    const long minSong = a.m_nMinSongSamples;
    const long endGap = a.m_nEndGapSamples;
    const long sampleBytes = format.nBits / 8;
    Prediction p;
    long lastLoud = 0;
    long lastSplit = 0;
    long frame = 0;
    for (const Segment& s : plan) {
        const long s0 = 2 * frame;
        frame += s.nFrames;
        const long s1 = 2 * frame;
        if (s.bLoud) {
            lastLoud = s1 - 1;
            continue;
        }
        for (;;) {
            const long split = std::max({lastLoud + gap, lastSplit + minSong, s0});
            const long end = std::max(lastLoud + endGap, s0);
            if (end < s1 && end <= split) {
                p.nEndByte = end * sampleBytes;
                return p;
            }
            if (split >= s1) break;
            p.cuts.push_back(split / 2 * 2 * sampleBytes);
            lastSplit = split;
        }
    }
    return p;
}

struct Recording {
    CTempDir dir;
    Format format;
    std::vector<Segment> plan;
    std::vector<char> input;
    CTestWindow win;
    CTestCaptureBackend* pTest = nullptr;
    std::unique_ptr<CRecordingControl> ctl;

    // The input as a WAV file played by the file backend.
    void UseFile(const Detection& d, FilePacing pacing = FilePacing::AsFastAsRead) {
        if (input.empty()) input = MakeSamples(format, plan);
        WriteWav(dir / "in.wav", format, input);
        ctl = std::make_unique<CRecordingControl>(
            &win, MakeFileCaptureBackend((dir / "in.wav").string(), pacing));
        Init(d);
    }

    // The input through the scripted backend.
    void UseTest(const Detection& d, CTestCaptureBackend::Delivery delivery) {
        if (input.empty()) input = MakeSamples(format, plan);
        auto backend = std::make_unique<CTestCaptureBackend>(delivery);
        pTest = backend.get();
        pTest->SetSource(std::vector<uint8_t>(input.begin(), input.end()));
        ctl = std::make_unique<CRecordingControl>(&win, std::move(backend));
        Init(d);
    }

    void Init(const Detection& d) {
        win.pControl = ctl.get();
        win.strBasePath = (dir / "SideA.wav").string();
        ctl->GetWriter().SetFileName(win.strBasePath.c_str());
        Configure(*ctl, format, d);
    }

    bool Run() {
        ctl->OnRecord();
        if (!ctl->IsRecording()) {
            for (const Box& b : win.boxes) ADD_FAILURE() << b.title << ": " << b.text;
            return false;
        }
        return win.PumpUntilDone();
    }

    std::vector<fs::path> Files() const { return SongFiles(dir, "SideA", ".wav"); }

    std::vector<std::vector<char>> Songs() const {
        std::vector<std::vector<char>> songs;
        for (const fs::path& p : Files()) songs.push_back(ReadSongData(p, format));
        return songs;
    }

    std::vector<char> Joined() const {
        std::vector<char> all;
        for (const auto& s : Songs()) all.insert(all.end(), s.begin(), s.end());
        return all;
    }

    std::vector<char> Slice(long from, long to) const {
        to = std::min<long>(to, static_cast<long>(input.size()));
        return std::vector<char>(input.begin() + from, input.begin() + to);
    }
};

// The frame number a frame made by AppendFrame carries (16-bit or float).
inline long DecodeFrame(const Format& format, const char* frame) {
    int left = 0;
    int right = 0;
    if (format.nBits == 16) {
        int16_t l;
        int16_t r;
        std::memcpy(&l, frame, 2);
        std::memcpy(&r, frame + 2, 2);
        left = l;
        right = r;
    } else {
        float l;
        float r;
        std::memcpy(&l, frame, 4);
        std::memcpy(&r, frame + 4, 4);
        left = static_cast<int>(std::lround(l * 32768.0f));
        right = static_cast<int>(std::lround(r * 32768.0f));
    }
    if (left >= 1000) return (left - 1000) + 30000L * (-right - 1000);
    return (left + 500) + 1000L * (right + 500);
}

}  // namespace rectest
