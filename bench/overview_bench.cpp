// The time to compute a side's overview, and to draw it: reads a WAV file's samples with pread
// (as the take reader does) through ComputeOverview, then draws the whole side at 1,000 columns.
// Prints one line of figures; bench/overview_bench.sh runs it on a generated 60-minute side and
// measures its peak memory.
//
//   overview_bench FILE.wav [--threads N] [--cold] [--runs N]
//
// --cold asks the kernel to drop this file's pages from its cache before every run, so that
// the read comes from the disk (only this file's pages; the rest of the machine keeps its cache).
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "take/Overview.h"

namespace {

struct WavData {
    WAVEFORMATEX format{};
    uint64_t offset = 0;  // of the first sample
    uint64_t frames = 0;
};

uint32_t Le32(const unsigned char* p) {
    return p[0] | p[1] << 8 | p[2] << 16 | uint32_t(p[3]) << 24;
}

// The "fmt " and "data" chunks of a RIFF WAVE file; false when they are not found.
bool ParseWav(int fd, WavData* wav) {
    unsigned char header[12];
    if (pread(fd, header, 12, 0) != 12 || std::memcmp(header, "RIFF", 4) != 0 ||
        std::memcmp(header + 8, "WAVE", 4) != 0) {
        return false;
    }
    bool haveFormat = false;
    for (uint64_t at = 12;;) {
        unsigned char chunk[8];
        if (pread(fd, chunk, 8, static_cast<off_t>(at)) != 8) return false;
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[16];
            if (size < 16 || pread(fd, fmt, 16, static_cast<off_t>(at + 8)) != 16) return false;
            std::memcpy(&wav->format, fmt, 16);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat || wav->format.nBlockAlign == 0) return false;
            wav->offset = at + 8;
            uint64_t bytes = size;
            const off_t end = lseek(fd, 0, SEEK_END);
            // sox writes a full-size header; a side over 4 GiB would not fit one anyway.
            if (end > 0) bytes = std::min<uint64_t>(bytes, uint64_t(end) - wav->offset);
            wav->frames = bytes / wav->format.nBlockAlign;
            return true;
        }
        at += 8 + size + (size & 1);
    }
}

double Seconds(std::chrono::steady_clock::duration d) {
    return std::chrono::duration<double>(d).count();
}

}  // namespace

int main(int argc, char** argv) {
    const char* path = nullptr;
    int threads = 0, runs = 1;
    bool cold = false;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--threads" && i + 1 < argc) {
            threads = std::atoi(argv[++i]);
        } else if (arg == "--runs" && i + 1 < argc) {
            runs = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--cold") {
            cold = true;
        } else {
            path = argv[i];
        }
    }
    if (!path) {
        std::fprintf(stderr, "usage: overview_bench FILE.wav [--threads N] [--cold] [--runs N]\n");
        return 2;
    }
    const int fd = open(path, O_RDONLY | O_CLOEXEC);
    WavData wav;
    if (fd < 0 || !ParseWav(fd, &wav)) {
        std::fprintf(stderr, "overview_bench: %s is not a WAV file it can read\n", path);
        return 1;
    }
    const FrameReader reader = [&](uint64_t first, size_t count, void* dst) -> size_t {
        const size_t frameBytes = wav.format.nBlockAlign;
        count = static_cast<size_t>(
            std::min<uint64_t>(count, wav.frames - std::min(first, wav.frames)));
        size_t done = 0;
        auto* out = static_cast<char*>(dst);
        while (done < count * frameBytes) {
            const ssize_t n = pread(fd, out + done, count * frameBytes - done,
                                    static_cast<off_t>(wav.offset + first * frameBytes + done));
            if (n <= 0) break;
            done += static_cast<size_t>(n);
        }
        return done / frameBytes;
    };

    std::vector<double> computes, draws;
    for (int run = 0; run < runs; ++run) {
        if (cold) {
            fdatasync(fd);
            posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        }
        OverviewOptions options;
        options.nThreads = threads;
        const auto start = std::chrono::steady_clock::now();
        auto task = ComputeOverview(reader, wav.format, wav.frames, options);
        if (task->Wait() != OverviewOutcome::Done) {
            std::fprintf(stderr, "overview_bench: %s\n", task->Failure().c_str());
            return 1;
        }
        computes.push_back(Seconds(std::chrono::steady_clock::now() - start));
        const auto overview = task->Result();
        std::vector<PeakPair> columns;
        const auto drawStart = std::chrono::steady_clock::now();
        overview->GetColumns(0, overview->TotalFrames(), 1000, &columns);
        draws.push_back(Seconds(std::chrono::steady_clock::now() - drawStart));
    }
    std::sort(computes.begin(), computes.end());
    std::sort(draws.begin(), draws.end());
    // seconds of audio, compute seconds (median, best), draw milliseconds (median)
    std::printf("%.1f %.3f %.3f %.3f\n", double(wav.frames) / wav.format.nSamplesPerSec,
                computes[computes.size() / 2], computes.front(), draws[draws.size() / 2] * 1000);
    close(fd);
    return 0;
}
