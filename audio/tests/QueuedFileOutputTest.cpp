// Song files written through the writer thread's ring: the same bytes as a direct write however
// the ring cuts them, and a failed write told to the file's next call with its error number.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cerrno>

#include "audio/QueuedFileOutput.h"
#include "audio/WaveFileWriter.h"
#include "tests/support/TestFiles.h"

using namespace testsupport;

namespace {

// Two songs in one writer, written in pieces of awkward sizes that cross the writer's buffer
// and, through a small ring, the ring's end.
void WriteTwoSongs(CWaveFileWriter& writer, const CTempDir& dir, const std::string& prefix,
                   const Bytes& stream) {
    const long pieces[] = {1, 4095, 4096, 9000, 3, 65536, 70000, 2, 20001};
    for (int song = 1; song <= 2; ++song) {
        writer.SetFileName((dir / (prefix + std::to_string(song) + ".wav")).c_str());
        writer.Create();
        writer.BeginWave(16, 44100, 2, 4096);
        ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
        size_t at = 0;
        for (long piece : pieces) {
            ASSERT_EQ(writer.Write(stream.data() + at, piece), piece) << writer.GetErrorText();
            at += size_t(piece);
        }
        writer.Close();
        ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    }
}

}  // namespace

TEST(QueuedFileOutput, WritesTheSameBytesAsTheWriterDoesDirectly) {
    CTempDir dir;
    const Bytes stream = MakeSamples({16, 44100, 2}, {{60000, true}});
    CWaveFileWriter direct;
    WriteTwoSongs(direct, dir, "direct", stream);
    // Ring and queue sizes from 16 bytes and two writes (every write waits for the last) to
    // room for everything; the writer woken per byte or only when the ring is full.
    const struct {
        size_t ringBytes, maxWrites, wakeBytes;
    } cases[] = {{16, 2, 1}, {1000, 3, 1}, {4097, 4, 4097}, {65536, 64, 16384}, {1 << 20, 256, 1}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.ringBytes) + " bytes, " + std::to_string(c.maxWrites) +
                     " writes, woken at " + std::to_string(c.wakeBytes));
        CQueuedFileOutput output(c.ringBytes, c.maxWrites, c.wakeBytes);
        CWaveFileWriter queued;
        queued.SetOutput(&output);
        WriteTwoSongs(queued, dir, "queued", stream);
        for (const char* song : {"1.wav", "2.wav"}) {
            EXPECT_TRUE(ReadFile(dir / (std::string("queued") + song)) ==
                        ReadFile(dir / (std::string("direct") + song)))
                << song;
        }
    }
}

// A full disk: the header is waited for, so BeginWave fails at once; a write that fails later is
// told by the file's next write and by its close, and the next file starts clean.
TEST(QueuedFileOutput, AFailedWriteIsToldToTheFilesNextCall) {
    struct stat st {};
    if (::stat("/dev/full", &st) != 0) GTEST_SKIP() << "no /dev/full";
    CQueuedFileOutput output(4096, 8, 1);
    CWaveFileWriter writer;
    writer.SetOutput(&output);
    writer.SetFileName("/dev/full");
    writer.Create();
    writer.BeginWave(16, 44100, 2, 4096);
    EXPECT_EQ(writer.GetErrorFlag(), 1);
    EXPECT_STREQ(writer.GetErrorText(), "Cannot write to /dev/full.\nNo space left on device.\n");
    writer.Release();

    // The same through the output alone: the write is taken, its failure comes with the next.
    const int full = output.Open("/dev/full");
    ASSERT_GE(full, 0);
    char bytes[100] = {};
    const iovec piece = {bytes, sizeof bytes};
    EXPECT_EQ(output.WriteAt(full, &piece, 1, 0), ssize_t(sizeof bytes));
    errno = 0;
    EXPECT_EQ(output.Sync(full), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(output.WriteAt(full, &piece, 1, 100), -1);
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(output.Close(full), -1);
    EXPECT_EQ(errno, ENOSPC);

    CTempDir dir;
    const int good = output.Open((dir / "good").c_str());
    ASSERT_GE(good, 0);
    EXPECT_EQ(output.WriteAt(good, &piece, 1, 0), ssize_t(sizeof bytes));
    EXPECT_EQ(output.Close(good), 0);
    EXPECT_EQ(ReadFile(dir / "good").size(), sizeof bytes);
}
