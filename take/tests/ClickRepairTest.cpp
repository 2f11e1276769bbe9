// The click repairer on generated music (sums of sines with a little noise) with clicks planted
// at known places: the gap filled from a model that fits, every sample outside the repairs kept
// bit for bit, the clicks found in both sample formats at every rate, and undo.
#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <random>
#include <vector>

#include "take/ClickRepair.h"

namespace {

// Interleaved "music": per channel three tones and faint noise, about -12 dBFS.
std::vector<float> Music(size_t frames, int channels, uint32_t rate, unsigned seed) {
    std::mt19937 random(seed);
    std::normal_distribution<double> noise(0, 1e-4);
    std::vector<float> x(frames * static_cast<size_t>(channels));
    for (int c = 0; c < channels; ++c) {
        for (size_t i = 0; i < frames; ++i) {
            const double t = static_cast<double>(i) / rate;
            const double v = 0.12 * std::sin(2 * std::numbers::pi * 220 * t + c) +
                             0.08 * std::sin(2 * std::numbers::pi * 587 * t) +
                             0.05 * std::sin(2 * std::numbers::pi * 1730 * t + 0.3 * c);
            x[i * static_cast<size_t>(channels) + static_cast<size_t>(c)] =
                static_cast<float>(v + noise(random));
        }
    }
    return x;
}

struct Planted {
    size_t frame;
    size_t length;
    int channel;
};

// A decaying click that swings both ways every 0.1 s, alternating channels, up to 0.7 ms long.
std::vector<Planted> PlantClicks(std::vector<float>& x, size_t frames, int channels,
                                 uint32_t rate) {
    std::vector<Planted> planted;
    const size_t step = rate / 10;
    for (size_t at = step / 2, k = 0; at + 64 < frames; at += step, ++k) {
        const Planted p{at + (k * 37) % 101, 3 + (k * 7) % (rate / 1600 + 1),
                        static_cast<int>(k % static_cast<size_t>(channels))};
        for (size_t i = 0; i < p.length; ++i) {
            const double v = (k % 2 ? 0.4 : -0.3) * std::exp(-3.0 * i / p.length) *
                             std::cos(2.2 * static_cast<double>(i));
            x[(p.frame + i) * static_cast<size_t>(channels) + static_cast<size_t>(p.channel)] +=
                static_cast<float>(v);
        }
        planted.push_back(p);
    }
    return planted;
}

bool Covered(const std::vector<ClickRepair>& repairs, const Planted& p) {
    size_t n = 0;
    for (const ClickRepair& r : repairs) {
        if (r.nChannel != p.channel) continue;
        for (size_t i = p.frame; i < p.frame + p.length; ++i) {
            n += i >= r.nFrame && i < r.nFrame + r.nLength;
        }
    }
    return 10 * n >= 9 * p.length;
}

TEST(ClickRepairTest, FillsAGapExactlyWhereTheModelFits) {
    // Three tones are foreseen exactly by a predictor of order 6 and nearly so by one fitted
    // of order 32: a gap of 40 samples comes back within a hair, however the gap is placed.
    std::vector<float> x = Music(4096, 1, 44100, 1);
    const std::vector<double> a = FitPredictor(x.data(), x.size(), 32);
    ASSERT_EQ(a.size(), 33u);
    for (size_t start : {size_t{40}, size_t{2000}, size_t{4096 - 45}}) {
        std::vector<float> y = x;
        for (size_t i = start; i < start + 40; ++i) y[i] = 0.5f;
        ASSERT_TRUE(InterpolateGap(y.data(), y.size(), start, 40, a));
        for (size_t i = 0; i < y.size(); ++i) {
            if (i < start || i >= start + 40) {
                ASSERT_EQ(y[i], x[i]) << "outside the gap at " << i;
            } else {
                ASSERT_NEAR(y[i], x[i], 2e-3) << "gap at " << start << ", sample " << i;
            }
        }
    }
    // A predictor that ignores the past leaves nothing to go on but zero.
    std::vector<double> none(33, 0.0);
    none[0] = 1;
    std::vector<float> y = x;
    ASSERT_TRUE(InterpolateGap(y.data(), y.size(), 100, 10, none));
    EXPECT_EQ(y[105], 0.0f);
}

TEST(ClickRepairTest, FindsClicksAndKeepsEverythingElseBitForBit) {
    for (uint32_t rate : {11025u, 22050u, 44100u, 48000u}) {
        for (int channels : {1, 2}) {
            SCOPED_TRACE(testing::Message() << rate << " Hz, " << channels << " channel(s)");
            const size_t frames = rate * 2;
            const std::vector<float> clean = Music(frames, channels, rate, rate + channels);
            std::vector<float> dirty = clean;
            const std::vector<Planted> planted = PlantClicks(dirty, frames, channels, rate);

            std::vector<float> f = dirty;
            std::vector<int16_t> s(dirty.size());
            for (size_t i = 0; i < s.size(); ++i) {
                s[i] = static_cast<int16_t>(std::lround(dirty[i] * 32768.0f));
            }
            const std::vector<int16_t> s0 = s;
            const ClickRepairResult rf = RepairClicks(f.data(), frames, channels, rate);
            const ClickRepairResult rs = RepairClicks(s.data(), frames, channels, rate);

            for (const ClickRepairResult* r : {&rf, &rs}) {
                for (const Planted& p : planted) {
                    EXPECT_TRUE(Covered(r->repairs, p)) << "click at " << p.frame;
                }
                EXPECT_LE(r->repairs.size(), planted.size() + 2);
            }
            // Outside the repairs nothing moved; inside, the music is back.
            std::vector<char> inside(dirty.size(), 0);
            for (const ClickRepair& r : rf.repairs) {
                for (size_t i = 0; i < r.nLength; ++i) {
                    const size_t at = (r.nFrame + i) * channels + r.nChannel;
                    inside[at] = 1;
                    EXPECT_EQ(r.original[i], dirty[at]);
                    EXPECT_EQ(r.repaired[i], f[at]);
                }
            }
            double noise = 0, signal = 0;
            for (size_t i = 0; i < dirty.size(); ++i) {
                if (!inside[i]) {
                    ASSERT_EQ(f[i], dirty[i]) << "sample " << i;
                }
                noise += (f[i] - clean[i]) * (f[i] - clean[i]);
                signal += clean[i] * clean[i];
            }
            EXPECT_GT(10 * std::log10(signal / noise), 60);
            std::vector<char> inside16(s.size(), 0);
            for (const ClickRepair& r : rs.repairs) {
                for (size_t i = 0; i < r.nLength; ++i) {
                    inside16[(r.nFrame + i) * channels + r.nChannel] = 1;
                }
            }
            for (size_t i = 0; i < s.size(); ++i) {
                if (!inside16[i]) {
                    ASSERT_EQ(s[i], s0[i]) << "sample " << i;
                }
            }
        }
    }
}

TEST(ClickRepairTest, LeavesCleanMusicAloneAndUndoesWhatItDid) {
    const uint32_t rate = 44100;
    const size_t frames = rate * 3;
    std::vector<float> clean = Music(frames, 2, rate, 7);
    std::vector<float> x = clean;
    for (ClickSensitivity s :
         {ClickSensitivity::Gentle, ClickSensitivity::Normal, ClickSensitivity::Strong}) {
        EXPECT_TRUE(RepairClicks(x.data(), frames, 2, rate, s).repairs.empty());
    }
    EXPECT_EQ(x, clean);
    // Digital silence with one click, and a sample that is not a number far from it.
    std::vector<float> silence(frames * 2, 0.0f);
    silence[2 * 50000] = 0.5f;
    silence[2 * 50001] = -0.25f;
    silence[2 * 100000 + 1] = std::nanf("");
    std::vector<float> y = silence;
    const ClickRepairResult r = RepairClicks(y.data(), frames, 2, rate);
    ASSERT_EQ(r.repairs.size(), 1u);
    EXPECT_EQ(y[2 * 50000], 0.0f);
    EXPECT_TRUE(std::isnan(y[2 * 100000 + 1]));

    std::vector<float> dirty = clean;
    PlantClicks(dirty, frames, 2, rate);
    std::vector<float> z = dirty;
    const ClickRepairResult result = RepairClicks(z.data(), frames, 2, rate);
    ASSERT_FALSE(result.repairs.empty());
    const std::vector<float> repaired = z;
    ApplyRepairs(z.data(), 2, result.repairs, false);
    EXPECT_EQ(z, dirty);
    ApplyRepairs(z.data(), 2, result.repairs, true);
    EXPECT_EQ(z, repaired);
}

}  // namespace
