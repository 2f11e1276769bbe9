// The real playback path without sound hardware: PortAudio over ALSA writes what it plays to a
// file through a test-only ALSA device (the default output), set up by ALSA_CONFIG_PATH in this
// program's test environment. The device is unpaced, so the ring may run dry and the callback
// pad with silence: every frame of the range must still arrive once and in order.
#include <gmock/gmock.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <vector>

#include "audio/playback/PlaybackBackend.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace testsupport;

// Waits for a condition that another thread makes true and announces.
struct Signal {
    std::mutex lock;
    std::condition_variable changed;
    template <typename Pred>
    bool WaitFor(Pred pred) {
        std::unique_lock<std::mutex> guard(lock);
        // The limit only turns a hang into a failure; nothing waits on time to decide.
        return changed.wait_for(guard, std::chrono::seconds(30), pred);
    }
};

class PortAudioPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        m_out = *m_dir / "out.raw";
        setenv("VELLISTO_TAPE_OUT", m_out.c_str(), 1);
        // Loud frames, none of them silent, each encoding its own number.
        m_frames = MakeSamples({16, 44100, 2}, {{100000, true}});
        m_backend = MakePortAudioPlayback();
        const PlaybackError error = m_backend->Open(MakeWaveFormat(16, 44100, 2));
        ASSERT_FALSE(error) << error.text;
        m_backend->SetEndCallback([this](PlaybackState state) {
            std::lock_guard<std::mutex> guard(m_signal.lock);
            m_ends.push_back(state);
            m_signal.changed.notify_all();
        });
    }
    // What reached the device, without the silence it was padded with.
    Bytes Played() const {
        const Bytes raw = ReadFile(m_out);
        Bytes frames;
        for (size_t at = 0; at + 4 <= raw.size(); at += 4) {
            if (std::memcmp(&raw[at], "\0\0\0\0", 4) != 0) {
                frames.insert(frames.end(), raw.begin() + at, raw.begin() + at + 4);
            }
        }
        return frames;
    }
    PlaybackSource Source() {
        return [this](uint64_t first, size_t count, void* dst) {
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>(count, m_frames.size() / 4 - std::min<uint64_t>(first, 100000)));
            std::memcpy(dst, m_frames.data() + first * 4, n * 4);
            return n;
        };
    }
    bool WaitForEnds(size_t count) {
        return m_signal.WaitFor([&] { return m_ends.size() >= count; });
    }

    std::unique_ptr<CTempDir> m_dir = std::make_unique<CTempDir>();
    fs::path m_out;
    Bytes m_frames;
    std::unique_ptr<IPlaybackBackend> m_backend;
    Signal m_signal;
    std::vector<PlaybackState> m_ends;  // under m_signal.lock
};

TEST_F(PortAudioPlayback, EveryFrameOfTheRangeIsPlayedOnceInOrder) {
    struct Case {
        uint64_t start, end;
    };
    for (const Case& c : {Case{1234, 71234}, Case{99990, 100000}, Case{95000, 200000}}) {
        SCOPED_TRACE(c.start);
        const size_t endsBefore = m_ends.size();
        ASSERT_FALSE(m_backend->Play(Source(), c.start, c.end));
        ASSERT_TRUE(WaitForEnds(endsBefore + 1));
        EXPECT_EQ(m_ends.back(), PlaybackState::Ended);
        EXPECT_EQ(m_backend->GetState(), PlaybackState::Ended);
        const uint64_t end = std::min<uint64_t>(c.end, 100000);  // the source ends there
        EXPECT_EQ(m_backend->GetPosition(), end);
        // The device file is opened afresh by the next Play; this one's bytes are complete once
        // the stream has ended.
        m_backend->Close();
        const Bytes want(m_frames.begin() + static_cast<long>(c.start * 4),
                         m_frames.begin() + static_cast<long>(end * 4));
        EXPECT_TRUE(Played() == want) << Played().size() / 4 << " frames played";
        ASSERT_FALSE(m_backend->Open(MakeWaveFormat(16, 44100, 2)));
    }
}

TEST_F(PortAudioPlayback, StopDoesNotWaitForASourceStuckOnTheDisk) {
    int calls = 0;
    bool release = false;
    ASSERT_FALSE(m_backend->Play(
        [&](uint64_t first, size_t count, void* dst) {
            std::unique_lock<std::mutex> guard(m_signal.lock);
            if (++calls == 10) {
                m_signal.changed.notify_all();
                m_signal.changed.wait(guard, [&] { return release; });
            }
            std::memcpy(dst, m_frames.data() + first * 4, count * 4);
            return count;
        },
        0, 100000));
    ASSERT_TRUE(m_signal.WaitFor([&] { return calls == 10; }));
    m_backend->Stop();  // the source is still inside its tenth call
    EXPECT_EQ(m_backend->GetState(), PlaybackState::Idle);
    EXPECT_LE(m_backend->GetPosition(), 9u * 4096);
    {
        std::lock_guard<std::mutex> guard(m_signal.lock);
        release = true;
        m_signal.changed.notify_all();
    }
    // A new range plays normally; the stopped one never reports an end.
    ASSERT_FALSE(m_backend->Play(Source(), 500, 600));
    ASSERT_TRUE(WaitForEnds(1));
    EXPECT_THAT(m_ends, testing::ElementsAre(PlaybackState::Ended));
    EXPECT_EQ(m_backend->GetPosition(), 600u);
}

TEST_F(PortAudioPlayback, AFormatItCannotPlayIsRefusedWithAReason) {
    for (const WAVEFORMATEX& format :
         {MakeWaveFormat(24, 44100, 2), MakeWaveFormat(16, 44100, 3), MakeWaveFormat(8, 8000, 1)}) {
        const PlaybackError error = m_backend->Open(format);
        EXPECT_EQ(error.text, "Sample format not supported");
        EXPECT_FALSE(m_backend->IsOpen());
        EXPECT_TRUE(m_backend->Play(Source(), 0, 10));
    }
    EXPECT_FALSE(m_backend->Open(MakeWaveFormat(32, 48000, 1)));
}

// ALSA reads its configuration once per process: this runs in a fresh copy of the program, with
// a default device that only records.
TEST(PortAudioPlaybackDevice, WithoutAnOutputDeviceOpenSaysSo) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    const CTempDir dir;
    const std::string text =
        "pcm.!default { type asym capture.pcm { type file slave.pcm { type null } "
        "file \"/dev/null\" infile \"/dev/zero\" format \"raw\" } }\n";
    WriteFile(dir / "record-only.conf", Bytes(text.begin(), text.end()));
    EXPECT_EXIT(
        {
            setenv("ALSA_CONFIG_PATH", (dir / "record-only.conf").c_str(), 1);
            const PlaybackError error = MakePortAudioPlayback()->Open(MakeWaveFormat(16, 44100, 2));
            std::fprintf(stderr, "%s\n", error.text.c_str());
            std::exit(error ? 0 : 1);
        },
        testing::ExitedWithCode(0), "^No playback device was found.\n$");
}

}  // namespace
