// Throughput of the WAV writer against raw sequential write(2) of the same bytes to the same
// folder, both in 65,536-byte blocks (one capture buffer). After 64 MiB each side closes its
// file, deletes it and starts a new one, so that the disk does not fill up; both pay for that
// alike. Deleting rather than truncating keeps ext4 from starting writeback at close, which
// truncated files get and new songs do not.
//
// Folder: $VELLISTO_BENCH_DIR, else the build folder.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "audio/WaveFileWriter.h"

namespace {

constexpr long kBlock = 65536;        // bytes
constexpr int kBlocksPerFile = 1024;  // 64 MiB

std::string BenchFolder() {
    const char* folder = std::getenv("VELLISTO_BENCH_DIR");
    return folder && *folder ? folder : VELLISTO_BENCH_DEFAULT_DIR;
}

std::vector<char> Block() {
    std::vector<char> block(kBlock);
    for (long i = 0; i < kBlock; ++i) block[static_cast<size_t>(i)] = static_cast<char>(i * 31 + 7);
    return block;
}

void BM_WaveFileWriter(benchmark::State& state) {
    std::string path = BenchFolder() + "/writer_bench_song.wav";
    std::vector<char> block = Block();
    CWaveFileWriter writer;
    writer.SetFileName(path.c_str());
    int blocks = kBlocksPerFile;
    for (auto _ : state) {
        if (blocks == kBlocksPerFile) {
            if (writer.IsOpen()) writer.Close();
            ::unlink(path.c_str());
            writer.Create();
            writer.BeginWave(16, 44100, 2, kBlock);
            if (writer.GetErrorFlag()) {
                state.SkipWithError(writer.GetErrorText());
                break;
            }
            blocks = 0;
        }
        if (writer.Write(block.data(), kBlock) != kBlock) {
            state.SkipWithError(writer.GetErrorText());
            break;
        }
        ++blocks;
    }
    if (writer.IsOpen()) writer.Close();
    ::unlink(path.c_str());
    state.SetBytesProcessed(state.iterations() * kBlock);
}

void BM_RawWrite(benchmark::State& state) {
    std::string path = BenchFolder() + "/writer_bench_raw.bin";
    std::vector<char> block = Block();
    int fd = -1;
    int blocks = kBlocksPerFile;
    for (auto _ : state) {
        if (blocks == kBlocksPerFile) {
            if (fd >= 0) ::close(fd);
            ::unlink(path.c_str());
            fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
            if (fd < 0) {
                state.SkipWithError("cannot create the raw file");
                break;
            }
            blocks = 0;
        }
        if (::write(fd, block.data(), kBlock) != kBlock) {
            state.SkipWithError("raw write failed");
            break;
        }
        ++blocks;
    }
    if (fd >= 0) ::close(fd);
    ::unlink(path.c_str());
    state.SetBytesProcessed(state.iterations() * kBlock);
}

// On a shared machine, --benchmark_enable_random_interleaving=true spreads the noise over both.
BENCHMARK(BM_RawWrite)->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_WaveFileWriter)->MinTime(1.0)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
