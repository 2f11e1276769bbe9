// Test helpers for whole recordings: a scripted window whose posted messages queue up for the
// test's own "UI" thread, synthetic inputs whose frames encode their own number, and an
// independent WAV reader.
#pragma once

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "RecordingControl.h"

namespace rectest {

namespace fs = std::filesystem;

struct Box {
    std::string text;
    std::string title;
    MsgIcon icon;
    MsgButtons buttons;
};

// IRecorderWindow with scripted answers. The posted messages go into a fixed ring (posting
// must not allocate on the recording thread) that Pump() drains on the calling thread.
class CTestWindow : public IRecorderWindow {
public:
    CRecordingControl* pControl = nullptr;

    // Scripted state and answers.
    bool bHasSelection = true;
    std::string strBaseText = "SideA.wav";
    std::string strBasePath;
    bool bMinimized = false;
    std::deque<MsgAnswer> answers;  // for Yes/No boxes; Yes when empty

    // What the control did, in order.
    std::vector<Box> boxes;
    std::vector<std::string> log;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::vector<bool> pictures;
    std::vector<int> waits;
    std::string caption;
    int nFocus = 0;
    int nNewCalls = 0;
    // Handled progress messages (byteCount, newFile) and done messages.
    std::vector<std::pair<long, long>> progress;
    int nDone = 0;
    // Called on the pumping thread after each handled progress message (its index).
    std::function<void(size_t)> onProgress;
    // Called on the pumping thread before the done message is handled.
    std::function<void()> onDone;
    std::atomic<int> nOverflow{0};

    MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override {
        boxes.push_back({text, title, icon, buttons});
        log.push_back("box:" + title);
        if (buttons == MsgButtons::Ok) return MsgAnswer::Ok;
        if (answers.empty()) return MsgAnswer::Yes;
        const MsgAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    void SetItemText(int id, const std::string& text) override { texts[id] = text; }
    void EnableItem(int id, bool enable) override {
        enabled[id] = enable;
        log.push_back((enable ? "enable:" : "disable:") + std::to_string(id));
    }
    void FocusItem(int id) override { nFocus = id; }
    void SetCaption(const std::string& text) override { caption = text; }
    void ShowRecordingPicture(bool active) override { pictures.push_back(active); }
    void SetWaitCursor(bool on) override { log.push_back(on ? "wait-on" : "wait-off"); }
    bool IsMinimized() override { return bMinimized; }
    bool HasBaseFileSelection() override { return bHasSelection; }
    std::string GetBaseFileText() override { return strBaseText; }
    std::string GetBaseFilePath() override { return strBasePath; }
    void OnNew() override {
        ++nNewCalls;
        log.push_back("new");
    }
    void Wait(int ms) override {
        waits.push_back(ms);
        log.push_back("wait:" + std::to_string(ms));
    }

    void PostRecordingProgress(long byteCount, long newFile) override {
        Push({byteCount, newFile, false});
    }
    void PostRecordingDone() override { Push({0, 0, true}); }

    // Handles queued messages until the done message has been handled or the limit passes.
    bool PumpUntilDone(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            Msg msg;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (!m_cond.wait_until(lock, until, [this] { return m_nHead != m_nTail; })) {
                    return false;
                }
                msg = m_ring[m_nHead % kRing];
                ++m_nHead;
            }
            if (msg.bDone) {
                if (onDone) onDone();
                pControl->OnRecordingDone();
                ++nDone;
                return true;
            }
            pControl->OnRecordingProgress(msg.nByteCount, msg.nNewFile);
            progress.emplace_back(msg.nByteCount, msg.nNewFile);
            if (onProgress) onProgress(progress.size() - 1);
        }
    }

    bool IsIdle() const {
        for (int id : {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE}) {
            auto it = enabled.find(id);
            if (it != enabled.end() && !it->second) return false;
        }
        auto stop = enabled.find(IDC_STOP);
        return stop == enabled.end() || !stop->second;
    }

private:
    struct Msg {
        long nByteCount = 0;
        long nNewFile = 0;
        bool bDone = false;
    };
    static constexpr size_t kRing = 1 << 16;

    void Push(const Msg& msg) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_nTail - m_nHead >= kRing) {
                ++nOverflow;
                return;
            }
            m_ring[m_nTail % kRing] = msg;
            ++m_nTail;
        }
        m_cond.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<Msg> m_ring = std::vector<Msg>(kRing);
    size_t m_nHead = 0;
    size_t m_nTail = 0;
};

// A fresh folder under the system's temporary folder, removed with the object.
class CTempDir {
public:
    CTempDir() {
        std::string pattern = (fs::temp_directory_path() / "vellisto-rec-XXXXXX").string();
        m_path = mkdtemp(pattern.data());
    }
    ~CTempDir() {
        std::error_code ec;
        fs::remove_all(m_path, ec);
    }
    fs::path operator/(const std::string& name) const { return fs::path(m_path) / name; }
    const std::string& Path() const { return m_path; }

private:
    std::string m_path;
};

struct Format {
    int nBits = 16;  // 16 or 32 (float)
    int nRate = 11025;
    int nChannels = 2;
    int FrameBytes() const { return nBits / 8 * nChannels; }
    int BytesPerSec() const { return FrameBytes() * nRate; }
};

// A stretch of the input: loud (above every gap level used here) or near-silent.
struct Segment {
    long nFrames;
    bool bLoud;
};

// Stereo frames whose two samples encode the frame's number, so that every frame of an input
// is unique: a lost, repeated or reordered frame shows in a byte comparison. Loud frames stay at
// or above 1000 / 32768 in magnitude, silent ones at or below 500 / 32768.
inline void AppendFrame(std::vector<char>& out, const Format& format, long frame, bool loud) {
    int left = 0;
    int right = 0;
    if (loud) {
        left = 1000 + static_cast<int>(frame % 30000);
        right = -(1000 + static_cast<int>((frame / 30000) % 30000));
    } else {
        left = -500 + static_cast<int>(frame % 1000);
        right = -500 + static_cast<int>((frame / 1000) % 1000);
    }
    for (int ch = 0; ch < format.nChannels; ++ch) {
        const int v = ch % 2 == 0 ? left : right;
        if (format.nBits == 16) {
            const auto s = static_cast<int16_t>(v);
            out.insert(out.end(), reinterpret_cast<const char*>(&s),
                       reinterpret_cast<const char*>(&s) + 2);
        } else {
            const float f = static_cast<float>(v) / 32768.0f;
            out.insert(out.end(), reinterpret_cast<const char*>(&f),
                       reinterpret_cast<const char*>(&f) + 4);
        }
    }
}

inline std::vector<char> MakeSamples(const Format& format, const std::vector<Segment>& plan) {
    std::vector<char> out;
    long frame = 0;
    for (const Segment& s : plan) {
        for (long i = 0; i < s.nFrames; ++i) AppendFrame(out, format, frame++, s.bLoud);
    }
    return out;
}

template <typename T>
void PutLe(std::vector<char>& out, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// A WAV file written by hand, the way the recorder writes them (PCM: 16-byte fmt; float:
// 18-byte fmt with cbSize 0).
inline void WriteWav(const fs::path& path, const Format& format, const std::vector<char>& data) {
    const bool isFloat = format.nBits == 32;
    const uint32_t fmtSize = isFloat ? 18 : 16;
    std::vector<char> h;
    h.insert(h.end(), {'R', 'I', 'F', 'F'});
    PutLe<uint32_t>(h,
                    static_cast<uint32_t>(4 + 8 + fmtSize + 8 + data.size() + (data.size() & 1)));
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe<uint32_t>(h, fmtSize);
    PutLe<uint16_t>(h, isFloat ? 3 : 1);
    PutLe<uint16_t>(h, static_cast<uint16_t>(format.nChannels));
    PutLe<uint32_t>(h, static_cast<uint32_t>(format.nRate));
    PutLe<uint32_t>(h, static_cast<uint32_t>(format.BytesPerSec()));
    PutLe<uint16_t>(h, static_cast<uint16_t>(format.FrameBytes()));
    PutLe<uint16_t>(h, static_cast<uint16_t>(format.nBits));
    if (isFloat) PutLe<uint16_t>(h, 0);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    PutLe<uint32_t>(h, static_cast<uint32_t>(data.size()));
    std::ofstream f(path, std::ios::binary);
    f.write(h.data(), static_cast<std::streamsize>(h.size()));
    f.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (data.size() & 1) f.put('\0');
}

inline uint32_t GetLe32(const std::vector<char>& b, size_t at) {
    uint32_t v = 0;
    for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[at + i]);
    return v;
}

// Reads a song file and checks its RIFF structure; returns the sample bytes.
inline std::vector<char> ReadSongData(const fs::path& path, const Format& format) {
    std::ifstream f(path, std::ios::binary);
    EXPECT_TRUE(f.good()) << path;
    std::vector<char> b((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
    const size_t dataAt = format.nBits == 32 ? 46 : 44;
    if (b.size() < dataAt) {
        ADD_FAILURE() << path << " is too short: " << b.size();
        return {};
    }
    EXPECT_EQ(std::string(b.data(), 4), "RIFF") << path;
    EXPECT_EQ(std::string(b.data() + 8, 8), "WAVEfmt ") << path;
    EXPECT_EQ(GetLe32(b, 24), static_cast<uint32_t>(format.nRate)) << path;
    EXPECT_EQ(std::string(b.data() + dataAt - 8, 4), "data") << path;
    const uint32_t dataSize = GetLe32(b, dataAt - 4);
    const size_t pad = dataSize & 1;
    EXPECT_EQ(b.size(), dataAt + dataSize + pad) << path;
    EXPECT_EQ(GetLe32(b, 4), b.size() - 8) << path;
    if (b.size() < dataAt + dataSize) return {};
    return std::vector<char>(b.begin() + static_cast<long>(dataAt),
                             b.begin() + static_cast<long>(dataAt + dataSize));
}

// The song files base1.ext, base2.ext, ... that exist, in number order.
inline std::vector<fs::path> SongFiles(const CTempDir& dir, const std::string& stem,
                                       const std::string& ext) {
    std::vector<fs::path> files;
    for (int k = 1; k < 10000; ++k) {
        const fs::path p = dir / (stem + std::to_string(k) + ext);
        if (!fs::exists(p)) break;
        files.push_back(p);
    }
    return files;
}

// Thresholds in the analyser's own units: seconds through the trackbar scales.
struct Detection {
    double fGapSize = 0.1;
    double fMinSong = 1.0;
    double fEndGap = 1.0;
};

inline void ConfigureAnalyzer(CSignalAnalyzer& a, const Format& format, const Detection& d) {
    a.SetSamplesPerSec(static_cast<uint32_t>(format.nRate));
    a.SetBitsPerSample(static_cast<uint16_t>(format.nBits));
    a.SetChannels(static_cast<uint16_t>(format.nChannels));
    // Off: the song files then hold the captured bytes unchanged.
    a.SetDCBlock(0);
    a.SetIgnoreClicks(0);
    a.SetGapSizePosition(-static_cast<int>(std::ceil(d.fGapSize * 1764.0)));
    a.SetMinSongSizePosition(-static_cast<int>(std::ceil(d.fMinSong * 176.4)));
    a.SetEndSizePosition(-static_cast<int>(std::ceil(d.fEndGap * 176.4)));
    a.PrepareRecording();
}

inline void Configure(CRecordingControl& control, const Format& format, const Detection& d) {
    RecSettings& s = control.m_settings;
    s.nSamplesPerSec = static_cast<uint32_t>(format.nRate);
    s.wBitsPerSample = static_cast<uint16_t>(format.nBits);
    s.wChannels = static_cast<uint16_t>(format.nChannels);
    ConfigureAnalyzer(control.GetAnalyzer(), format, d);
}

}  // namespace rectest
