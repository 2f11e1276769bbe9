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
#include <chrono>
#include <new>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "WaveFileWriter.h"
#include "WriterTestSupport.h"

using namespace writer_test;

namespace {

struct Recording {
    short nBits;
    long nBufferSize;
    std::vector<long> pieces;  // sizes of the successive Write calls
    size_t nTotal = 0;
    std::vector<uint8_t> stream;  // the nTotal bytes written
    std::vector<int16_t> samples16;
    std::vector<float> samplesFloat;
};

// What the child reports as it goes, in memory shared with the parent.
struct Progress {
    std::atomic<int> nHeaderDone;
    std::atomic<uint64_t> nAccepted;  // bytes taken by Write calls that have returned
    std::atomic<int> nClosed;
    std::atomic<int> nHeld;  // the child stopped at its position and waits for the kill
};

Recording MakeRecording(std::mt19937& random, short bits, long bufferSize, size_t approxTotal) {
    Recording r{bits, bufferSize, {}, 0, {}, {}, {}};
    std::uniform_int_distribution<long> size(1, 3 * bufferSize);
    while (r.nTotal < approxTotal) {
        // Mostly whole capture blocks, now and then an odd piece to move the buffer phase.
        long piece = random() % 4 == 0 ? size(random) : 65536;
        r.pieces.push_back(piece);
        r.nTotal += static_cast<size_t>(piece);
    }
    r.stream = SampleStream(r.nTotal, bits);
    if (bits == 16) {
        r.samples16 = Expected16(r.stream, r.nTotal);
    } else {
        r.samplesFloat = ExpectedFloat(r.stream, r.nTotal);
    }
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
        at += static_cast<size_t>(piece);
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

// Waits until the child has taken `bytes` bytes, holds, or has closed its file.
void AwaitProgress(const Progress& progress, uint64_t bytes) {
    while (progress.nAccepted.load() < bytes && progress.nHeld.load() == 0 &&
           progress.nClosed.load() == 0) {
        std::this_thread::yield();
    }
}

enum class Outcome { kBeforeHeader, kMidway, kComplete };

// Checks one file left behind; returns what stage the child had reached.
Outcome CheckLeftover(const std::string& path, const Recording& r, const Progress& progress) {
    const size_t header = r.nBits == 16 ? 44 : 46;
    std::vector<uint8_t> file = ReadAll(path);
    if (file.size() < header) {
        // Only a child killed before its header was written may leave this.
        EXPECT_EQ(progress.nHeaderDone.load(), 0) << "file of " << file.size() << " bytes";
        EXPECT_EQ(file.size(), 0u) << "the header goes out in one piece";
        return Outcome::kBeforeHeader;
    }
    const uint32_t riffSize = Le32(file, 4);
    const uint32_t dataSize = Le32(file, header - 4);
    const size_t onDisk = file.size() - header;
    const bool closed = progress.nClosed.load() != 0;

    // The header never claims bytes that are not there.
    EXPECT_LE(dataSize, onDisk);
    EXPECT_GE(riffSize, header - 8 + dataSize);
    EXPECT_LE(riffSize, file.size() - 8);
    // Until the file is closed, sizes move in whole buffers, which end at file offsets that are
    // multiples of the buffer size.
    EXPECT_TRUE((header + dataSize) % r.nBufferSize == 0 || dataSize == 0 || dataSize == r.nTotal)
        << dataSize;
    // At most the one buffer not yet written out is missing.
    EXPECT_GE(dataSize + static_cast<uint64_t>(r.nBufferSize), progress.nAccepted.load());
    // Every byte that reached the disk is the right one, whatever the header says.
    size_t checkable = std::min(onDisk, r.nTotal);
    EXPECT_TRUE(std::equal(r.stream.begin(), r.stream.begin() + static_cast<long>(checkable),
                           file.begin() + static_cast<long>(header)));
    if (closed) {
        EXPECT_EQ(dataSize, r.nTotal);
        EXPECT_EQ(file.size(), header + r.nTotal + (r.nTotal & 1));
        EXPECT_EQ(riffSize, file.size() - 8);
    }

    SndfileView view = ReadWithSndfile(path);
    EXPECT_TRUE(view.bOpened) << view.szError;
    const size_t frameBytes = static_cast<size_t>(r.nBits / 8 * 2);
    EXPECT_EQ(static_cast<size_t>(view.nFrames), dataSize / frameBytes);
    size_t readable = dataSize / frameBytes * 2;  // samples
    if (r.nBits == 16) {
        EXPECT_EQ(view.samples16.size(), readable);
        EXPECT_TRUE(view.samples16.size() <= r.samples16.size() &&
                    std::equal(view.samples16.begin(), view.samples16.end(), r.samples16.begin()));
    } else {
        EXPECT_EQ(view.samplesFloat.size(), readable);
        EXPECT_TRUE(
            view.samplesFloat.size() <= r.samplesFloat.size() &&
            std::equal(view.samplesFloat.begin(), view.samplesFloat.end(), r.samplesFloat.begin()));
    }
    return dataSize == r.nTotal ? Outcome::kComplete : Outcome::kMidway;
}

// ffprobe and sox see the same length and, for sox, the same bytes.
void CheckWithTools(const std::string& path, const Recording& r) {
    std::vector<uint8_t> file = ReadAll(path);
    const size_t header = r.nBits == 16 ? 44 : 46;
    const uint32_t dataSize = Le32(file, header - 4);
    const size_t frameBytes = static_cast<size_t>(r.nBits / 8 * 2);
    const size_t frames = dataSize / frameBytes;
    if (frames == 0) return;  // ffprobe gives no duration for an empty data chunk
    if (ToolInstalled("ffprobe")) {
        ToolResult probe =
            RunTool({"ffprobe", "-v", "error", "-select_streams", "a:0", "-show_entries",
                     "stream=duration_ts,codec_name", "-of", "default=noprint_wrappers=1", path});
        EXPECT_EQ(probe.nStatus, 0);
        std::string codec = r.nBits == 16 ? "pcm_s16le" : "pcm_f32le";
        EXPECT_EQ(probe.szOut,
                  "codec_name=" + codec + "\nduration_ts=" + std::to_string(frames) + "\n");
    }
    if (ToolInstalled("sox")) {
        ToolResult raw = RunTool({"sox", "-V1", path, "-t", "raw", "-"});
        EXPECT_EQ(raw.nStatus, 0);
        EXPECT_TRUE(raw.szOut ==
                    std::string(r.stream.begin(),
                                r.stream.begin() + static_cast<long>(frames * frameBytes)));
    }
}

}  // namespace

TEST(WaveFileCrash, FilesCutOffAtRandomMomentsReadUpToTheirLastBuffer) {
    ScratchDir dir;
    std::mt19937 random(20261206);
    auto* progress = static_cast<Progress*>(::mmap(
        nullptr, sizeof(Progress), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    ASSERT_NE(progress, MAP_FAILED);

    // Recordings of about 400 kB: the recorder's 65,536-byte buffer for 16-bit and float, and an
    // odd buffer size so that odd byte counts reach the disk mid-way.
    const std::vector<Recording> recordings = {
        MakeRecording(random, 16, 65536, 400000),
        MakeRecording(random, 32, 65536, 400000),
        MakeRecording(random, 16, 4099, 400000),
    };
    const int kRounds = 30;  // per recording
    int counts[3] = {};

    for (const Recording& r : recordings) {
        SCOPED_TRACE(std::to_string(r.nBits) + " bits, buffer " + std::to_string(r.nBufferSize));
        std::string path = dir.File("cut.wav");
        bool toolsChecked = false;  // ffprobe takes a third of a second: once per recording

        // One uncut run, then kills at random stream positions: every other child holds at its
        // position (so the cut is exactly mid-way, between writes), the others run on and are
        // killed wherever the signal finds them, inside a write or not.
        new (progress) Progress{};
        pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) RunChild(path, r, progress);
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;
        EXPECT_EQ(CheckLeftover(path, r, *progress), Outcome::kComplete);
        std::uniform_int_distribution<size_t> position(1, r.nTotal - 1);

        for (int round = 0; round < kRounds; ++round) {
            SCOPED_TRACE("round " + std::to_string(round));
            ::unlink(path.c_str());
            new (progress) Progress{};
            const size_t at = position(random);
            const bool hold = round % 2 == 0;
            pid = ::fork();
            ASSERT_GE(pid, 0);
            if (pid == 0) RunChild(path, r, progress, hold ? at : UINT64_MAX);
            AwaitProgress(*progress, at);
            ::kill(pid, SIGKILL);
            ASSERT_EQ(::waitpid(pid, &status, 0), pid);
            ASSERT_TRUE(WIFSIGNALED(status) || (WIFEXITED(status) && WEXITSTATUS(status) == 0))
                << "status " << status;
            if (::access(path.c_str(), F_OK) != 0) {
                EXPECT_EQ(progress->nHeaderDone.load(), 0);
                ++counts[static_cast<int>(Outcome::kBeforeHeader)];
                continue;
            }
            Outcome outcome = CheckLeftover(path, r, *progress);
            ++counts[static_cast<int>(outcome)];
            if (outcome == Outcome::kMidway && !toolsChecked && progress->nAccepted > 0) {
                CheckWithTools(path, r);
                toolsChecked = true;
            }
            if (HasFailure()) break;
        }
    }
    ::munmap(progress, sizeof(Progress));
    RecordProperty("before_header", counts[0]);
    RecordProperty("midway", counts[1]);
    RecordProperty("complete", counts[2]);
    // The point is the files cut off mid-way: every child that held at its position is one.
    EXPECT_GE(counts[static_cast<int>(Outcome::kMidway)], kRounds)
        << "before header " << counts[0] << ", complete " << counts[2];
    if (!ToolInstalled("ffprobe") || !ToolInstalled("sox")) {
        GTEST_SKIP() << "ffprobe or sox missing: cut files were checked with libsndfile only";
    }
}
