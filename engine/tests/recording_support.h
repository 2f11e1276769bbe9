// Test helpers for whole recordings: a scripted window whose posted messages queue up for the
// test's own "UI" thread, and the shared test support's files and samples under the names the
// recording and splitter tests use.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "RecordingControl.h"
#include "TestFiles.h"

namespace rectest {

namespace fs = std::filesystem;
using Format = testsupport::WavFormat;
using testsupport::CTempDir;
using testsupport::DecodeFrame;
using testsupport::MakeSamples;
using testsupport::Segment;
using testsupport::WriteWav;

template <typename T>
void PutLe(std::vector<char>& out, T v) {
    for (size_t i = 0; i < sizeof(T); ++i) out.push_back(static_cast<char>((v >> (8 * i)) & 0xFF));
}

// The sample bytes of a finished song file in the given format.
inline std::vector<char> ReadSongData(const fs::path& path, const Format& format) {
    const testsupport::WavFile wav = testsupport::ReadWav(path);
    EXPECT_EQ(wav.szProblem, "") << path;
    EXPECT_EQ(wav.nRate, uint32_t(format.nRate)) << path;
    EXPECT_EQ(wav.nBits * wav.nChannels, format.nBits * format.nChannels) << path;
    return wav.Data();
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

struct Box {
    std::string text, title;
    MsgIcon icon;
    MsgButtons buttons;
};

// IRecorderWindow with scripted answers. Posted messages queue up in storage reserved
// beforehand (posting must not allocate on the recording thread); PumpUntilDone() handles them
// on the calling thread.
class CTestWindow : public IRecorderWindow {
public:
    CRecordingControl* pControl = nullptr;
    bool bHasSelection = true;
    std::string strBaseText = "SideA.wav";
    std::string strBasePath;
    bool bMinimized = false;
    bool leaveDuringWait = false;       // Wait answers that the user asked to leave meanwhile
    MsgAnswer answer = MsgAnswer::Yes;  // to every Yes/No box

    // What the control did; log holds boxes, enabling, waits and OnNew in order.
    std::vector<Box> boxes;
    std::vector<std::string> log;
    std::map<int, std::string> texts;
    std::map<int, bool> enabled;
    std::string caption;
    int nFocus = 0;
    std::vector<RecordingProgress> progress;  // handled reports, in order
    // On the pumping thread after each handled report (its index), and before the done message.
    std::function<void(size_t)> onProgress;
    std::function<void()> onDone;
    // On the recording thread each time it posts a report, before it goes on.
    std::function<void()> onPostInRecordingThread;

    MsgAnswer MessageBox(const std::string& text, const std::string& title, MsgIcon icon,
                         MsgButtons buttons) override {
        boxes.push_back({text, title, icon, buttons});
        log.push_back("box:" + title);
        return buttons == MsgButtons::Ok ? MsgAnswer::Ok : answer;
    }
    void SetItemText(int id, const std::string& text) override { texts[id] = text; }
    void EnableItem(int id, bool enable) override {
        enabled[id] = enable;
        log.push_back((enable ? "enable:" : "disable:") + std::to_string(id));
    }
    void FocusItem(int id) override { nFocus = id; }
    void SetCaption(const std::string& text) override { caption = text; }
    void ShowRecordingPicture(bool) override {}
    void SetWaitCursor(bool) override {}
    bool IsMinimized() override { return bMinimized; }
    bool HasBaseFileSelection() override { return bHasSelection; }
    std::string GetBaseFileText() override { return strBaseText; }
    std::string GetBaseFilePath() override { return strBasePath; }
    void OnNew() override { log.push_back("new"); }
    bool Wait(int ms) override {
        log.push_back("wait:" + std::to_string(ms));
        return !leaveDuringWait;
    }
    void PostRecordingProgress(const RecordingProgress& report) override {
        Push({report, false});
        if (onPostInRecordingThread) onPostInRecordingThread();
    }
    void PostRecordingDone() override { Push({{}, true}); }

    // Waits, handling nothing, until the recording thread has posted its done message.
    bool WaitUntilDonePosted() {
        std::unique_lock<std::mutex> lock(m_mutex);
        return m_cond.wait_for(lock, std::chrono::seconds(60),
                               [this] { return !m_queue.empty() && m_queue.back().bDone; });
    }

    // Handles queued messages until the done message has been handled or the limit passes.
    bool PumpUntilDone(std::chrono::seconds limit = std::chrono::seconds(60)) {
        const auto until = std::chrono::steady_clock::now() + limit;
        for (;;) {
            Msg msg;
            {
                std::unique_lock<std::mutex> lock(m_mutex);
                if (!m_cond.wait_until(lock, until, [this] { return m_nHead < m_queue.size(); }))
                    return false;
                msg = m_queue[m_nHead++];
            }
            if (msg.bDone) {
                EXPECT_FALSE(m_bOverflow) << "posted messages lost by the test window";
                if (onDone) onDone();
                pControl->OnRecordingDone();
                return true;
            }
            pControl->OnRecordingProgress(msg.progress);
            progress.push_back(msg.progress);
            if (onProgress) onProgress(progress.size() - 1);
        }
    }

    // Every control enabled as when no recording runs.
    bool IsIdle() const {
        for (const auto& [id, on] : enabled)
            if (on == (id == IDC_STOP)) return false;
        return true;
    }

private:
    struct Msg {
        RecordingProgress progress;
        bool bDone = false;
    };
    void Push(const Msg& msg) {
        {
            std::lock_guard<std::mutex> lock(m_mutex);
            if (m_queue.size() == m_queue.capacity()) {
                m_bOverflow = true;
                return;
            }
            m_queue.push_back(msg);
        }
        m_cond.notify_one();
    }

    std::mutex m_mutex;
    std::condition_variable m_cond;
    std::vector<Msg> m_queue = [] {
        std::vector<Msg> q;
        q.reserve(1 << 16);
        return q;
    }();
    size_t m_nHead = 0;
    bool m_bOverflow = false;  // under m_mutex
};

}  // namespace rectest
