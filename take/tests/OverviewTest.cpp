// The side's peak envelope against a direct computation on generated samples, in every format it
// draws and at lengths that are a multiple of nothing; cancelling, failing reads and progress.
#include <gmock/gmock.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <limits>
#include <mutex>
#include <vector>

#include "take/Overview.h"

namespace {

struct Side {
    WAVEFORMATEX format;
    uint64_t frames;
    std::vector<unsigned char> bytes;

    // Noise of a different loudness in every stretch of 1,000 frames, and in float a NaN now and
    // then (left out of every peak).
    Side(short bits, unsigned long rate, short channels, uint64_t n)
        : format(MakeWaveFormat(bits, rate, channels)), frames(n), bytes(n * format.nBlockAlign) {
        uint32_t state = 12345;
        for (uint64_t i = 0; i < n * channels; ++i) {
            state = state * 1664525u + 1013904223u;
            const int loud = 1 + static_cast<int>((i / channels / 1000) % 7) * 4000;
            const int v = static_cast<int>(state >> 16) % (2 * loud + 1) - loud;
            if (bits == 16) {
                const int16_t s = static_cast<int16_t>(std::clamp(v, -32768, 32767));
                std::memcpy(&bytes[i * 2], &s, 2);
            } else {
                float f = static_cast<float>(v) / 31000.0f;
                if (i % 997 == 5) f = std::numeric_limits<float>::quiet_NaN();
                std::memcpy(&bytes[i * 4], &f, 4);
            }
        }
    }
    float Sample(uint64_t frame, int channel) const {
        const size_t at = static_cast<size_t>(frame * format.nChannels + channel);
        if (format.wBitsPerSample == 16) {
            int16_t s;
            std::memcpy(&s, &bytes[at * 2], 2);
            return s / 32768.0f;
        }
        float f;
        std::memcpy(&f, &bytes[at * 4], 4);
        return f;
    }
    // The peaks of frames [a, b) of one channel, or of all when channel < 0.
    PeakPair Direct(uint64_t a, uint64_t b, int channel) const {
        float lo = INFINITY, hi = -INFINITY;
        for (uint64_t f = a; f < std::min(b, frames); ++f) {
            for (int ch = 0; ch < format.nChannels; ++ch) {
                if (channel >= 0 && ch != channel) continue;
                const float v = Sample(f, ch);
                if (std::isnan(v)) continue;
                lo = std::min(lo, v);
                hi = std::max(hi, v);
            }
        }
        return lo <= hi ? PeakPair{lo, hi} : PeakPair{};
    }
    FrameReader Reader(int* calls = nullptr) const {
        return [this, calls](uint64_t first, size_t count, void* dst) {
            if (calls) ++*calls;
            if (first >= frames) return size_t{0};
            const size_t n = static_cast<size_t>(std::min<uint64_t>(count, frames - first));
            std::memcpy(dst, &bytes[first * format.nBlockAlign], n * format.nBlockAlign);
            return n;
        };
    }
};

MATCHER_P(SamePeaks, expected, "") {
    return arg.fMin == expected.fMin && arg.fMax == expected.fMax;
}

std::shared_ptr<const COverview> Compute(const Side& side, int threads) {
    OverviewOptions options;
    options.nThreads = threads;
    auto task = ComputeOverview(side.Reader(), side.format, side.frames, options);
    EXPECT_EQ(task->Wait(), OverviewOutcome::Done) << task->Failure();
    return task->Result();
}

TEST(Overview, MatchesADirectComputationInEveryFormat) {
    struct Case {
        short bits;
        unsigned long rate;
        short channels;
        uint64_t frames;
        int threads;
    };
    for (const Case& c :
         {Case{16, 44100, 2, 123457, 2}, Case{16, 11025, 1, 54321, 1}, Case{32, 48000, 2, 99991, 2},
          Case{32, 22050, 1, 2203, 2}, Case{16, 44100, 2, 440, 2}}) {
        SCOPED_TRACE(testing::Message() << c.bits << " bits, " << c.rate << ", " << c.channels
                                        << " ch, " << c.frames << " frames");
        const Side side(c.bits, c.rate, c.channels, c.frames);
        const auto overview = Compute(side, c.threads);
        ASSERT_TRUE(overview);
        const uint32_t perBin = overview->FramesPerBin();
        EXPECT_EQ(perBin, c.rate / 100);
        ASSERT_EQ(overview->BinCount(), (c.frames + perBin - 1) / perBin);
        for (size_t bin = 0; bin < overview->BinCount(); ++bin) {
            for (int ch = 0; ch < c.channels; ++ch) {
                ASSERT_THAT(overview->Bin(bin, ch),
                            SamePeaks(side.Direct(bin * perBin, (bin + 1) * perBin, ch)))
                    << "bin " << bin << " channel " << ch;
            }
        }

        // Wide columns: the union of the bins each one touches, per channel and mixed.
        std::vector<PeakPair> columns;
        for (const uint64_t first : {uint64_t{0}, uint64_t{perBin + 3}}) {
            const uint64_t last = c.frames + 1000;  // runs past the end
            for (const int width : {1, 7, 100}) {
                for (const bool mixed : {false, true}) {
                    overview->GetColumns(first, last, width, &columns, mixed);
                    const int stride = mixed ? 1 : c.channels;
                    ASSERT_EQ(columns.size(), size_t(width) * stride);
                    for (int col = 0; col < width; ++col) {
                        const uint64_t a = first + (last - first) * col / width;
                        const uint64_t b = first + (last - first) * (col + 1) / width;
                        for (int ch = 0; ch < stride; ++ch) {
                            const PeakPair want =
                                a >= c.frames
                                    ? PeakPair{}
                                    : side.Direct(a / perBin * perBin,
                                                  ((b - 1) / perBin + 1) * perBin, mixed ? -1 : ch);
                            ASSERT_THAT(columns[col * stride + ch], SamePeaks(want))
                                << "width " << width << " column " << col << " channel " << ch;
                        }
                    }
                }
            }
        }

        // Zoomed past a bin per column: the samples themselves, down to one frame a column.
        const FrameReader reader = side.Reader();
        for (const uint64_t span : {uint64_t{perBin * 3 + 7}, uint64_t{13}}) {
            // The last column runs past the end.
            const uint64_t first = c.frames > span ? c.frames - span + 2 : 0;
            const int width = 40;
            overview->GetColumns(first, first + span, width, &columns, false, &reader);
            for (int col = 0; col < width; ++col) {
                const uint64_t a = first + span * col / width;
                const uint64_t b = std::max(first + span * (col + 1) / width, a + 1);
                for (int ch = 0; ch < c.channels; ++ch) {
                    ASSERT_THAT(columns[col * c.channels + ch], SamePeaks(side.Direct(a, b, ch)))
                        << "span " << span << " column " << col;
                }
            }
        }
    }
}

TEST(Overview, CancelStopsReadingAndGivesNoResult) {
    const Side side(16, 44100, 2, 2000000);
    COverviewTask* self = nullptr;
    std::mutex lock;  // the task pointer is set while the worker may already read
    int calls = 0;
    const FrameReader inner = side.Reader(&calls);
    OverviewOptions options;
    options.nThreads = 1;
    lock.lock();
    auto task = ComputeOverview(
        [&](uint64_t first, size_t count, void* dst) {
            std::lock_guard<std::mutex> guard(lock);
            self->Cancel();
            return inner(first, count, dst);
        },
        side.format, side.frames, options);
    self = task.get();
    lock.unlock();
    EXPECT_EQ(task->Wait(), OverviewOutcome::Cancelled);
    EXPECT_EQ(calls, 1);
    EXPECT_EQ(task->Result(), nullptr);
}

TEST(Overview, AShortReadOrAnUnknownFormatFails) {
    const Side side(16, 44100, 2, 300000);
    for (const int threads : {1, 2}) {
        OverviewOptions options;
        options.nThreads = threads;
        auto task = ComputeOverview(side.Reader(), side.format, side.frames + 1, options);
        EXPECT_EQ(task->Wait(), OverviewOutcome::Failed);
        EXPECT_THAT(task->Failure(), testing::HasSubstr("could not be read"));
        EXPECT_EQ(task->Result(), nullptr);
    }
    auto task = ComputeOverview(side.Reader(), MakeWaveFormat(24, 44100, 2), 1000);
    EXPECT_EQ(task->Wait(), OverviewOutcome::Failed);
    EXPECT_THAT(task->Failure(), testing::HasSubstr("16-bit"));
}

TEST(Overview, ProgressRisesToTheEndBeforeItIsDone) {
    const Side side(16, 44100, 2, 1000003);
    std::mutex lock;
    std::vector<uint64_t> reports;
    std::vector<OverviewOutcome> dones;
    OverviewOptions options;
    options.onProgress = [&](uint64_t done, uint64_t total) {
        std::lock_guard<std::mutex> guard(lock);
        EXPECT_EQ(total, side.frames);
        EXPECT_TRUE(dones.empty());
        reports.push_back(done);
    };
    options.onDone = [&](OverviewOutcome outcome) {
        std::lock_guard<std::mutex> guard(lock);
        dones.push_back(outcome);
    };
    auto task = ComputeOverview(side.Reader(), side.format, side.frames, options);
    ASSERT_EQ(task->Wait(), OverviewOutcome::Done);
    EXPECT_THAT(dones, testing::ElementsAre(OverviewOutcome::Done));
    ASSERT_GE(reports.size(), 2u);
    EXPECT_TRUE(std::is_sorted(reports.begin(), reports.end()));
    EXPECT_EQ(reports.back(), side.frames);
    EXPECT_EQ(task->FramesDone(), side.frames);
}

}  // namespace
