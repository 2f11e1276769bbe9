// The click repairer fed a song in pieces of odd sizes, as the splitter and a keep feed it: the
// bytes handed on are the bytes fed, changed only inside the repairs it reports; a click on the
// edge between two stretches it judges is repaired once; the next song counts from its own start.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <numbers>
#include <random>
#include <vector>

#include "take/ClickRepairStream.h"

namespace {

constexpr uint32_t kRate = 44100;

template <typename Sample>
std::vector<Sample> Song(size_t frames, const std::vector<size_t>& clicks) {
    std::mt19937 random(7);
    std::normal_distribution<double> noise(0, 2e-4);
    std::vector<Sample> x(frames * 2);
    for (size_t i = 0; i < frames; ++i) {
        const double t = static_cast<double>(i) / kRate;
        for (size_t c = 0; c < 2; ++c) {
            double v = 0.15 * std::sin(2 * std::numbers::pi * (330 + 110 * c) * t) +
                       0.06 * std::sin(2 * std::numbers::pi * 1210 * t) + noise(random);
            for (size_t k = 0; k < clicks.size(); ++k) {
                // Decaying, swinging both ways, on one channel at a time.
                if (k % 2 == c && i >= clicks[k] && i < clicks[k] + 12) {
                    v += 0.5 * std::exp(-0.3 * static_cast<double>(i - clicks[k])) *
                         std::cos(2.0 * static_cast<double>(i - clicks[k]));
                }
            }
            if constexpr (sizeof(Sample) == 2) {
                x[i * 2 + c] = static_cast<int16_t>(std::lround(v * 32767));
            } else {
                x[i * 2 + c] = static_cast<float>(v);
            }
        }
    }
    return x;
}

template <typename Sample>
std::vector<Sample> Stream(CClickRepairStream& stream, const std::vector<Sample>& in,
                           size_t piece) {
    std::vector<Sample> out;
    const auto sink = [&out](const void* data, size_t count) {
        const auto* s = static_cast<const Sample*>(data);
        out.insert(out.end(), s, s + count / sizeof(Sample));
        return true;
    };
    for (size_t at = 0; at < in.size(); at += piece * 2) {
        const size_t n = std::min(piece * 2, in.size() - at);
        EXPECT_TRUE(stream.Push(in.data() + at, n * sizeof(Sample), sink));
    }
    EXPECT_TRUE(stream.Finish(sink));
    return out;
}

// How many repairs cover each sample of a stereo song.
std::vector<int> Coverage(const std::vector<ClickRepair>& repairs, size_t frames) {
    std::vector<int> covered(frames * 2, 0);
    for (const ClickRepair& r : repairs) {
        for (size_t i = r.nFrame; i < r.nFrame + r.nLength && i < frames; ++i) {
            ++covered[i * 2 + static_cast<size_t>(r.nChannel)];
        }
    }
    return covered;
}

template <typename Sample>
void ExpectRepairedOnlyAtTheClicks(const WAVEFORMATEX& format) {
    // 10 s, judged in stretches of 4 s: clicks at the start, astride the first edge, just past
    // the first stretch's reach and at the very end.
    const size_t frames = 10 * kRate;
    const std::vector<size_t> clicks{300, 176400 - 4, 176400 + 11025 - 3, 300000, frames - 200};
    const std::vector<Sample> in = Song<Sample>(frames, clicks);
    CClickRepairStream stream(format, ClickSensitivity::Normal);
    const std::vector<Sample> out = Stream(stream, in, 4093);
    ASSERT_EQ(out.size(), in.size());
    const std::vector<ClickRepair>& repairs = stream.Repairs();

    const std::vector<int> covered = Coverage(repairs, frames);
    size_t changed = 0;
    for (size_t i = 0; i < out.size(); ++i) {
        if (covered[i] == 0) {
            ASSERT_EQ(std::memcmp(&out[i], &in[i], sizeof(Sample)), 0) << "sample " << i;
        }
        ASSERT_LE(covered[i], 1) << "repaired twice: sample " << i;
        changed += out[i] != in[i];
    }
    EXPECT_EQ(changed, stream.SamplesChanged());
    for (size_t k = 0; k < clicks.size(); ++k) {
        EXPECT_EQ(covered[(clicks[k] + 1) * 2 + k % 2], 1) << "click at " << clicks[k];
    }
    for (size_t a = 1; a < repairs.size(); ++a) {
        EXPECT_LE(repairs[a - 1].nFrame, repairs[a].nFrame);
    }

    // The repairs, applied back and forth, give either version exactly (undo, A/B listening).
    std::vector<Sample> undone = out;
    ApplyRepairsAt(undone.data(), format, 0, frames, repairs, false);
    EXPECT_EQ(undone, in);
    ApplyRepairsAt(undone.data(), format, 0, frames, repairs, true);
    EXPECT_EQ(undone, out);
    // A piece of the song, as playback or a keep holds it.
    std::vector<Sample> piece(in.begin() + 2 * 176000, in.begin() + 2 * 177000);
    ApplyRepairsAt(piece.data(), format, 176000, 1000, repairs, true);
    EXPECT_TRUE(std::equal(piece.begin(), piece.end(), out.begin() + 2 * 176000));

    // The next song counts its frames from its own start.
    const std::vector<Sample> next = Song<Sample>(kRate, {5000});
    EXPECT_EQ(Stream(stream, next, 10000).size(), next.size());
    EXPECT_EQ(Coverage(stream.Repairs(), kRate)[5001 * 2], 1);
}

TEST(ClickRepairStreamTest, RepairsOnlyTheClicksOfASongFedInPieces) {
    ExpectRepairedOnlyAtTheClicks<int16_t>(MakeWaveFormat(16, kRate, 2));
    ExpectRepairedOnlyAtTheClicks<float>(MakeWaveFormat(32, kRate, 2));
}

TEST(ClickRepairStreamTest, PassesFormatsItCannotRepairUntouched) {
    const WAVEFORMATEX format = MakeWaveFormat(24, kRate, 2);
    ASSERT_FALSE(CClickRepairStream::Supports(format));
    std::vector<uint8_t> in(6 * 5000);
    for (size_t i = 0; i < in.size(); ++i) in[i] = static_cast<uint8_t>(i * 131 % 251);
    in[3000] = 0x7f;
    CClickRepairStream stream(format, ClickSensitivity::Strong);
    EXPECT_EQ(Stream(stream, in, 777 * 3), in);
    EXPECT_TRUE(stream.Repairs().empty());
}

}  // namespace
