#include "engine/SignalAnalyzer.h"

#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace {

// 0.9915239: the DC blocker's pole, a -3 dB corner near 60 Hz at 44100 per second.
constexpr uint32_t kDCCoefficientBits = 0x3F7DD483u;

constexpr float kReadoutFloor = CSignalAnalyzer::kReadoutFloor;

// 49.9849 (= 7.07 squared) puts the power readout 16.99 dB below the mean square relative to
// full scale. The 16-bit divisor is the float 49.9849f times 32768 squared, exactly.
constexpr float kPowerDivisorFloat = 49.9849f;
constexpr float kPowerDivisorInt16 = 53670879232.0f;

float FloatFromBits(uint32_t bits) {
    float f;
    std::memcpy(&f, &bits, sizeof f);
    return f;
}

// Blocks come from a byte buffer: load and store through memcpy, which compiles to plain
// moves and does not depend on the buffer's alignment or type.
template <bool kInt16>
inline float LoadSample(const unsigned char* p, long i) {
    if constexpr (kInt16) {
        int16_t s;
        std::memcpy(&s, p + i * 2, sizeof s);
        return static_cast<float>(s);
    } else {
        float s;
        std::memcpy(&s, p + i * 4, sizeof s);
        return s;
    }
}

template <bool kInt16>
inline void StoreSample(unsigned char* p, long i, float y) {
    if constexpr (kInt16) {
        // y is clamped to +-32767 here, so the truncating conversion is always in range.
        const int16_t s = static_cast<int16_t>(y);
        std::memcpy(p + i * 2, &s, sizeof s);
    } else {
        std::memcpy(p + i * 4, &y, sizeof y);
    }
}

// Working state of one channel, kept in locals for the loop so that the two channels' chains
// stay independent and in registers.
struct ChannelState {
    float dcIn, dcOut;
    float peak, power;
    int32_t clips;
    float w0, w1, w2;
    float b0, b1, b2, a0, a1, a2;
};

}  // namespace

// One specialised loop per combination of format, switches, channel count and observer; the
// index is built as in ProcessBlock.
template <size_t... kVariant>
constexpr std::array<CSignalAnalyzer::Loop, sizeof...(kVariant)> CSignalAnalyzer::MakeLoops(
    std::index_sequence<kVariant...>) {
    return {&CSignalAnalyzer::AnalyseSamples<(kVariant & 4) != 0, (kVariant & 2) != 0,
                                             (kVariant & 1) != 0, (kVariant & 8) != 0,
                                             (kVariant & 16) != 0>...};
}

const std::array<CSignalAnalyzer::Loop, 32> CSignalAnalyzer::kLoops =
    CSignalAnalyzer::MakeLoops(std::make_index_sequence<32>());

CSignalAnalyzer::CSignalAnalyzer() : m_fDCCoefficient(FloatFromBits(kDCCoefficientBits)) {
    m_filter[0].Design("LP", 2900, 44100);
    m_filter[1].Design("LP", 2900, m_nSamplesPerSec);
    PrepareRecording();
    m_error.Clear();
}

void CSignalAnalyzer::PrepareRecording() {
    m_error.Clear();
    const float rate = static_cast<float>(m_nSamplesPerSec);
    // rate x seconds rounds to float before it is doubled; exact arithmetic would differ by one
    // sample for some positions (1.00907 s at 44100 gives 89000 here, 88999 exactly).
    m_nGapSamples = TruncToInt32(rate * m_fGapSize * 2.0f);
    m_nMinSongSamples = TruncToInt32(rate * m_fMinSongSize * 2.0f);
    m_nEndGapSamples = TruncToInt32(rate * m_fEndGap * 2.0f);

    const float amplitude = static_cast<float>(std::pow(10.0, double{m_fGapLevel / 20.0f}));
    m_fLinearGapLevel = m_wBitsPerSample == 16 ? amplitude * 32768.0f : amplitude;

    m_nLastLoudIndex = 0;
    m_nLastSplitIndex = 0;
    m_nRunOutSplits = 0;
    m_nRunOutStartIndex = 0;
    m_nSamplesCounted = 0;
    m_bHeardLoud = false;
    for (int ch = 0; ch < 2; ++ch) {
        m_fDCPrevInput[ch] = 0;
        m_fDCPrevOutput[ch] = 0;
        m_fPower[ch] = 0;
    }
}

bool CSignalAnalyzer::IsShortFile(long byteCount) {
    m_error.Clear();
    const float bytesPerSample = m_wBitsPerSample == 16 ? 2.0f : 4.0f;
    const float bytesPerFrame = m_wChannels == 1 ? bytesPerSample : 2 * bytesPerSample;
    const float limit = static_cast<float>(m_nSamplesPerSec) * m_fEndGap * bytesPerFrame;
    return static_cast<double>(byteCount) < std::trunc(static_cast<double>(limit));
}

BlockVerdict CSignalAnalyzer::ProcessBlock(void* data, long byteCount) {
    m_error.Clear();
    for (int ch = 0; ch < 2; ++ch) {
        m_fPeak[ch] = kReadoutFloor;
        m_fPower[ch] = kReadoutFloor;
        m_nClipCount[ch] = 0;
    }
    const bool int16 = m_wBitsPerSample == 16;
    m_fClipLimit = int16 ? 32767.0f : 1.0f;
    // A negative count is treated as an empty block: it must not move the detector.
    const long n = byteCount > 0 && data != nullptr ? byteCount / (int16 ? 2 : 4) : 0;

    const bool mono = m_wChannels == 1;
    // The detector counts interleaved stereo samples: a mono sample stands for a frame of two.
    const long counted = mono ? 2 * n : n;
    BlockVerdict verdict;
    m_pLevels = m_pObserver && n > 0 ? m_pObserver->LevelBuffer(counted) : nullptr;
    if (n > 0) {
        // The format, the channel count and the switches pick one specialised loop here, so
        // that the per-sample work has no branches on them.
        const int variant = (m_pLevels ? 16 : 0) | (mono ? 8 : 0) | (int16 ? 4 : 0) |
                            (m_bDCBlock ? 2 : 0) | (m_bIgnoreClicks ? 1 : 0);
        verdict = (this->*kLoops[variant])(data, n);
    }
    if (m_pObserver) {
        AnalysedBlock block;
        block.nSamples = counted;
        block.nBytes = n > 0 ? byteCount : 0;
        block.bGapFound = verdict.gapFound;
        block.nSplitOffset = verdict.splitOffset;
        block.bEndGapReached = verdict.endGapReached;
        block.pLevels = m_pLevels;
        m_pObserver->OnBlockAnalysed(block);
        m_pLevels = nullptr;
    }

    m_nLastLoudIndex -= counted;
    m_nLastSplitIndex -= counted;
    m_nRunOutStartIndex -= counted;
    m_nSamplesCounted += counted;
    if (mono) {
        // Both bars of the meters show the one channel.
        m_fPeak[1] = m_fPeak[0];
        m_fPower[1] = m_fPower[0];
        m_nClipCount[1] = m_nClipCount[0];
    }

    if (int16) {
        m_fPeak[0] /= 32768.0f;
        m_fPeak[1] /= 32768.0f;
    }
    return verdict;
}

// Runs on the recording thread (via ProcessBlock): no allocation, no I/O.
template <bool kInt16, bool kDCBlock, bool kSmartGap, bool kMono, bool kLevels>
BlockVerdict CSignalAnalyzer::AnalyseSamples(void* data, long n) {
    unsigned char* const bytes = static_cast<unsigned char*>(data);
    float* const levels = m_pLevels;
    const float clipLimit = m_fClipLimit;
    const float r = m_fDCCoefficient;
    const float level = m_fLinearGapLevel;
    // 2 / (2n) for mono is the float 1 / n exactly: the mean square of the one channel.
    const float powerScale = (2.0f / static_cast<float>(kMono ? 2 * n : n)) /
                             (kInt16 ? kPowerDivisorInt16 : kPowerDivisorFloat);
    constexpr long kBytesPerSample = kInt16 ? 2 : 4;

    const int64_t gapSamples = m_nGapSamples;
    const int64_t minSongSamples = m_nMinSongSamples;
    const int64_t endGapSamples = m_nEndGapSamples;
    // A quiet sample needs the slow path only once its distance from the last loud sample
    // reaches the nearer of the two thresholds; music never gets there.
    const int64_t slowPathDistance = gapSamples < endGapSamples ? gapSamples : endGapSamples;
    int64_t lastLoud = m_nLastLoudIndex;
    int64_t lastSplit = m_nLastSplitIndex;
    int runOutSplits = m_nRunOutSplits;
    int64_t runOutStart = m_nRunOutStartIndex;
    bool gap = false;
    bool endGap = false;
    long offset = 0;

    ChannelState c[2];
    for (int ch = 0; ch < 2; ++ch) {
        const CBiquadFilter& f = m_filter[ch];
        c[ch] = ChannelState{m_fDCPrevInput[ch],
                             m_fDCPrevOutput[ch],
                             m_fPeak[ch],
                             m_fPower[ch],
                             m_nClipCount[ch],
                             f.w0,
                             f.w1,
                             f.w2,
                             f.b0,
                             f.b1,
                             f.b2,
                             f.a0,
                             f.a1,
                             f.a2};
    }

    // One sample through a channel's chain (DC block, clamp, meter, Smart Gap), at index i of
    // the block; returns the magnitude the gap test looks at.
    auto chain = [&](ChannelState & s, long i) __attribute__((always_inline)) {
        const float x = LoadSample<kInt16>(bytes, i);
        float y;
        if constexpr (kDCBlock) {
            y = (x - s.dcIn + s.dcOut) * r;
            s.dcOut = y;
            s.dcIn = x;
            s.clips += (y > clipLimit) + (y < -clipLimit);
            y = y > clipLimit ? clipLimit : y;
            y = y < -clipLimit ? -clipLimit : y;
            StoreSample<kInt16>(bytes, i, y);
        } else {
            y = x;
            s.clips += (x >= clipLimit) | (x <= -clipLimit);
        }
        float a = std::fabs(y);
        s.peak = a > s.peak ? a : s.peak;
        s.power += a * a * powerScale;
        if constexpr (kSmartGap) {
            s.w2 = s.w1;
            s.w1 = s.w0;
            s.w0 = (y - s.a1 * s.w1 - s.a2 * s.w2) / s.a0;
            a = std::fabs(s.b0 * s.w0 + s.b1 * s.w1 + s.b2 * s.w2);
        }
        return a;
    };

    // The gap test of magnitude a at interleaved-sample index i; frameOffset is the byte offset
    // in the block of the frame that holds it, where a split would go.
    auto gapTest = [&](float a, int64_t i, long frameOffset) __attribute__((always_inline)) {
        if constexpr (kLevels) levels[i] = a;
        const bool loud = a > level;
        lastLoud = loud ? i : lastLoud;
        if (i - lastLoud >= slowPathDistance) [[unlikely]] {
            if (!loud) {
                const int64_t d = i - lastLoud;
                if (d >= endGapSamples) {
                    endGap = true;
                } else if (d >= gapSamples && i - lastSplit >= minSongSamples) {
                    gap = true;
                    offset = frameOffset;
                    runOutSplits = lastLoud > lastSplit ? 1 : runOutSplits + 1;
                    runOutStart = runOutSplits == 1 ? i : runOutStart;
                    lastSplit = i;
                }
            }
        }
    };

    if constexpr (kMono) {
        // One chain over every sample; the detector sees each as the two equal samples of a
        // stereo frame, so mono audio splits where its stereo copy would.
        for (long j = 0; j < n; ++j) {
            const float a = chain(c[0], j);
            const long frameOffset = j * kBytesPerSample;
            gapTest(a, 2 * int64_t{j}, frameOffset);
            gapTest(a, 2 * int64_t{j} + 1, frameOffset);
        }
    } else {
        const long frames = n / 2;
#if defined(__SSE2__)
        // The two channels' chains side by side in the low lanes of one register: the same
        // operations in the same order on each lane as the scalar chain, so every result is the
        // same bit for bit, while the recurrences (the DC blocker's and the low-pass filter's)
        // cost their latency once a frame instead of once a sample. The upper lanes are never
        // read; they hold zeros (and ones for the divisor), which stay exact zeros: anything
        // else would decay into denormals, at a heavy cost per sample.
        auto pair = [](float left, float right) { return _mm_setr_ps(left, right, 0, 0); };
        auto lane = [](__m128 v, int k) {
            return k == 0 ? _mm_cvtss_f32(v) : _mm_cvtss_f32(_mm_shuffle_ps(v, v, 1));
        };
        const __m128 vr = _mm_set1_ps(r);
        const __m128 limit = _mm_set1_ps(clipLimit);
        const __m128 negLimit = _mm_set1_ps(-clipLimit);
        const __m128 scale = _mm_set1_ps(powerScale);
        const __m128 absMask = _mm_castsi128_ps(_mm_set1_epi32(0x7FFFFFFF));
        const __m128 b0 = pair(c[0].b0, c[1].b0), b1 = pair(c[0].b1, c[1].b1),
                     b2 = pair(c[0].b2, c[1].b2), a0 = _mm_setr_ps(c[0].a0, c[1].a0, 1, 1),
                     a1 = pair(c[0].a1, c[1].a1), a2 = pair(c[0].a2, c[1].a2);
        __m128 dcIn = pair(c[0].dcIn, c[1].dcIn), dcOut = pair(c[0].dcOut, c[1].dcOut);
        __m128 peak = pair(c[0].peak, c[1].peak), power = pair(c[0].power, c[1].power);
        __m128 w0 = pair(c[0].w0, c[1].w0), w1 = pair(c[0].w1, c[1].w1),
               w2 = pair(c[0].w2, c[1].w2);
        __m128i clips = _mm_setr_epi32(c[0].clips, c[1].clips, 0, 0);
        for (long j = 0; j < frames; ++j) {
            const long frameOffset = j * 2 * kBytesPerSample;
            unsigned char* const frame = bytes + frameOffset;
            __m128 x;
            if constexpr (kInt16) {
                int32_t both;
                std::memcpy(&both, frame, sizeof both);
                const __m128i v = _mm_cvtsi32_si128(both);
                x = _mm_cvtepi32_ps(_mm_srai_epi32(_mm_unpacklo_epi16(v, v), 16));
            } else {
                x = _mm_castsi128_ps(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame)));
            }
            __m128 y;
            if constexpr (kDCBlock) {
                y = _mm_mul_ps(_mm_add_ps(_mm_sub_ps(x, dcIn), dcOut), vr);
                dcOut = y;
                dcIn = x;
                // A true comparison is all ones: -1 added to the count.
                clips = _mm_sub_epi32(clips, _mm_castps_si128(_mm_cmpgt_ps(y, limit)));
                clips = _mm_sub_epi32(clips, _mm_castps_si128(_mm_cmplt_ps(y, negLimit)));
                // min(limit, y) is "y > limit ? limit : y", NaN included; max likewise.
                y = _mm_max_ps(negLimit, _mm_min_ps(limit, y));
                if constexpr (kInt16) {
                    const __m128i s = _mm_cvttps_epi32(y);
                    const int32_t both = _mm_cvtsi128_si32(_mm_packs_epi32(s, s));
                    std::memcpy(frame, &both, sizeof both);
                } else {
                    _mm_storel_epi64(reinterpret_cast<__m128i*>(frame), _mm_castps_si128(y));
                }
            } else {
                y = x;
                clips = _mm_sub_epi32(
                    clips,
                    _mm_castps_si128(_mm_or_ps(_mm_cmpge_ps(x, limit), _mm_cmple_ps(x, negLimit))));
            }
            __m128 a = _mm_and_ps(y, absMask);
            peak = _mm_max_ps(a, peak);
            power = _mm_add_ps(power, _mm_mul_ps(_mm_mul_ps(a, a), scale));
            if constexpr (kSmartGap) {
                w2 = w1;
                w1 = w0;
                w0 = _mm_div_ps(_mm_sub_ps(_mm_sub_ps(y, _mm_mul_ps(a1, w1)), _mm_mul_ps(a2, w2)),
                                a0);
                a = _mm_and_ps(_mm_add_ps(_mm_add_ps(_mm_mul_ps(b0, w0), _mm_mul_ps(b1, w1)),
                                          _mm_mul_ps(b2, w2)),
                               absMask);
            }
            gapTest(lane(a, 0), 2 * j, frameOffset);
            gapTest(lane(a, 1), 2 * j + 1, frameOffset);
        }
        int32_t clipCounts[4];
        _mm_storeu_si128(reinterpret_cast<__m128i*>(clipCounts), clips);
        for (int ch = 0; ch < 2; ++ch) {
            c[ch].dcIn = lane(dcIn, ch);
            c[ch].dcOut = lane(dcOut, ch);
            c[ch].peak = lane(peak, ch);
            c[ch].power = lane(power, ch);
            c[ch].clips = clipCounts[ch];
            c[ch].w0 = lane(w0, ch);
            c[ch].w1 = lane(w1, ch);
            c[ch].w2 = lane(w2, ch);
        }
#else
        for (long j = 0; j < frames; ++j) {
            const long frameOffset = j * 2 * kBytesPerSample;
            gapTest(chain(c[0], 2 * j), 2 * j, frameOffset);
            gapTest(chain(c[1], 2 * j + 1), 2 * j + 1, frameOffset);
        }
#endif
        if (n % 2 != 0) gapTest(chain(c[0], n - 1), n - 1, (n - 1) / 2 * 2 * kBytesPerSample);
    }

    for (int ch = 0; ch < 2; ++ch) {
        CBiquadFilter& f = m_filter[ch];
        m_fDCPrevInput[ch] = c[ch].dcIn;
        m_fDCPrevOutput[ch] = c[ch].dcOut;
        m_fPeak[ch] = c[ch].peak;
        m_fPower[ch] = c[ch].power;
        m_nClipCount[ch] = c[ch].clips;
        f.w0 = c[ch].w0;
        f.w1 = c[ch].w1;
        f.w2 = c[ch].w2;
    }
    m_bHeardLoud = m_bHeardLoud || lastLoud != m_nLastLoudIndex;
    m_nLastLoudIndex = lastLoud;
    m_nLastSplitIndex = lastSplit;
    m_nRunOutSplits = runOutSplits;
    m_nRunOutStartIndex = runOutStart;
    return {gap, offset, endGap};
}
