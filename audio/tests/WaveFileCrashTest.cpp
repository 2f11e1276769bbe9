// A child process records a known sample stream and is killed (SIGKILL) at random stream
// positions. Whatever file it leaves must open in the readers and hold exactly the stream's
// bytes up to its last written buffer.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <new>
#include <random>
#include <thread>

#include "audio/WaveFileWriter.h"
#include "tests/support/TestFiles.h"

using namespace testsupport;

namespace {

struct Recording {
    short nBits;
    long nBufferSize;
    std::vector<long> pieces;  // sizes of the successive Write calls
    Bytes stream;              // the bytes they write
};

// What the child reports as it goes, in memory shared with the parent.
struct Progress {
    std::atomic<int> nHeaderDone;
    std::atomic<uint64_t> nAccepted;  // bytes taken by Write calls that have returned
    std::atomic<int> nClosed;
    std::atomic<int> nHeld;  // the child stopped at its position and waits for the kill
};

Recording MakeRecording(std::mt19937& random, short bits, long bufferSize, size_t approxTotal) {
    Recording r{bits, bufferSize, {}, {}};
    std::uniform_int_distribution<long> size(1, 3 * bufferSize);
    size_t total = 0;
    while (total < approxTotal) {
        // Mostly whole capture blocks, now and then an odd piece to move the buffer phase.
        r.pieces.push_back(random() % 4 == 0 ? size(random) : 65536);
        total += size_t(r.pieces.back());
    }
    r.stream = MakeSamples({bits, 44100, 2}, {{long(total) / (bits / 4) + 1, true}});
    r.stream.resize(total);
    return r;
}

// The child writes the whole recording, or with holdAt stops once it has taken that many
// bytes and waits to be killed there.
[[noreturn]] void RunChild(const std::string& path, const Recording& r, Progress* progress,
                           uint64_t holdAt = UINT64_MAX) {
    CWaveFileWriter writer;
    writer.SetFileName(path.c_str());
    writer.Create();
    writer.BeginWave(r.nBits, 44100, 2, r.nBufferSize);
    if (writer.GetErrorFlag()) _exit(2);
    progress->nHeaderDone = 1;
    size_t at = 0;
    for (long piece : r.pieces) {
        if (writer.Write(r.stream.data() + at, piece) != piece) _exit(3);
        at += size_t(piece);
        progress->nAccepted = at;
        if (at >= holdAt) {
            progress->nHeld = 1;
            for (;;) ::pause();
        }
        // A recorder waits for the next capture buffer between writes; the pause also gives
        // the parent's kill a chance to land while the recording is still going.
        ::usleep(300);
    }
    writer.Close();
    if (writer.GetErrorFlag()) _exit(4);
    progress->nClosed = 1;
    _exit(0);
}

enum Outcome { kBeforeHeader, kMidway, kComplete };

// Checks one file left behind; returns what stage the child had reached.
Outcome CheckLeftover(const std::string& path, const Recording& r, const Progress& progress) {
    const WavFile wav = ReadWav(path);
    if (wav.nDataOffset == 0) {
        // Only a child killed before its header was written may leave this, and the header
        // goes out in one piece.
        EXPECT_EQ(progress.nHeaderDone.load(), 0);
        EXPECT_EQ(wav.bytes.size(), 0u);
        return kBeforeHeader;
    }
    const size_t total = r.stream.size(), onDisk = wav.bytes.size() - wav.nDataOffset;
    const uint32_t data = wav.nDataBytes;
    // The header never claims bytes that are not there.
    EXPECT_LE(data, onDisk);
    EXPECT_GE(wav.nRiffSize, wav.nDataOffset - 8 + data);
    EXPECT_LE(wav.nRiffSize, wav.bytes.size() - 8);
    // Until the file is closed, sizes move in whole buffers, which end at file offsets that are
    // multiples of the buffer size.
    EXPECT_TRUE((wav.nDataOffset + data) % r.nBufferSize == 0 || data == 0 || data == total)
        << data;
    // At most the one buffer not yet written out is missing.
    EXPECT_GE(data + uint64_t(r.nBufferSize), progress.nAccepted.load());
    // Every byte that reached the disk is the right one, whatever the header says.
    const size_t checkable = std::min(onDisk, total);
    EXPECT_TRUE(std::equal(r.stream.begin(), r.stream.begin() + long(checkable),
                           wav.bytes.begin() + long(wav.nDataOffset)));
    EXPECT_TRUE(!progress.nClosed.load() || wav.szProblem.empty()) << wav.szProblem;

    const SndfileView view = ReadWithSndfile(path);
    EXPECT_EQ(view.szError, "");
    const size_t frameBytes = size_t(r.nBits / 4);
    EXPECT_EQ(size_t(view.nFrames), data / frameBytes);
    EXPECT_TRUE(view.samples.size() == data / frameBytes * frameBytes &&
                std::equal(view.samples.begin(), view.samples.end(), r.stream.begin()));
    return data == total ? kComplete : kMidway;
}

// ffprobe and sox see the same length and, for sox, the same bytes.
void CheckWithTools(const std::string& path, const Recording& r) {
    const size_t frameBytes = size_t(r.nBits / 4);
    const size_t frames = ReadWav(path).nDataBytes / frameBytes;
    if (frames == 0) return;  // ffprobe gives no duration for an empty data chunk
    if (ToolInstalled("ffprobe")) {
        const ToolResult probe = RunTool(
            "ffprobe -v error -select_streams a:0 -show_entries stream=duration_ts,codec_name "
            "-of default=noprint_wrappers=1 '" +
            path + "'");
        EXPECT_EQ(probe.szOut, std::string("codec_name=") +
                                   (r.nBits == 16 ? "pcm_s16le" : "pcm_f32le") +
                                   "\nduration_ts=" + std::to_string(frames) + "\n");
    }
    if (ToolInstalled("sox")) {
        const ToolResult raw = RunTool("sox -V1 '" + path + "' -t raw -");
        EXPECT_TRUE(raw.szOut ==
                    std::string(r.stream.begin(), r.stream.begin() + long(frames * frameBytes)));
    }
}

}  // namespace

TEST(WaveFileCrash, FilesCutOffAtRandomMomentsReadUpToTheirLastBuffer) {
    CTempDir dir;
    std::mt19937 random(20261206);
    auto* progress = static_cast<Progress*>(::mmap(
        nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(progress, MAP_FAILED);

    // Recordings of about 400 kB: the recorder's 65,536-byte buffer for 16-bit and float, and an
    // odd buffer size so that odd byte counts reach the disk mid-way.
    const Recording recordings[] = {MakeRecording(random, 16, 65536, 400000),
                                    MakeRecording(random, 32, 65536, 400000),
                                    MakeRecording(random, 16, 4099, 400000)};
    const int kRounds = 30;  // per recording
    int counts[3] = {};

    for (const Recording& r : recordings) {
        SCOPED_TRACE(std::to_string(r.nBits) + " bits, buffer " + std::to_string(r.nBufferSize));
        const std::string path = (dir / "cut.wav").string();
        bool toolsChecked = false;  // ffprobe takes a third of a second: once per recording

        // One uncut run, then kills at random stream positions: every other child holds at its
        // position (so the cut is exactly mid-way, between writes), the others run on and are
        // killed wherever the signal finds them, inside a write or not.
        std::uniform_int_distribution<size_t> position(1, r.stream.size() - 1);
        for (int round = -1; round < kRounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            ::unlink(path.c_str());
            new (progress) Progress{};
            const size_t at = round < 0 ? 0 : position(random);
            const pid_t pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) RunChild(path, r, progress, round % 2 == 0 ? at : UINT64_MAX);
            int status = 0;
            if (round >= 0) {
                // Until the child has taken `at` bytes, holds, or has closed its file.
                while (progress->nAccepted < at && !progress->nHeld && !progress->nClosed) {
                    std::this_thread::yield();
                }
                ::kill(pid, SIGKILL);
            }
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
                << "status " << status;
            const Outcome outcome = CheckLeftover(path, r, *progress);
            ++counts[outcome];
            EXPECT_TRUE(round >= 0 || outcome == kComplete) << "the uncut run";
            if (outcome == kMidway && !toolsChecked && progress->nAccepted > 0) {
                CheckWithTools(path, r);
                toolsChecked = true;
            }
            if (HasFailure()) break;
        }
    }
    ::munmap(progress, sizeof(Progress));
    // The point is the files cut off mid-way: every child that held at its position is one.
    EXPECT_GE(counts[kMidway], kRounds)
        << "before header " << counts[kBeforeHeader] << ", complete " << counts[kComplete];
    if (!ToolInstalled("ffprobe") || !ToolInstalled("sox")) {
        GTEST_SKIP() << "ffprobe or sox missing: cut files were checked with libsndfile only";
    }
}
