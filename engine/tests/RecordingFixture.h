// A whole recording through the control: input, backend, window, and the split points the
// analyser finds in an input made of loud and near-silent stretches.
#pragma once

#include <cmath>
#include <memory>

#include "audio/capture/FileCaptureBackend.h"
#include "audio/capture/TestCaptureBackend.h"
#include "engine/tests/RecordingTestSupport.h"

namespace rectest {

constexpr long kBlock = 65536;
constexpr long kFrames16 = 16384;  // stereo 16-bit frames per block

// Thresholds in seconds, set through the trackbar scales.
struct Detection {
    double fGapSize = 0.1, fMinSong = 1.0, fEndGap = 1.0;
};

// DC Block and Smart Gap off: the song files then hold the captured bytes unchanged.
inline void ConfigureAnalyzer(CSignalAnalyzer& a, const Format& format, const Detection& d) {
    a.SetSamplesPerSec(uint32_t(format.nRate));
    a.SetBitsPerSample(uint16_t(format.nBits));
    a.SetChannels(uint16_t(format.nChannels));
    a.SetDCBlock(0);
    a.SetIgnoreClicks(0);
    a.SetGapSizePosition(-int(std::ceil(d.fGapSize * 1764.0)));
    a.SetMinSongSizePosition(-int(std::ceil(d.fMinSong * 176.4)));
    a.SetEndSizePosition(-int(std::ceil(d.fEndGap * 176.4)));
    a.PrepareRecording();
}

struct Prediction {
    std::vector<long> cuts;  // byte offsets of the splits in the input
    long nEndBlock = -1;     // the block in which End Gap was reached, or -1
    int nRunOutPieces = 0;   // the analyser's trailing run-out at the end
};

// Where the analyser, fed the input in whole blocks as the recording thread feeds it, splits and
// ends. (Its gap rule is checked to the bit against a plain rendering in its own tests; this
// predicts where the song files must be cut.)
inline Prediction Predict(std::vector<char> input, CSignalAnalyzer a) {
    a.PrepareRecording();
    Prediction p;
    for (long at = 0; at < long(input.size()) && p.nEndBlock < 0; at += kBlock) {
        const BlockVerdict v =
            a.ProcessBlock(&input[at], std::min(kBlock, long(input.size()) - at));
        if (v.gapFound) p.cuts.push_back(at + v.splitOffset);
        if (v.endGapReached) p.nEndBlock = at / kBlock;
    }
    p.nRunOutPieces = a.TrailingRunOutPieces();
    return p;
}

struct Recording {
    Recording() = default;
    explicit Recording(std::vector<Segment> songs, Format songFormat = {})
        : format(songFormat), plan(std::move(songs)) {}

    CTempDir dir;
    Format format;
    std::vector<Segment> plan;
    std::vector<char> input;  // MakeSamples(format, plan) unless set before Use...
    CTestFront win;
    CTestCaptureBackend* pTest = nullptr;
    std::unique_ptr<CRecordingControl> ctl;

    // The input as a WAV file played by the file backend.
    void UseFile(const Detection& d, FilePacing pacing = FilePacing::AsFastAsRead) {
        if (input.empty()) input = MakeSamples(format, plan);
        WriteWav(dir / "in.wav", format, input);
        Init(d, MakeFileCaptureBackend((dir / "in.wav").string(), pacing));
    }

    // The input through the scripted backend; Manual delivery gets a short wait slice.
    void UseTest(const Detection& d, CTestCaptureBackend::Delivery delivery) {
        if (input.empty()) input = MakeSamples(format, plan);
        auto backend = std::make_unique<CTestCaptureBackend>(delivery);
        pTest = backend.get();
        pTest->SetSource(std::vector<uint8_t>(input.begin(), input.end()));
        Init(d, std::move(backend));
        if (delivery == CTestCaptureBackend::Delivery::Manual) ctl->m_nWaitSliceMs = 20;
    }

    void Init(const Detection& d, std::unique_ptr<ICaptureBackend> backend) {
        ctl = std::make_unique<CRecordingControl>(&win, std::move(backend));
        win.pControl = ctl.get();
        win.request.strPath = (dir / "SideA.wav").string();
        ctl->GetWriter().SetFileName(win.request.strPath.c_str());
        ctl->m_settings.nSamplesPerSec = uint32_t(format.nRate);
        ctl->m_settings.wBitsPerSample = uint16_t(format.nBits);
        ctl->m_settings.wChannels = uint16_t(format.nChannels);
        ConfigureAnalyzer(ctl->GetAnalyzer(), format, d);
    }

    // Starts the recording (a refusal is a failure); Run then handles every message up to the
    // done one.
    bool Start() {
        if (win.Record()) return true;
        ADD_FAILURE() << "refused: " << recording_texts::RefusalText(win.start);
        return false;
    }
    bool Run() { return Start() && win.PumpUntilDone(); }

    Prediction Predicted() const { return Predict(input, ctl->GetAnalyzer()); }
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
        return std::vector<char>(input.begin() + from,
                                 input.begin() + std::min<long>(to, long(input.size())));
    }
    // The joined song files are a prefix of the input.
    bool JoinedIsPrefix() const {
        const auto joined = Joined();
        return joined == Slice(0, long(joined.size()));
    }
};

}  // namespace rectest
