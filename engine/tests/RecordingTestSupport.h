// Test helpers for whole recordings: a front whose posted messages queue up for the test's own
// "UI" thread, and the shared test support's files and samples under the names the
// recording and splitter tests use.
#pragma once

#include <gmock/gmock.h>

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

#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "tests/support/TestFiles.h"

namespace rectest {

using testing::HasSubstr, testing::Not, testing::StartsWith;
using namespace testsupport;
using Format = WavFormat;

// The sample bytes of a finished song file in the given format.
inline std::vector<char> ReadSongData(const fs::path& path, const Format& format) {
    const WavFile wav = ReadWav(path);
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

// The front of a recording in tests: a sink whose posted messages queue up in storage reserved
// beforehand (posting must not allocate on the recording thread), handled by PumpUntilDone() on
// the calling thread, and the base file Record starts from.
class CTestFront : public IRecordingSink {
public:
    CRecordingControl* pControl = nullptr;
    RecordRequest request{true, "SideA.wav", ""};
    bool bOverwrite = true;  // the answer to the overwrite question

    // What Record answered (the last call), and what it would have overwritten.
    StartOutcome start;
    ExistingSongs asked;
    std::vector<RecordingProgress> progress;  // handled reports, in order
    // How the recording ended, and what the window would have said.
    RecordingReport report;
    std::vector<std::string> messages;
    // On the pumping thread after each handled report (its index), and before the done message.
    std::function<void(size_t)> onProgress;
    std::function<void()> onDone;
    // On the recording thread each time it posts a report, before it goes on.
    std::function<void()> onPostInRecordingThread;

    // Record as the window runs it: the checks, the question (answered with bOverwrite), the
    // start. True when the recording runs.
    bool Record() {
        asked = {};
        start = pControl->Prepare(request);
        if (!start.Refused() && start.existing.nLowest > 0) {
            asked = start.existing;
            if (!bOverwrite) {
                pControl->Abandon();
                start.refusal = StartRefusal::Declined;
                return false;
            }
        }
        if (!start.Refused()) start = pControl->Start();
        return !start.Refused();
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

    // The finish, as the window runs it once the done message is handled.
    void Finish() {
        report = pControl->Finish();
        messages = recording_texts::EndMessages(report);
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
                EXPECT_FALSE(m_bOverflow) << "posted messages lost by the test front";
                if (onDone) onDone();
                Finish();
                return true;
            }
            pControl->OnRecordingProgress(msg.progress);
            progress.push_back(msg.progress);
            if (onProgress) onProgress(progress.size() - 1);
        }
    }

    // The song file the last handled report named, as shown.
    std::string CurFile() const { return pControl->ShownName(pControl->GetSongNumber()); }

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
