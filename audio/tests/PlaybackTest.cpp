// The playback ring and the test backend that window tests listen through: what is played, where
// the position is, and how a range ends (its end, a source that ends early, Stop, a failure).
#include <gmock/gmock.h>

#include <cstring>
#include <vector>

#include "audio/playback/PlaybackRing.h"
#include "audio/playback/TestPlaybackBackend.h"
#include "tests/support/TestFiles.h"

namespace {

using namespace testsupport;

// A source over a buffer of frames that ends after `available` frames.
PlaybackSource SourceOver(const Bytes& frames, size_t frameBytes, uint64_t available,
                          int* calls = nullptr) {
    return [&frames, frameBytes, available, calls](uint64_t first, size_t count, void* dst) {
        if (calls) ++*calls;
        if (first >= available) return size_t{0};
        const size_t n = static_cast<size_t>(std::min<uint64_t>(count, available - first));
        std::memcpy(dst, frames.data() + first * frameBytes, n * frameBytes);
        return n;
    };
}

TEST(PlaybackRing, PassesEveryFrameInOrderAcrossTheWrap) {
    struct Case {
        size_t capacity;
        uint32_t frameBytes;
        size_t writePiece, readPiece;
    };
    for (const Case& c :
         {Case{8, 4, 3, 5}, Case{5, 2, 7, 1}, Case{64, 8, 64, 13}, Case{1, 4, 1, 1}}) {
        SCOPED_TRACE(c.capacity);
        CPlaybackRing ring;
        ASSERT_TRUE(ring.Allocate(c.capacity, c.frameBytes));
        ASSERT_GE(ring.Capacity(), c.capacity);
        const size_t total = 1000;
        std::vector<unsigned char> in(total * c.frameBytes), out;
        for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<unsigned char>(i * 7 + i / 251);
        size_t written = 0;
        std::vector<unsigned char> piece(c.readPiece * c.frameBytes);
        while (out.size() < in.size()) {
            written += ring.Write(in.data() + written * c.frameBytes,
                                  std::min(c.writePiece, total - written));
            EXPECT_EQ(ring.Readable() + ring.Writable(), ring.Capacity());
            if (written == total) ring.MarkEnd();
            EXPECT_FALSE(ring.Drained());
            const size_t got = ring.Read(piece.data(), c.readPiece);
            out.insert(out.end(), piece.begin(), piece.begin() + got * c.frameBytes);
        }
        EXPECT_EQ(out, in);
        EXPECT_TRUE(ring.Drained());
        ring.Reset();
        EXPECT_FALSE(ring.Drained());
        EXPECT_EQ(ring.Writable(), ring.Capacity());
    }
}

class TestPlayback : public ::testing::Test {
protected:
    void SetUp() override {
        m_format = MakeWaveFormat(16, 44100, 2);
        m_frames = MakeSamples({16, 44100, 2}, {{20000, true}});
        ASSERT_FALSE(m_backend.Open(m_format));
        m_backend.SetEndCallback([this](PlaybackState state) { m_ends.push_back(state); });
    }
    Bytes Range(uint64_t first, uint64_t end) const {
        return Bytes(m_frames.begin() + static_cast<long>(first * 4),
                     m_frames.begin() + static_cast<long>(end * 4));
    }
    Bytes Heard() const { return Bytes(m_backend.Heard().begin(), m_backend.Heard().end()); }

    WAVEFORMATEX m_format{};
    Bytes m_frames;
    CTestPlaybackBackend m_backend;
    std::vector<PlaybackState> m_ends;
};

TEST_F(TestPlayback, PlaysTheRangeAndEndsThere) {
    ASSERT_FALSE(m_backend.Play(SourceOver(m_frames, 4, 20000), 1234, 15000));
    EXPECT_EQ(m_backend.GetState(), PlaybackState::Playing);
    EXPECT_EQ(m_backend.GetPosition(), 1234u);
    EXPECT_EQ(m_backend.Pull(5000), 5000u);
    EXPECT_EQ(m_backend.GetPosition(), 6234u);
    EXPECT_TRUE(m_ends.empty());
    EXPECT_EQ(m_backend.PullToEnd(), 15000u - 6234u);
    EXPECT_EQ(m_backend.GetState(), PlaybackState::Ended);
    EXPECT_EQ(m_backend.GetPosition(), 15000u);
    EXPECT_EQ(Heard(), Range(1234, 15000));
    EXPECT_THAT(m_ends, testing::ElementsAre(PlaybackState::Ended));
    EXPECT_EQ(m_backend.Pull(100), 0u);
}

TEST_F(TestPlayback, ASourceThatEndsEarlyEndsThePlayWhereItEnded) {
    ASSERT_FALSE(m_backend.Play(SourceOver(m_frames, 4, 9001), 8000, 20000));
    m_backend.PullToEnd();
    EXPECT_EQ(m_backend.GetState(), PlaybackState::Ended);
    EXPECT_EQ(m_backend.GetPosition(), 9001u);
    EXPECT_EQ(Heard(), Range(8000, 9001));
    EXPECT_THAT(m_ends, testing::ElementsAre(PlaybackState::Ended));
}

TEST_F(TestPlayback, StopDuringPlayKeepsThePositionAndCallsNoEnd) {
    int calls = 0;
    ASSERT_FALSE(m_backend.Play(SourceOver(m_frames, 4, 20000, &calls), 0, 20000));
    m_backend.Pull(3000);
    m_backend.Stop();
    EXPECT_EQ(m_backend.GetState(), PlaybackState::Idle);
    EXPECT_EQ(m_backend.GetPosition(), 3000u);
    const int callsAtStop = calls;
    EXPECT_EQ(m_backend.PullToEnd(), 0u);
    EXPECT_EQ(calls, callsAtStop) << "the source was pulled after Stop";
    EXPECT_TRUE(m_ends.empty());

    // Playing again starts afresh, and the stopped play stays silent.
    ASSERT_FALSE(m_backend.Play(SourceOver(m_frames, 4, 20000), 100, 200));
    m_backend.PullToEnd();
    EXPECT_EQ(Heard(), Range(100, 200));
    EXPECT_THAT(m_ends, testing::ElementsAre(PlaybackState::Ended));
}

TEST_F(TestPlayback, EmptyRangesFailuresAndRefusals) {
    ASSERT_FALSE(m_backend.Play(SourceOver(m_frames, 4, 20000), 500, 500));
    EXPECT_EQ(m_backend.GetState(), PlaybackState::Ended);
    EXPECT_EQ(m_backend.GetPosition(), 500u);

    ASSERT_FALSE(m_backend.Play(SourceOver(m_frames, 4, 20000), 0, 20000));
    m_backend.Pull(10);
    m_backend.FailNow("Device unavailable");
    EXPECT_EQ(m_backend.GetState(), PlaybackState::Failed);
    EXPECT_EQ(m_backend.GetFailure(), "Device unavailable");
    EXPECT_EQ(m_backend.GetPosition(), 10u);
    EXPECT_THAT(m_ends, testing::ElementsAre(PlaybackState::Ended, PlaybackState::Failed));

    m_backend.Close();
    EXPECT_TRUE(m_backend.Play(SourceOver(m_frames, 4, 20000), 0, 10));
    m_backend.RefuseOpen("Invalid sample rate");
    const PlaybackError refused = m_backend.Open(m_format);
    EXPECT_EQ(refused.text, "Invalid sample rate");
    EXPECT_FALSE(m_backend.IsOpen());
    m_backend.RefuseOpen("");
    EXPECT_TRUE(m_backend.Open(MakeWaveFormat(24, 44100, 2)));
    EXPECT_FALSE(m_backend.Open(MakeWaveFormat(32, 48000, 1)));
}

}  // namespace
