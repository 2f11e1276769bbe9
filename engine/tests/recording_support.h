// Test helpers for whole recordings: a scripted window whose posted messages queue up for the
// test's own "UI" thread, synthetic inputs whose frames encode their own number, and an
// independent WAV reader.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
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
    std::string text, title;
    MsgIcon icon;
    MsgButtons buttons;
};

// IRecorderWindow with scripted answers. The posted messages go into a fixed ring (posting
// must not allocate on the recording thread) that PumpUntilDone() drains on the calling thread.
class CTestWindow : public IRecorderWindow {
public:
    CRecordingControl* pControl = nullptr;
    bool bHasSelection = true;
    std::string strBaseText = "SideA.wav";
    std::string strBasePath;
    bool bMinimized = false;
    std::deque<MsgAnswer> answers;  // for Yes/No boxes; Yes when empty

    // What the control did; log holds boxes, enabling, waits and OnNew in order.
    std::vector<Box> boxes;
    std::vector<std::string> log;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::vector<bool> pictures;
    std::string caption;
    int nFocus = 0;
    std::vector<RecordingProgress> progress;  // handled reports, in order
    // Called on the pumping thread after each handled progress message (its index), and
    // before the done message is handled.
    std::function<void(size_t)> onProgress;
    std::function<void()> onDone;
    // Called on the recording thread each time it posts a report, before it goes on.
    std::function<void()> onPostInRecordingThread;

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
    void OnNew() override { log.push_back("new"); }
    // Answers false once leaveDuringWait is set: the user asked to leave meanwhile.
    bool leaveDuringWait = false;
    bool Wait(int ms) override {
        log.push_back("wait:" + std::to_string(ms));
        return !leaveDuringWait;
    }
    void PostRecordingProgress(const RecordingProgress& progress) override {
        Push({progress, false});
        if (onPostInRecordingThread) onPostInRecordingThread();
    }
    void PostRecordingDone() override { Push({{}, true}); }

    // Waits, handling nothing, until the recording thread has posted its done message: every
    // message is then handled after the thread has ended.
    bool WaitUntilDonePosted(std::chrono::milliseconds limit = std::chrono::seconds(60)) {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cond.wait_for(lock, limit, [this] {
            return m_nTail > m_nHead && m_ring[(m_nTail - 1) % m_ring.size()].bDone;
        });
    }

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
                msg = m_ring[m_nHead++ % m_ring.size()];
            }
            if (msg.bDone) {
                EXPECT_EQ(m_nOverflow.load(), 0) << "posted messages lost by the test window";
                if (onDone) onDone();
                pControl->OnRecordingDone();
                return true;
            }
            pControl->OnRecordingProgress(msg.progress);
            progress.push_back(msg.progress);
            if (onProgress) onProgress(progress.size() - 1);
        }
    }

    bool IsIdle() const {
        for (int id : {IDC_BASEFILE, IDC_NEW, IDC_RECORD, IDC_PRESETS, IDC_CUSTOMIZE}) {
            if (enabled.count(id) && !enabled.at(id)) return false;
        }
        return !enabled.count(IDC_STOP) || !enabled.at(IDC_STOP);
    }

private:
    struct Msg {
        RecordingProgress progress;
        bool bDone = false;
    };

    void Push(const Msg& msg) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_nTail - m_nHead >= m_ring.size()) {
                ++m_nOverflow;
                return;
            }
            m_ring[m_nTail++ % m_ring.size()] = msg;
        }
        m_cond.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<Msg> m_ring = std::vector<Msg>(1 << 16);
    size_t m_nHead = 0, m_nTail = 0;
    std::atomic<int> m_nOverflow{0};
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
};

// A stretch of the input: loud (above every gap level used here) or near-silent.
struct Segment {
    long nFrames;
    bool bLoud;
};

// Frames whose first two samples encode the frame's number, so that a lost, repeated or
// reordered frame shows in a byte comparison. Loud frames stay at or above 1000 / 32768 in
// magnitude, silent ones at or below 500 / 32768.
inline std::vector<char> MakeSamples(const Format& format, const std::vector<Segment>& plan) {
    std::vector<char> out;
    long frame = 0;
    for (const Segment& s : plan) {
        for (long i = 0; i < s.nFrames; ++i, ++frame) {
            const int v[2] = {
                s.bLoud ? 1000 + int(frame % 30000) : -500 + int(frame % 1000),
                s.bLoud ? -(1000 + int(frame / 30000 % 30000)) : -500 + int(frame / 1000 % 1000)};
            for (int ch = 0; ch < format.nChannels; ++ch) {
                const int16_t s16 = int16_t(v[ch % 2]);
                const float f = float(v[ch % 2]) / 32768.0f;
                const char* p = format.nBits == 16 ? reinterpret_cast<const char*>(&s16)
                                                   : reinterpret_cast<const char*>(&f);
                out.insert(out.end(), p, p + format.nBits / 8);
            }
        }
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
    std::vector<char> h = {'R', 'I', 'F', 'F'};
    PutLe<uint32_t>(h, uint32_t(4 + 8 + fmtSize + 8 + data.size() + (data.size() & 1)));
    h.insert(h.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    PutLe<uint32_t>(h, fmtSize);
    PutLe<uint16_t>(h, isFloat ? 3 : 1);
    PutLe<uint16_t>(h, uint16_t(format.nChannels));
    PutLe<uint32_t>(h, uint32_t(format.nRate));
    PutLe<uint32_t>(h, uint32_t(format.FrameBytes() * format.nRate));
    PutLe<uint16_t>(h, uint16_t(format.FrameBytes()));
    PutLe<uint16_t>(h, uint16_t(format.nBits));
    if (isFloat) PutLe<uint16_t>(h, 0);
    h.insert(h.end(), {'d', 'a', 't', 'a'});
    PutLe<uint32_t>(h, uint32_t(data.size()));
    std::ofstream f(path, std::ios::binary);
    f.write(h.data(), std::streamsize(h.size()));
    f.write(data.data(), std::streamsize(data.size()));
    if (data.size() & 1) f.put('\0');
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
    auto le32 = [&b](size_t at) {
        uint32_t v;
        std::memcpy(&v, b.data() + at, 4);  // little-endian host
        return v;
    };
    EXPECT_EQ(std::string(b.data(), 4), "RIFF") << path;
    EXPECT_EQ(std::string(b.data() + 8, 8), "WAVEfmt ") << path;
    EXPECT_EQ(le32(24), uint32_t(format.nRate)) << path;
    EXPECT_EQ(std::string(b.data() + dataAt - 8, 4), "data") << path;
    const uint32_t dataSize = le32(dataAt - 4);
    EXPECT_EQ(b.size(), dataAt + dataSize + (dataSize & 1)) << path;
    EXPECT_EQ(le32(4), b.size() - 8) << path;
    if (b.size() < dataAt + dataSize) return {};
    return std::vector<char>(b.begin() + long(dataAt), b.begin() + long(dataAt + dataSize));
}

// The song files base1.ext, base2.ext, ... that exist, in number order.
inline std::vector<fs::path> SongFiles(const CTempDir& dir, const std::string& stem,
                                       const std::string& ext) {
    std::vector<fs::path> files;
    for (int k = 1; fs::exists(dir / (stem + std::to_string(k) + ext)); ++k) {
        files.push_back(dir / (stem + std::to_string(k) + ext));
    }
    return files;
}

}  // namespace rectest
