#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sndfile.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <string>
#include <vector>

#include "WaveFileWriter.h"
#include "WriterTestSupport.h"

using namespace writer_test;

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

// Writes a whole file: header, then the pieces of `stream` in the given sizes, then Close.
void WriteFile(CWaveFileWriter& writer, const std::string& path, short bits, unsigned long rate,
               const std::vector<uint8_t>& stream, const std::vector<long>& pieces,
               long bufferSize = kBlock) {
    writer.SetFileName(path.c_str());
    writer.Create();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    writer.BeginWave(bits, rate, 2, bufferSize);
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    size_t at = 0;
    for (long piece : pieces) {
        ASSERT_EQ(writer.Write(stream.data() + at, piece), piece);
        ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
        at += static_cast<size_t>(piece);
    }
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
}

std::vector<uint8_t> Concat(std::vector<uint8_t> head, const std::vector<uint8_t>& tail) {
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

std::string Message(const char* format, const std::string& name) {
    char text[1024];
    std::snprintf(text, sizeof text, format, name.c_str());
    return text;
}

}  // namespace

TEST(WaveFileWriter, PcmAndFloatHeadersAreByteExact) {
    ScratchDir dir;
    CWaveFileWriter writer;
    const std::vector<uint8_t> samples = {0x01, 0x02, 0x03, 0x04, 0xFF, 0xFE, 0x80, 0x7F};

    WriteFile(writer, dir.File("pcm.wav"), 16, 44100, samples, {8});
    const std::vector<uint8_t> pcmHeader = {'R',  'I',  'F',  'F', 44,  0,   0,   0,  // 36 + 8
                                            'W',  'A',  'V',  'E', 'f', 'm', 't', ' ',
                                            16,   0,    0,    0,   1,   0,   2,   0,  // PCM, stereo
                                            0x44, 0xAC, 0,    0,  // 44,100 per second
                                            0x10, 0xB1, 0x02, 0,  // 176,400 bytes per second
                                            4,    0,    16,   0,  // block 4, 16 bits
                                            'd',  'a',  't',  'a', 8,   0,   0,   0};
    EXPECT_EQ(ReadAll(dir.File("pcm.wav")), Concat(pcmHeader, samples));

    WriteFile(writer, dir.File("float.wav"), 32, 48000, samples, {8});
    const std::vector<uint8_t> floatHeader = {
        'R',  'I',  'F',  'F', 46,  0,   0,   0,                             // 38 + 8
        'W',  'A',  'V',  'E', 'f', 'm', 't', ' ', 18, 0, 0, 0, 3, 0, 2, 0,  // IEEE float, stereo
        0x80, 0xBB, 0,    0,                                                 // 48,000 per second
        0x00, 0xDC, 0x05, 0,  // 384,000 bytes per second
        8,    0,    32,   0,  // block 8, 32 bits
        0,    0,              // cbSize
        'd',  'a',  't',  'a', 8,   0,   0,   0};
    EXPECT_EQ(ReadAll(dir.File("float.wav")), Concat(floatHeader, samples));

    // The next song reuses the stored record.
    ASSERT_NE(writer.GetFormat(), nullptr);
    EXPECT_EQ(writer.GetFormat()->wFormatTag, WAVE_FORMAT_IEEE_FLOAT);
    EXPECT_EQ(writer.GetFormat()->nAvgBytesPerSec, 384000u);
}

TEST(WaveFileWriter, EmptyAndOddSizedFilesAreValid) {
    ScratchDir dir;
    CWaveFileWriter writer;
    struct Case {
        short bits;
        long bytes;
        size_t header;
    };
    for (Case c :
         {Case{16, 0, 44}, Case{32, 0, 46}, Case{16, 5, 44}, Case{32, 7, 46}, Case{16, 4098, 44}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, " + std::to_string(c.bytes) + " bytes");
        std::string path = dir.File("f.wav");
        std::vector<uint8_t> stream = SampleStream(static_cast<size_t>(c.bytes), c.bits);
        std::vector<long> pieces;
        if (c.bytes > 0) pieces.push_back(c.bytes);
        WriteFile(writer, path, c.bits, 44100, stream, pieces);

        std::vector<uint8_t> file = ReadAll(path);
        size_t pad = static_cast<size_t>(c.bytes & 1);
        ASSERT_EQ(file.size(), c.header + static_cast<size_t>(c.bytes) + pad);
        EXPECT_EQ(Le32(file, 4), file.size() - 8);  // the pad is counted here...
        EXPECT_EQ(Le32(file, c.header - 4), static_cast<uint32_t>(c.bytes));  // ...not here
        EXPECT_TRUE(std::equal(stream.begin(), stream.end(), file.begin() + c.header));
        if (pad) {
            EXPECT_EQ(file.back(), 0);
        }

        SndfileView view = ReadWithSndfile(path);
        ASSERT_TRUE(view.bOpened) << view.szError;
        EXPECT_EQ(view.nFrames, c.bytes / (c.bits / 8 * 2));
        EXPECT_EQ(view.nSubFormat, c.bits == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_FLOAT);
    }
}

TEST(WaveFileWriter, WriteSpansBufferFlushesAndKeepsTheHeaderCurrent) {
    ScratchDir dir;
    std::string path = dir.File("span.wav");
    std::vector<uint8_t> stream = SampleStream(30000, 16);
    CWaveFileWriter writer;
    writer.SetFileName(path.c_str());
    writer.Create();
    writer.BeginWave(16, 44100, 2, 1000);

    // One Write ten times the buffer: the first buffer fills up to file offset 1000, the next
    // nine to each following thousand; 51 bytes stay pending.
    ASSERT_EQ(writer.Write(stream.data(), 10007), 10007);
    std::vector<uint8_t> partial = ReadAll(path);
    ASSERT_EQ(partial.size(), 10000u);
    EXPECT_EQ(Le32(partial, 4), 36u + 9956u);
    EXPECT_EQ(Le32(partial, 40), 9956u);
    SndfileView whileOpen = ReadWithSndfile(path);
    ASSERT_TRUE(whileOpen.bOpened) << whileOpen.szError;
    EXPECT_EQ(whileOpen.samples16, Expected16(stream, 9956));

    EXPECT_EQ(writer.Write(stream.data() + 10007, 0), 0);
    EXPECT_EQ(writer.Write(stream.data() + 10007, -5), 0);
    EXPECT_EQ(writer.GetErrorFlag(), 0);
    long at = 10007;
    for (long piece : {1L, 999L, 1000L, 1001L, 3L, 16989L}) {
        ASSERT_EQ(writer.Write(stream.data() + at, piece), piece);
        at += piece;
    }
    ASSERT_EQ(at, 30000);
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();

    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 44u + 30000u);
    EXPECT_EQ(Le32(file, 4), 36u + 30000u);
    EXPECT_EQ(Le32(file, 40), 30000u);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), file.begin() + 44));
}

TEST(WaveFileWriter, ShortWritesAreContinuedWhereTheyStopped) {
    ScratchDir dir;
    std::string path = dir.File("short.wav");
    std::vector<uint8_t> stream = SampleStream(50000, 16);
    CWaveFileWriter writer;
    // 777 bytes at a time: the writes stop inside the pending bytes, exactly at their end (3108
    // bytes are pending when the second Write overruns the window) and inside the caller's
    // bytes behind them.
    g_nVectoredCap = 777;
    g_nVectoredCalls = 0;
    WriteFile(writer, path, 16, 44100, stream, {3108, 4096, 1, 9000, 33795}, 4096);
    g_nVectoredCap = 0;
    EXPECT_GT(g_nVectoredCalls, 50000 / 777);

    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 44u + 50000u);
    EXPECT_EQ(Le32(file, 4), 36u + 50000u);
    EXPECT_EQ(Le32(file, 40), 50000u);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), file.begin() + 44));
}

TEST(WaveFileWriter, IndependentReadersAgree) {
    ScratchDir dir;
    CWaveFileWriter writer;
    const bool haveSox = ToolInstalled("soxi") && ToolInstalled("sox");
    for (short bits : {16, 32}) {
        SCOPED_TRACE(std::to_string(bits) + " bits");
        std::string path = dir.File("song" + std::to_string(bits) + ".wav");
        std::vector<uint8_t> stream = SampleStream(3 * kBlock + 4 * 1000, bits);
        WriteFile(writer, path, bits, 44100, stream, {kBlock, kBlock, 4000, kBlock});

        SndfileView view = ReadWithSndfile(path);
        ASSERT_TRUE(view.bOpened) << view.szError;
        EXPECT_EQ(view.nRate, 44100);
        EXPECT_EQ(view.nChannels, 2);
        if (bits == 16) {
            EXPECT_EQ(view.samples16, Expected16(stream, stream.size()));
        } else {
            EXPECT_EQ(view.samplesFloat, ExpectedFloat(stream, stream.size()));
        }

        if (!haveSox) continue;
        ToolResult count = RunTool({"soxi", "-s", path});
        EXPECT_EQ(count.nStatus, 0);
        EXPECT_EQ(count.szOut, std::to_string(stream.size() / (bits / 8) / 2) + "\n");
        ToolResult encoding = RunTool({"soxi", "-e", path});
        EXPECT_EQ(encoding.szOut, bits == 16 ? "Signed Integer PCM\n" : "Floating Point PCM\n");
        // sox hands the sample bytes through untouched when asked for the same encoding.
        ToolResult raw = RunTool({"sox", "-V1", path, "-t", "raw", "-"});
        EXPECT_EQ(raw.nStatus, 0);
        EXPECT_TRUE(raw.szOut == std::string(stream.begin(), stream.end()));
    }
    if (!haveSox) GTEST_SKIP() << "sox/soxi not installed: only libsndfile was checked";
}

TEST(WaveFileWriter, CreateTruncatesAndAbandonsAnOpenFileWithoutPadding) {
    ScratchDir dir;
    std::string first = dir.File("first.wav");
    std::string second = dir.File("second.wav");
    WriteAll(second, std::vector<uint8_t>(100000, 0xAA));
    std::vector<uint8_t> stream = SampleStream(2501, 16);

    CWaveFileWriter writer;
    writer.SetFileName(first.c_str());
    writer.Create();
    writer.BeginWave(16, 44100, 2, 1000);
    ASSERT_EQ(writer.Write(stream.data(), 2501), 2501);

    // Abandoning the open file writes its pending bytes but neither pads nor ascends: the
    // header describes exactly what is there, so the abandoned song still reads.
    writer.SetFileName(second.c_str());
    writer.Create();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    std::vector<uint8_t> abandoned = ReadAll(first);
    ASSERT_EQ(abandoned.size(), 44u + 2501u);
    EXPECT_EQ(Le32(abandoned, 4), 36u + 2501u);
    EXPECT_EQ(Le32(abandoned, 40), 2501u);
    EXPECT_TRUE(std::equal(stream.begin(), stream.end(), abandoned.begin() + 44));

    // The existing second file was truncated.
    EXPECT_EQ(ReadAll(second).size(), 0u);
    writer.BeginWave(16, 44100, 2, 1000);
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    EXPECT_EQ(ReadAll(second).size(), 44u);
}

TEST(WaveFileWriter, UnacceptableBitsStillWriteAPcmHeader) {
    ScratchDir dir;
    std::string path = dir.File("bits.wav");
    CWaveFileWriter writer;
    writer.SetFileName(path.c_str());
    writer.Create();
    writer.BeginWave(12, 22050, 2, kBlock);
    EXPECT_EQ(writer.GetErrorFlag(), 1);
    EXPECT_STREQ(writer.GetErrorText(), "Not an acceptable number of bits per sample.\n");
    writer.Close();
    EXPECT_EQ(writer.GetErrorFlag(), 0);

    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 44u);
    EXPECT_EQ(Le16(file, 20), WAVE_FORMAT_PCM);
    EXPECT_EQ(Le32(file, 28), 44100u);  // (12 / 8) * 2 * 22,050
    EXPECT_EQ(Le16(file, 32), 3u);      // (2 * 12) / 8
    EXPECT_EQ(Le16(file, 34), 12u);
}

TEST(WaveFileWriter, LaterRecordWithExtraBytesIsWrittenWhole) {
    ScratchDir dir;
    CWaveFileWriter writer;
    WriteFile(writer, dir.File("first.wav"), 16, 44100, {}, {});

    // The stored copy was sized for the first record; this one carries two extra bytes.
    struct {
        WAVEFORMATEX format;
        uint8_t extra[2];
    } __attribute__((packed)) record{MakeWaveFormat(16, 8000, 1), {0xAB, 0xCD}};
    record.format.wFormatTag = 2;
    record.format.cbSize = 2;
    MMCKINFO riff{};
    riff.fccType = RiffFourCC('W', 'A', 'V', 'E');
    MMCKINFO fmt{};
    fmt.ckid = RiffFourCC('f', 'm', 't', ' ');
    MMCKINFO data{};
    data.ckid = RiffFourCC('d', 'a', 't', 'a');
    std::string path = dir.File("second.wav");
    writer.SetFileName(path.c_str());
    writer.Create();
    writer.WriteHeader(&riff, &fmt, &data, &record.format, kBlock);
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();

    std::vector<uint8_t> file = ReadAll(path);
    ASSERT_EQ(file.size(), 48u);
    EXPECT_EQ(Le32(file, 4), 40u);
    EXPECT_EQ(Le32(file, 16), 20u);
    EXPECT_EQ(Le16(file, 36), 2u);
    EXPECT_EQ(file[38], 0xAB);
    EXPECT_EQ(file[39], 0xCD);
    EXPECT_EQ(Le32(file, 44), 0u);
    EXPECT_EQ(writer.GetFormat()->cbSize, 2u);
}

// The RIFF size must stay within 32 bits. A lowered limit reaches the same arithmetic as the
// real one without writing 4 GiB.
TEST(WaveFileWriter, WriteThatWouldOverflowTheRiffSizeFailsAndLeavesAValidFile) {
    ScratchDir dir;
    struct Case {
        short bits;
        uint32_t overhead;  // RIFF size of an empty file
        uint32_t room;      // limit minus overhead
        uint32_t maxData;   // most sample bytes that fit, pad included
    };
    for (Case c : {Case{16, 36, 5000, 5000}, Case{16, 36, 5001, 5000}, Case{32, 38, 4001, 4000},
                   Case{32, 38, 3, 2}}) {
        SCOPED_TRACE(std::to_string(c.bits) + " bits, room " + std::to_string(c.room));
        std::string path = dir.File("limit.wav");
        std::vector<uint8_t> stream = SampleStream(c.maxData + 2, c.bits);
        CWaveFileWriter writer;
        writer.SetRiffSizeLimit(c.overhead + c.room);
        writer.SetFileName(path.c_str());
        writer.Create();
        writer.BeginWave(c.bits, 44100, 2, 1000);

        long first = static_cast<long>(c.maxData / 2);
        ASSERT_EQ(writer.Write(stream.data(), first), first);
        // Nothing of a Write that does not fit is taken.
        EXPECT_EQ(writer.Write(stream.data() + first, static_cast<long>(c.maxData) - first + 1), 0);
        EXPECT_EQ(writer.GetErrorFlag(), 1);
        EXPECT_EQ(writer.GetErrorText(),
                  Message("Cannot write to %s.\nA WAV file cannot hold more than 4 GiB.\n", path));
        long rest = static_cast<long>(c.maxData) - first;
        ASSERT_EQ(writer.Write(stream.data() + first, rest), rest);
        EXPECT_EQ(writer.Write(stream.data() + c.maxData, 1), 0);
        writer.Close();
        ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();

        std::vector<uint8_t> file = ReadAll(path);
        EXPECT_LE(Le32(file, 4), c.overhead + c.room);
        EXPECT_EQ(Le32(file, c.overhead + 4), c.maxData);
        SndfileView view = ReadWithSndfile(path);
        ASSERT_TRUE(view.bOpened) << view.szError;
        EXPECT_EQ(view.nFrames, c.maxData / (c.bits / 8 * 2));
    }
}

TEST(WaveFileWriter, FolderThatDoesNotExistOrIsAFile) {
    ScratchDir dir;
    WriteAll(dir.File("plain"), {1, 2, 3});
    // Every message names the file and then the system's reason.
    for (auto [path, reason] :
         {std::pair{dir.File("missing/song.wav"), "No such file or directory"},
          std::pair{dir.File("plain/song.wav"), "Not a directory"}}) {
        SCOPED_TRACE(path);
        const std::string why = std::string(reason) + ".\n";
        CWaveFileWriter writer;
        writer.SetFileName(path.c_str());
        writer.Create();
        EXPECT_EQ(writer.GetErrorFlag(), 1);
        EXPECT_EQ(writer.GetErrorText(), Message("Cannot create output file %s.\n", path) + why);
        EXPECT_FALSE(writer.IsOpen());
        // Callers that carry on regardless get errors, not a crash.
        writer.BeginWave(16, 44100, 2, kBlock);
        EXPECT_EQ(writer.GetErrorText(), Message("Cannot write to %s.\n", path) + why);
        char block[16] = {};
        EXPECT_EQ(writer.Write(block, sizeof block), 0);
        EXPECT_EQ(writer.GetErrorText(), Message("Cannot read from %s\n", path));
        writer.Close();
        EXPECT_EQ(writer.GetErrorFlag(), 1);
        EXPECT_EQ(writer.GetErrorText(), Message("Cannot write to %s.\n", path) + why);
    }
}

TEST(WaveFileWriter, ReadOnlyFolder) {
    ScratchDir dir;
    std::string mountPoint = dir.File("ro");
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0777), 0);
    PrivateTmpfs tmpfs(mountPoint, "size=64k", true);
    if (!tmpfs.Ready()) GTEST_SKIP() << "no read-only tmpfs for this test: " << tmpfs.Why();

    std::string path = tmpfs.File("song.wav");
    CWaveFileWriter writer;
    writer.SetFileName(path.c_str());
    writer.Create();
    EXPECT_EQ(writer.GetErrorFlag(), 1);
    EXPECT_EQ(writer.GetErrorText(),
              Message("Cannot create output file %s.\nRead-only file system.\n", path));
}

TEST(WaveFileWriter, DevFullFailsAtTheHeader) {
    if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "/dev/full is not writable here";
    CWaveFileWriter writer;
    writer.SetFileName("/dev/full");
    writer.Create();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    // The header cannot reach the disk, so the recording must not start.
    writer.BeginWave(16, 44100, 2, kBlock);
    EXPECT_EQ(writer.GetErrorFlag(), 1);
    EXPECT_STREQ(writer.GetErrorText(), "Cannot write to /dev/full.\nNo space left on device.\n");
    std::vector<uint8_t> block(kBlock);
    EXPECT_EQ(writer.Write(block.data(), kBlock), 0);
    EXPECT_STREQ(writer.GetErrorText(), "Cannot write to /dev/full.\nNo space left on device.\n");
    writer.Close();
    EXPECT_STREQ(writer.GetErrorText(),
                 "Cannot close input file /dev/full.\nNo space left on device.\n");
    // The writer can still be used for another file afterwards.
    ScratchDir dir;
    std::string path = dir.File("after.wav");
    WriteFile(writer, path, 16, 44100, block, {kBlock});
    EXPECT_EQ(ReadAll(path).size(), 44u + kBlock);
}

TEST(WaveFileWriter, DiskFullLeavesTheWrittenSongReadableAndCloseCanBeRetried) {
    ScratchDir dir;
    std::string mountPoint = dir.File("small");
    ASSERT_EQ(::mkdir(mountPoint.c_str(), 0777), 0);
    PrivateTmpfs tmpfs(mountPoint, "size=256k", false);
    if (!tmpfs.Ready()) GTEST_SKIP() << "no small tmpfs for this test: " << tmpfs.Why();

    // A filler takes half the space; deleting it later frees room for the retried Close.
    std::string filler = tmpfs.File("filler");
    WriteAll(filler, std::vector<uint8_t>(128 * 1024, 0x55));
    std::string path = tmpfs.File("song.wav");
    std::vector<uint8_t> stream = SampleStream(3 * kBlock + 1, 16);
    CWaveFileWriter writer;
    writer.SetFileName(path.c_str());
    writer.Create();
    writer.BeginWave(16, 44100, 2, kBlock);
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();

    long written = 0;
    long taken = 0;
    while ((taken = writer.Write(stream.data() + written, kBlock)) == kBlock) {
        written += taken;
        ASSERT_LT(written, 3 * kBlock) << "the small disk never filled up";
    }
    EXPECT_EQ(taken, 0);
    EXPECT_EQ(writer.GetErrorText(),
              Message("Cannot write to %s.\nNo space left on device.\n", path));

    // Everything up to the last buffer that reached the disk reads back.
    std::vector<uint8_t> file = ReadAll(path);
    uint32_t dataSize = Le32(file, 40);
    EXPECT_EQ((44 + dataSize) % kBlock, 0u);  // buffers end at multiples of their size
    EXPECT_GE(dataSize, static_cast<uint32_t>(kBlock - 44));
    EXPECT_EQ(Le32(file, 4), 36u + dataSize);
    SndfileView view = ReadWithSndfile(path);
    ASSERT_TRUE(view.bOpened) << view.szError;
    EXPECT_EQ(view.samples16, Expected16(stream, dataSize));

    writer.Close();
    EXPECT_EQ(writer.GetErrorFlag(), 1);
    EXPECT_EQ(writer.GetErrorText(),
              Message("Cannot write to %s.\nNo space left on device.\n", path));
    EXPECT_TRUE(writer.IsOpen());

    // With room again, writing resumes where it failed (the pending buffer goes out first) and
    // Close completes: the file is exactly what a clean run writes.
    ASSERT_EQ(::unlink(filler.c_str()), 0);
    ASSERT_EQ(writer.Write(stream.data() + written, kBlock + 1), kBlock + 1);
    writer.Close();
    ASSERT_EQ(writer.GetErrorFlag(), 0) << writer.GetErrorText();
    size_t total = static_cast<size_t>(written) + kBlock + 1;
    file = ReadAll(path);
    ASSERT_EQ(file.size(), 44u + total + 1);
    EXPECT_EQ(Le32(file, 40), total);
    EXPECT_EQ(Le32(file, 4), 36u + total + 1);
    EXPECT_TRUE(
        std::equal(stream.begin(), stream.begin() + static_cast<long>(total), file.begin() + 44));
    EXPECT_EQ(file.back(), 0);
}
