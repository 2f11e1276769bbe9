// ProcessBlock throughput on whole capture buffers (65,536 bytes), reported as multiples of
// real time at 44,100 and 48,000 frames per second. Each iteration copies a fresh block in
// first (the recording thread copies every buffer out as well): processing in place over and
// over would wear the material down to silence through the DC blocker.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <vector>

#include "engine/SignalAnalyzer.h"

namespace {

constexpr long kBlockBytes = 65536;
constexpr int kSourceBlocks = 8;

// Music-like material: two tones plus noise, with a quiet passage so that the gap test's
// quiet path runs too.
template <typename T>
std::vector<T> MakeMaterial() {
    const long samples = kBlockBytes / long(sizeof(T)) * kSourceBlocks;
    std::vector<T> s(samples);
    uint32_t seed = 1;
    for (long i = 0; i < samples; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = double(i / 2) / 44100.0;
        double v = 0.3 * std::sin(2 * M_PI * 220 * t) + 0.2 * std::sin(2 * M_PI * 1870 * t) +
                   0.2 * double(int32_t(seed)) / 2147483648.0;
        if (i > samples * 3 / 4) v *= 0.01;
        if constexpr (sizeof(T) == 2) {
            s[i] = T(std::lrint(v * 32767.0));
        } else {
            s[i] = T(v);
        }
    }
    return s;
}

template <typename T>
void BM_ProcessBlock(benchmark::State& state) {
    const bool smartGap = state.range(0) != 0;
    CSignalAnalyzer analyser;
    analyser.SetBitsPerSample(sizeof(T) == 2 ? 16 : 32);
    analyser.SetIgnoreClicks(smartGap ? 1 : 0);
    analyser.PrepareRecording();

    const std::vector<T> material = MakeMaterial<T>();
    const long samplesPerBlock = kBlockBytes / long(sizeof(T));
    std::vector<T> block(samplesPerBlock);
    int k = 0;
    for (auto _ : state) {
        std::memcpy(block.data(), material.data() + long(k) * samplesPerBlock, kBlockBytes);
        k = (k + 1) % kSourceBlocks;
        BlockVerdict verdict = analyser.ProcessBlock(block.data(), kBlockBytes);
        benchmark::DoNotOptimize(block.data());
        benchmark::DoNotOptimize(verdict);
        benchmark::ClobberMemory();
    }
    // Seconds of stereo audio per second of processing: the multiple of real time.
    const double frames = double(state.iterations()) * double(samplesPerBlock / 2);
    state.counters["x_realtime_44100"] =
        benchmark::Counter(frames / 44100.0, benchmark::Counter::kIsRate);
    state.counters["x_realtime_48000"] =
        benchmark::Counter(frames / 48000.0, benchmark::Counter::kIsRate);
    state.counters["ns_per_sample"] =
        benchmark::Counter(double(state.iterations()) * double(samplesPerBlock),
                           benchmark::Counter::kIsRate | benchmark::Counter::kInvert,
                           benchmark::Counter::OneK::kIs1000);
    state.SetBytesProcessed(int64_t(state.iterations()) * kBlockBytes);
}

BENCHMARK(BM_ProcessBlock<int16_t>)->ArgName("smart_gap")->Arg(1)->Arg(0);
BENCHMARK(BM_ProcessBlock<float>)->ArgName("smart_gap")->Arg(1)->Arg(0);

}  // namespace

BENCHMARK_MAIN();
