// The optimised ProcessBlock against a plain sample-by-sample rendering of the same rules,
// written independently here: every written sample, readout and detector result must agree to
// the bit on a few seconds of mixed material, for both formats and all four switch settings.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/SignalAnalyzer.h"

namespace {

struct Reference {
    bool int16, dcBlock, smartGap;
    float r, level;
    long gapSamples, minSongSamples, endGapSamples;
    CBiquadFilter f;
    float w0[2] = {}, w1[2] = {}, w2[2] = {}, dcIn[2] = {}, dcOut[2] = {}, peak[2] = {},
          power[2] = {};
    long lastLoud = 0, lastSplit = 0;
    int clips[2] = {};

    void Block(unsigned char* data, long bytes, int* gap, long* offset, int* end) {
        const int sampleBytes = int16 ? 2 : 4;
        const long n = bytes / sampleBytes;
        const float clip = int16 ? 32767.0f : 1.0f;
        const float scale = (2.0f / float(n)) / (int16 ? 53670879232.0f : 49.9849f);
        for (int ch = 0; ch < 2; ++ch) peak[ch] = power[ch] = 1.0e-12f, clips[ch] = 0;
        for (long i = 0; i < n; ++i) {
            const int ch = i % 2;
            int16_t s = 0;
            float x = 0;
            int16 ? (void)std::memcpy(&s, data + i * 2, 2) : (void)std::memcpy(&x, data + i * 4, 4);
            if (int16) x = float(s);
            float y = x;
            if (dcBlock) {
                y = (x - dcIn[ch] + dcOut[ch]) * r;
                dcOut[ch] = y;
                dcIn[ch] = x;
                if (y > clip || y < -clip) y = y > clip ? clip : -clip, ++clips[ch];
                s = int16_t(y);
                std::memcpy(data + i * sampleBytes, int16 ? (void*)&s : (void*)&y, sampleBytes);
            } else if (x >= clip || x <= -clip) {
                ++clips[ch];
            }
            float a = std::fabs(y);
            if (a > peak[ch]) peak[ch] = a;
            power[ch] += a * a * scale;
            if (smartGap) {
                w2[ch] = w1[ch];
                w1[ch] = w0[ch];
                w0[ch] = (y - f.a1 * w1[ch] - f.a2 * w2[ch]) / f.a0;
                a = std::fabs(f.b0 * w0[ch] + f.b1 * w1[ch] + f.b2 * w2[ch]);
            }
            if (a > level) {
                lastLoud = i;
            } else if (i - lastLoud >= endGapSamples) {
                *end = 1;
            } else if (i - lastLoud >= gapSamples && i - lastSplit >= minSongSamples) {
                *gap = 1;
                *offset = (i / 2) * 2 * sampleBytes;
                lastSplit = i;
            }
        }
        lastLoud -= n;
        lastSplit -= n;
        if (int16) peak[0] /= 32768.0f, peak[1] /= 32768.0f;
    }
};

// Deterministic material in 2.6 s cycles: loud noise with clipping bursts, a sine with a DC
// offset, quiet hiss around the gap level, digital silence; then a long quiet end.
template <typename T>
std::vector<T> MakeStream(double seconds, double fullScale, double gapLevel) {
    const long frames = long(seconds * 44100);
    std::vector<T> s(frames * 2);
    uint32_t seed = 12345;
    auto noise = [&seed] {
        return double(int32_t(seed = seed * 1664525u + 1013904223u)) / 2147483648.0;
    };
    for (long f = 0; f < frames; ++f) {
        const double t = double(f) / 44100, phase = std::fmod(t, 2.6);
        double v[2] = {0, 0};
        if (phase < 1.2) {
            v[0] = 0.6 * noise() + 0.5 * std::sin(2 * M_PI * 440 * t);
            v[1] = 0.7 * noise();
            if (f % 5000 < 40) v[0] = v[1] = (f % 2 ? 1.3 : -1.3);
        } else if (phase < 1.9) {
            v[0] = 0.8 * std::sin(2 * M_PI * 3000 * t) + 0.1;
            v[1] = 0.3 * std::sin(2 * M_PI * 60 * t) - 0.2;
        } else if (phase < 2.3) {
            v[0] = gapLevel * 1.2 * noise();
            v[1] = gapLevel * 0.5 * noise();
        }
        if (t > seconds - 4.0) v[0] = v[1] = gapLevel * 0.3 * noise();
        for (int ch = 0; ch < 2; ++ch) {
            const double x = v[ch] * fullScale;
            s[2 * f + ch] = sizeof(T) == 2 ? T(std::clamp(std::round(x), -32768.0, 32767.0)) : T(x);
        }
    }
    return s;
}

template <typename T>
void CompareWithReference(bool dcBlock, bool smartGap) {
    constexpr bool kInt16 = sizeof(T) == 2;
    SCOPED_TRACE(testing::Message()
                 << (kInt16 ? "int16" : "float") << " dc " << dcBlock << " smart " << smartGap);
    CSignalAnalyzer a;
    a.SetBitsPerSample(kInt16 ? 16 : 32);
    a.SetDCBlock(dcBlock);
    a.SetIgnoreClicks(smartGap);
    a.SetGapSizePosition(-353);      // 0.2 s
    a.SetMinSongSizePosition(-177);  // 1.0 s
    a.SetEndSizePosition(-529);      // 3.0 s
    ASSERT_EQ(a.GetErrorFlag(), 0);
    a.PrepareRecording();
    Reference ref{kInt16,
                  dcBlock,
                  smartGap,
                  std::bit_cast<float>(0x3F7DD483u),
                  a.m_fLinearGapLevel,
                  a.m_nGapSamples,
                  a.m_nMinSongSamples,
                  a.m_nEndGapSamples,
                  a.m_filter[0]};

    std::vector<T> stream = MakeStream<T>(9.0, kInt16 ? 32768.0 : 1.0, std::pow(10.0, -35.0 / 20));
    std::vector<T> mine = stream;
    auto* const refBytes = reinterpret_cast<unsigned char*>(stream.data());
    auto* const myBytes = reinterpret_cast<unsigned char*>(mine.data());
    const long total = long(stream.size() * sizeof(T));
    // Mostly whole capture buffers, with a few short ones and an empty one; a block ending inside
    // a frame (an odd number of samples) shifts the channel parity of what follows in both alike.
    const long sizes[] = {65536, 65536, 65536 - long(sizeof(T)), 65536, 1000, 0, 65536, 12, 65536};
    int gaps = 0, ends = 0;
    for (long k = 0, pos = 0; pos < total; ++k) {
        SCOPED_TRACE(k);
        const long size = std::min<long>(sizes[k % std::size(sizes)], total - pos);
        int refGap = 0, refEnd = 0;
        long refOffset = 0;
        ref.Block(refBytes + pos, size, &refGap, &refOffset, &refEnd);
        const BlockVerdict mine = a.ProcessBlock(myBytes + pos, size);
        ASSERT_EQ(mine.gapFound, refGap == 1);
        ASSERT_EQ(mine.splitOffset, refOffset);
        ASSERT_EQ(mine.endGapReached, refEnd == 1);
        ASSERT_EQ(std::memcmp(myBytes + pos, refBytes + pos, size), 0);
        for (int ch = 0; ch < 2; ++ch) {
            ASSERT_EQ(std::bit_cast<uint32_t>(a.m_fPeak[ch]),
                      std::bit_cast<uint32_t>(ref.peak[ch]));
            ASSERT_EQ(std::bit_cast<uint32_t>(a.m_fPower[ch]),
                      std::bit_cast<uint32_t>(ref.power[ch]));
            ASSERT_EQ(a.m_nClipCount[ch], ref.clips[ch]);
            ASSERT_EQ(std::bit_cast<uint32_t>(a.m_filter[ch].w0),
                      std::bit_cast<uint32_t>(ref.w0[ch]));
        }
        gaps += mine.gapFound;
        ends += mine.endGapReached;
        pos += size;
    }
    // The material must exercise the detector, or the comparison proves little.
    EXPECT_GE(gaps, 2);
    EXPECT_GE(ends, 1);
}

TEST(ProcessBlockReference, BothFormatsMatchToTheBit) {
    for (bool dc : {false, true}) {
        for (bool smart : {false, true}) {
            CompareWithReference<int16_t>(dc, smart);
            CompareWithReference<float>(dc, smart);
        }
    }
}

}  // namespace
