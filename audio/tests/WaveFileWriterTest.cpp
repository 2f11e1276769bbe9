// The WAV writer's files, read back byte for byte, by our own parser, by libsndfile and by sox;
// short writes, the 4 GiB limit, and failures with their texts.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>

#include "audio/WaveFileWriter.h"
#include "tests/support/TestFiles.h"

using namespace testsupport;

namespace {
// Largest byte count a vectored write takes at once; 0 passes every write through whole.
// Regular files on local disks rarely write short, network and FUSE file systems do.
size_t g_nVectoredCap = 0;
int g_nVectoredCalls = 0;
}  // namespace

// Stands in for the C library's pwritev in this test program, so that short writes can be made
// to happen; the real one does the writing.
extern "C" ssize_t pwritev(int fd, const struct iovec* iov, int iovcnt, off_t offset) {
    using Real = ssize_t (*)(int, const struct iovec*, int, off_t);
    static Real real = reinterpret_cast<Real>(::dlsym(RTLD_NEXT, "pwritev"));
    ++g_nVectoredCalls;
    if (g_nVectoredCap == 0) return real(fd, iov, iovcnt, offset);
    struct iovec capped[2];
    int pieces = 0;
    size_t room = g_nVectoredCap;
    for (int i = 0; i < iovcnt && i < 2 && room > 0; ++i) {
        size_t n = std::min(iov[i].iov_len, room);
        capped[pieces++] = {iov[i].iov_base, n};
        room -= n;
    }
    return real(fd, capped, pieces, offset);
}

namespace {

constexpr long kBlock = 65536;  // one capture buffer, in bytes

// The first `bytes` of a stream of stereo frames that encode their own number.
Bytes Stream(size_t bytes, int bits) {
    Bytes all = MakeSamples({bits, 44100, 2}, {{long(bytes) / (bits / 4) + 1, true}});
    all.resize(bytes);
    return all;
}
Bytes Prefix(const Bytes& bytes, size_t n) { return Bytes(bytes.begin(), bytes.begin() + long(n)); }

// Creates the file and writes the header of a stereo recording.
void Begin(CWaveFileWriter& writer, const std::string& path, short bits, uint32_t rate,
           long bufferSize) {
    writer.SetFileName(path.c_str());
    writer.Create();
    writer.BeginWave(bits, rate, 2, bufferSize);
}

// Writes a whole file: header, then the pieces of `stream` in the given sizes, then Close.
void WriteSong(CWaveFileWriter& writer, const std::string& path, short bits, const Bytes& stream,
               const std::vector<long>& pieces, long bufferSize = kBlock) {
    Begin(writer, path, bits, bits == 32 ? 48000 : 44100, bufferSize);
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    size_t at = 0;
    for (long piece : pieces) {
        ASSERT_EQ(writer.Write(stream.data() + at, piece), piece) << writer.GetErrorText();
        at += size_t(piece);
    }
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
}

// A finished file holding exactly the first `bytes` of the stream.
void ExpectFinished(const std::string& path, const Bytes& stream, size_t bytes) {
    const WavFile wav = ReadWav(path);
    EXPECT_EQ(wav.szProblem, "");
    EXPECT_EQ(wav.nDataBytes, bytes);
    EXPECT_TRUE(wav.Data() == Prefix(stream, bytes));
    EXPECT_TRUE(bytes % 2 == 0 || wav.bytes.back() == 0) << "the pad byte";
}

}  // namespace

// The canonical 44-byte PCM header, and for float the 18-byte format chunk with its cbSize.
TEST(WaveFileWriter, PcmAndFloatHeadersAreByteExact) {
    CTempDir dir;
    CWaveFileWriter writer;
    const Bytes samples = {1, 2, 3, 4, '\xFF', '\xFE', '\x80', 0x7F};
    for (int bits : {16, 32}) {
        WriteSong(writer, (dir / "h.wav").string(), short(bits), samples, {8});
        EXPECT_EQ(ReadFile(dir / "h.wav"), MakeWav({bits, bits == 32 ? 48000 : 44100, 2}, samples))
            << bits;
    }
}

// Empty and odd-sized files in both formats: the pad byte is counted in the RIFF size, not in
// the data size, and libsndfile reads them. (Whole recordings, cut or not, are read by
// libsndfile, sox and ffprobe in the crash test.)
TEST(WaveFileWriter, EmptyAndOddSizedFilesAreValid) {
    CTempDir dir;
    CWaveFileWriter writer;
    for (const auto& [bits, bytes] : {std::pair<short, long>{16, 0}, {32, 0}, {16, 5}, {32, 7}}) {
        SCOPED_TRACE(std::to_string(bits) + " bits, " + std::to_string(bytes) + " bytes");
        const std::string path = (dir / "song.wav").string();
        const Bytes stream = Stream(size_t(bytes), bits);
        WriteSong(writer, path, bits, stream,
                  bytes ? std::vector<long>{bytes} : std::vector<long>{});
        ExpectFinished(path, stream, size_t(bytes));
        const SndfileView view = ReadWithSndfile(path);
        ASSERT_EQ(view.szError, "");
        EXPECT_EQ(view.bFloat, bits == 32);
        EXPECT_EQ(view.nFrames, bytes / (bits / 4));
    }
}

// Short writes (777 bytes at a time) stop inside the pending bytes, exactly at their end (3108
// bytes are pending when the second Write overruns the window) and inside the caller's bytes
// behind them; writes of nothing take nothing.
TEST(WaveFileWriter, ShortWritesAreContinuedWhereTheyStopped) {
    CTempDir dir;
    const std::string path = (dir / "short.wav").string();
    const Bytes stream = Stream(50000, 16);
    CWaveFileWriter writer;
    g_nVectoredCap = 777;
    g_nVectoredCalls = 0;
    WriteSong(writer, path, 16, stream, {3108, 4096, 1, 0, 9000, 33795}, 4096);
    g_nVectoredCap = 0;
    EXPECT_GT(g_nVectoredCalls, 50000 / 777);
    ExpectFinished(path, stream, 50000);
    EXPECT_EQ(writer.Write(stream.data(), -5), 0);
    EXPECT_EQ(writer.GetErrorFlag(), 0);
}

TEST(WaveFileWriter, CreateTruncatesAndAbandonsAnOpenFileWithoutPadding) {
    CTempDir dir;
    const std::string first = (dir / "first.wav").string(), second = (dir / "second.wav").string();
    WriteFile(second, Bytes(100000, 'x'));
    const Bytes stream = Stream(2501, 16);
    CWaveFileWriter writer;
    Begin(writer, first, 16, 44100, 1000);
    ASSERT_EQ(writer.Write(stream.data(), 2501), 2501);

    // Abandoning the open file writes its pending bytes but neither pads nor ascends: the
    // header describes exactly what is there, so the abandoned song still reads.
    writer.SetFileName(second.c_str());
    writer.Create();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    const WavFile abandoned = ReadWav(first);
    EXPECT_EQ(abandoned.bytes.size(), 44u + 2501u);
    EXPECT_EQ(abandoned.nRiffSize, 36u + 2501u);
    EXPECT_TRUE(abandoned.Data() == stream);
    // The existing second file was truncated.
    EXPECT_EQ(fs::file_size(second), 0u);
}

// The RIFF size must stay within 32 bits. A lowered limit reaches the same arithmetic as the
// real one without writing 4 GiB.
TEST(WaveFileWriter, WriteThatWouldOverflowTheRiffSizeFailsAndLeavesAValidFile) {
    CTempDir dir;
    const struct {
        short bits;
        uint32_t overhead;  // RIFF size of an empty file
        uint32_t room;      // limit minus overhead
        uint32_t maxData;   // most sample bytes that fit, pad included
    } cases[] = {{16, 36, 5000, 5000}, {16, 36, 5001, 5000}, {32, 38, 4001, 4000}, {32, 38, 3, 2}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, room " + std::to_string(c.room));
        const std::string path = (dir / "limit.wav").string();
        const Bytes stream = Stream(c.maxData + 2, c.bits);
        CWaveFileWriter writer;
        writer.SetRiffSizeLimit(c.overhead + c.room);
        Begin(writer, path, c.bits, 44100, 1000);

        const long first = long(c.maxData / 2), rest = long(c.maxData) - first;
        ASSERT_EQ(writer.Write(stream.data(), first), first);
        // Nothing of a Write that does not fit is taken.
        EXPECT_EQ(writer.Write(stream.data() + first, rest + 1), 0);
        EXPECT_EQ(writer.GetErrorText(),
                  "Cannot write to " + path + ".\nA WAV file cannot hold more than 4 GiB.\n");
        ASSERT_EQ(writer.Write(stream.data() + first, rest), rest);
        EXPECT_EQ(writer.Write(stream.data() + c.maxData, 1), 0);
        writer.Close();
        ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
        ExpectFinished(path, stream, c.maxData);
        EXPECT_LE(ReadWav(path).nRiffSize, c.overhead + c.room);
        EXPECT_EQ(ReadWithSndfile(path).nFrames, c.maxData / (c.bits / 4));
    }
}

// Every message names the file and then the system's reason; callers that carry on regardless
// get errors, not a crash, and the writer serves the next file.
TEST(WaveFileWriter, FailuresNameTheFileAndTheReason) {
    CTempDir dir;
    const std::string missing = (dir / "missing/song.wav").string();
    CWaveFileWriter writer;
    writer.SetFileName(missing.c_str());
    writer.Create();
    const std::string why = "No such file or directory.\n";
    EXPECT_EQ(writer.GetErrorText(), "Cannot create output file " + missing + ".\n" + why);
    EXPECT_FALSE(writer.IsOpen());
    writer.BeginWave(16, 44100, 2, kBlock);
    EXPECT_EQ(writer.GetErrorText(), "Cannot write to " + missing + ".\n" + why);
    char block[16] = {};
    EXPECT_EQ(writer.Write(block, sizeof block), 0);
    EXPECT_EQ(writer.GetErrorText(), "Cannot read from " + missing + "\n");

    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    writer.SetFileName("/dev/full");
    writer.Create();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    // The header cannot reach the disk, so the recording must not start.
    writer.BeginWave(16, 44100, 2, kBlock);
    EXPECT_STREQ(writer.GetErrorText(), "Cannot write to /dev/full.\nNo space left on device.\n");
    writer.Close();
    EXPECT_STREQ(writer.GetErrorText(),
                 "Cannot close input file /dev/full.\nNo space left on device.\n");
    WriteSong(writer, (dir / "after.wav").string(), 16, Bytes(kBlock), {kBlock});
    EXPECT_EQ(ReadWav(dir / "after.wav").nDataBytes, uint32_t(kBlock));
}

// A file size limit (as a full disk) stops a write part of the way into its third buffer, and
// then lets nothing more through. The song reads up to the last buffer that reached the disk;
// with room again, writing and Close resume where they failed.
TEST(WaveFileWriter, AFailedWriteLeavesTheSongReadableAndCanBeResumed) {
    CTempDir dir;
    const std::string path = (dir / "song.wav").string();
    const Bytes stream = Stream(4 * kBlock, 16);
    rlimit unlimited{}, limited{};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &unlimited), 0);
    limited = unlimited;
    limited.rlim_cur = 2 * kBlock + kBlock / 2;
    ::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    struct Restore {
        rlimit& limit;
        ~Restore() { ::setrlimit(RLIMIT_FSIZE, &limit); }
    } restore{unlimited};

    CWaveFileWriter writer;
    Begin(writer, path, 16, 44100, kBlock);
    ASSERT_EQ(writer.Write(stream.data(), 2 * kBlock), 2 * kBlock);
    EXPECT_EQ(writer.Write(stream.data() + 2 * kBlock, kBlock), 0);
    const std::string failure = "Cannot write to " + path + ".\nFile too large.\n";
    EXPECT_EQ(writer.GetErrorText(), failure);
    // Buffers end at multiples of their size: two reached the disk, part of the third did.
    const WavFile cut = ReadWav(path);
    EXPECT_EQ(cut.nDataBytes, 2 * kBlock - 44);
    EXPECT_EQ(cut.nRiffSize, 36 + cut.nDataBytes);
    EXPECT_TRUE(ReadWithSndfile(path).samples == Prefix(stream, cut.nDataBytes));
    limited.rlim_cur = 2 * kBlock;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    writer.Close();
    EXPECT_EQ(writer.GetErrorText(), failure);
    EXPECT_TRUE(writer.IsOpen());

    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &unlimited), 0);
    ASSERT_EQ(writer.Write(stream.data() + 2 * kBlock, kBlock + 1), kBlock + 1);
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    ExpectFinished(path, stream, 3 * kBlock + 1);
}
