// The optimised ProcessBlock against a plain sample-by-sample rendering of the same rules,
// written independently here: every written sample, readout and detector result must agree to
// the bit on a few seconds of mixed material, for both formats and all four switch settings.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "SignalAnalyzer.h"

namespace {

uint32_t Bits(float f) {
    uint32_t u;
    std::memcpy(&u, &f, sizeof u);
    return u;
}

struct Reference {
    bool int16 = true, dcBlock = true, smartGap = true;
    float r = 0;
    float level = 0;
    long gapSamples = 0, minSongSamples = 0, endGapSamples = 0;
    float b0, b1, b2, a0, a1, a2;
    float w0[2] = {0, 0}, w1[2] = {0, 0}, w2[2] = {0, 0};
    float dcIn[2] = {0, 0}, dcOut[2] = {0, 0};
    long lastLoud = 0, lastSplit = 0;
    float peak[2], power[2];
    int clips[2];

    void Block(unsigned char* data, long bytes, int* gap, long* offset, int* end) {
        const int bytesPerSample = int16 ? 2 : 4;
        const long n = bytes / bytesPerSample;
        const float clip = int16 ? 32767.0f : 1.0f;
        const float scale = (2.0f / float(n)) / (int16 ? 53670879232.0f : 49.9849f);
        for (int ch = 0; ch < 2; ++ch) {
            peak[ch] = power[ch] = 1.0e-12f;
            clips[ch] = 0;
        }
        for (long i = 0; i < n; ++i) {
            const int ch = i % 2;
            float x;
            if (int16) {
                int16_t s;
                std::memcpy(&s, data + i * 2, 2);
                x = float(s);
            } else {
                std::memcpy(&x, data + i * 4, 4);
            }
            float y = x;
            if (dcBlock) {
                y = (x - dcIn[ch] + dcOut[ch]) * r;
                dcOut[ch] = y;
                dcIn[ch] = x;
                if (y > clip) {
                    y = clip;
                    ++clips[ch];
                } else if (y < -clip) {
                    y = -clip;
                    ++clips[ch];
                }
                if (int16) {
                    const int16_t s = int16_t(y);
                    std::memcpy(data + i * 2, &s, 2);
                } else {
                    std::memcpy(data + i * 4, &y, 4);
                }
            } else if (x >= clip || x <= -clip) {
                ++clips[ch];
            }
            float a = std::fabs(y);
            if (a > peak[ch]) peak[ch] = a;
            power[ch] += a * a * scale;
            if (smartGap) {
                w2[ch] = w1[ch];
                w1[ch] = w0[ch];
                w0[ch] = (y - a1 * w1[ch] - a2 * w2[ch]) / a0;
                a = std::fabs(b0 * w0[ch] + b1 * w1[ch] + b2 * w2[ch]);
            }
            if (a > level) {
                lastLoud = i;
            } else if (i - lastLoud >= endGapSamples) {
                *end = 1;
            } else if (i - lastLoud >= gapSamples && i - lastSplit >= minSongSamples) {
                *gap = 1;
                *offset = (i / 2) * 2 * bytesPerSample;
                lastSplit = i;
            }
        }
        lastLoud -= n;
        lastSplit -= n;
        if (int16) {
            peak[0] /= 32768.0f;
            peak[1] /= 32768.0f;
        }
    }
};

// Deterministic material: loud noise with clipping bursts, a sine with a DC offset, quiet
// hiss hovering around the gap level, digital silence, and a long quiet end.
template <typename T>
std::vector<T> MakeStream(double seconds, double fullScale, double gapLevel) {
    const long frames = long(seconds * 44100);
    std::vector<T> s(frames * 2);
    uint32_t seed = 12345;
    auto noise = [&seed]() {
        seed = seed * 1664525u + 1013904223u;
        return double(int32_t(seed)) / 2147483648.0;  // -1 .. 1
    };
    for (long f = 0; f < frames; ++f) {
        const double t = double(f) / 44100;
        const double phase = std::fmod(t, 2.6);
        double l, r;
        if (phase < 1.2) {
            l = 0.6 * noise() + 0.5 * std::sin(2 * M_PI * 440 * t);
            r = 0.7 * noise();
            if (f % 5000 < 40) l = r = (f % 2 ? 1.3 : -1.3);  // clipping burst
        } else if (phase < 1.9) {
            l = 0.8 * std::sin(2 * M_PI * 3000 * t) + 0.1;
            r = 0.3 * std::sin(2 * M_PI * 60 * t) - 0.2;
        } else if (phase < 2.3) {
            l = gapLevel * 1.2 * noise();
            r = gapLevel * 0.5 * noise();
        } else {
            l = r = 0;
        }
        if (t > seconds - 4.0) l = r = gapLevel * 0.3 * noise();
        auto conv = [fullScale](double v) {
            v *= fullScale;
            if constexpr (sizeof(T) == 2) {
                v = std::round(v);
                v = v > 32767 ? 32767 : v < -32768 ? -32768 : v;
            }
            return T(v);
        };
        s[2 * f] = conv(l);
        s[2 * f + 1] = conv(r);
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

    Reference ref;
    ref.int16 = kInt16;
    ref.dcBlock = dcBlock;
    ref.smartGap = smartGap;
    const uint32_t rBits = 0x3F7DD483u;
    std::memcpy(&ref.r, &rBits, 4);
    ref.level = a.m_fLinearGapLevel;
    ref.gapSamples = a.m_nGapSamples;
    ref.minSongSamples = a.m_nMinSongSamples;
    ref.endGapSamples = a.m_nEndGapSamples;
    const CBiquadFilter& f = a.m_filter[0];
    ref.b0 = f.b0, ref.b1 = f.b1, ref.b2 = f.b2, ref.a0 = f.a0, ref.a1 = f.a1, ref.a2 = f.a2;

    const double level = std::pow(10.0, -35.0 / 20.0);
    std::vector<T> stream = MakeStream<T>(9.0, kInt16 ? 32768.0 : 1.0, level);
    std::vector<T> mine = stream;
    unsigned char* const refBytes = reinterpret_cast<unsigned char*>(stream.data());
    unsigned char* const myBytes = reinterpret_cast<unsigned char*>(mine.data());
    const long total = long(stream.size() * sizeof(T));

    // Mostly whole capture buffers, with a few short ones; a block ending inside a frame (an odd
    // number of samples) shifts the channel parity of what follows in both alike.
    const long sizes[] = {65536, 65536, 65536 - long(sizeof(T)), 65536, 1000, 65536, 12, 65536};
    int gaps = 0, ends = 0;
    long pos = 0;
    for (int k = 0; pos < total; ++k) {
        const long size = std::min<long>(sizes[k % std::size(sizes)], total - pos);
        int refGap = 0, refEnd = 0, myGap = 0, myEnd = 0;
        long refOffset = -1, myOffset = -1;
        ref.Block(refBytes + pos, size, &refGap, &refOffset, &refEnd);
        a.ProcessBlock(myBytes + pos, size, &myGap, &myOffset, &myEnd);
        ASSERT_EQ(myGap, refGap) << "block " << k;
        ASSERT_EQ(myOffset, refOffset) << "block " << k;
        ASSERT_EQ(myEnd, refEnd) << "block " << k;
        ASSERT_EQ(std::memcmp(myBytes + pos, refBytes + pos, size), 0) << "block " << k;
        for (int ch = 0; ch < 2; ++ch) {
            ASSERT_EQ(Bits(a.m_fPeak[ch]), Bits(ref.peak[ch])) << "block " << k;
            ASSERT_EQ(Bits(a.m_fPower[ch]), Bits(ref.power[ch])) << "block " << k;
            ASSERT_EQ(a.m_nClipCount[ch], ref.clips[ch]) << "block " << k;
            ASSERT_EQ(Bits(a.m_filter[ch].w0), Bits(ref.w0[ch])) << "block " << k;
        }
        gaps += myGap;
        ends += myEnd;
        pos += size;
    }
    // The material must exercise the detector, or the comparison proves little.
    EXPECT_GE(gaps, 2);
    EXPECT_GE(ends, 1);
}

TEST(ProcessBlockReference, Int16MatchesToTheBit) {
    for (int dc = 0; dc < 2; ++dc) {
        for (int smart = 0; smart < 2; ++smart) CompareWithReference<int16_t>(dc, smart);
    }
}

TEST(ProcessBlockReference, FloatMatchesToTheBit) {
    for (int dc = 0; dc < 2; ++dc) {
        for (int smart = 0; smart < 2; ++smart) CompareWithReference<float>(dc, smart);
    }
}

}  // namespace
