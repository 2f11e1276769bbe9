// FLAC songs decoded by the reference decoder to the very bytes the WAV path holds, their tags
// as metaflac lists them, and the formats FLAC cannot hold refused with their reason.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include "audio/FlacFileWriter.h"
#include "tests/support/TestFiles.h"

using namespace testsupport;

namespace {

// Sample bytes where every bit pattern is as likely as any other, full scale both ways at the
// start, so that no value range is left untried.
Bytes AnySamples(int bits, int channels, size_t frames) {
    const size_t sampleBytes = size_t(bits) / 8;
    Bytes out(frames * size_t(channels) * sampleBytes);
    uint32_t state = 12345;
    for (char& b : out) {
        state = state * 1664525u + 1013904223u;
        b = char(state >> 24);
    }
    for (size_t i = 0; i < sampleBytes * 2 && i < out.size(); ++i) {
        const bool top = i % sampleBytes == sampleBytes - 1;
        if (i < sampleBytes) {
            out[i] = top ? char(0x7F) : char(0xFF);  // largest positive
        } else {
            out[i] = top ? char(0x80) : char(0x00);  // largest negative
        }
    }
    return out;
}

struct Written {
    bool bOk = false;
    std::string strError;
};

// Writes bytes through the writer in pieces of the given frame counts (the last piece takes
// what is left).
Written WriteFlac(const fs::path& path, const WAVEFORMATEX& format, const FlacTags& tags,
                  const Bytes& bytes, size_t pieceFrames) {
    Written result;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) return result;
    CFlacFileWriter writer;
    bool ok = writer.Begin(fd, path.string(), format, tags);
    // Pieces of whole frames, or of any odd byte count (pieceFrames 0: a frame cut in two
    // between writes).
    const size_t piece = pieceFrames > 0 ? pieceFrames * format.nBlockAlign : 1001;
    for (size_t at = 0; ok && at < bytes.size(); at += piece) {
        ok = writer.Write(bytes.data() + at, std::min(piece, bytes.size() - at));
    }
    ok = ok && writer.Finish();
    ::close(fd);
    result.bOk = ok;
    if (!ok) result.strError = writer.GetErrorText();
    return result;
}

struct FormatCase {
    int nBits;
    int nChannels;
    uint32_t nRate;
    size_t nFrames;
    size_t nPieceFrames;
};

class FlacRoundTrip : public ::testing::TestWithParam<FormatCase> {};

TEST_P(FlacRoundTrip, DecodesToTheWavSamplesByteForByte) {
    if (!ToolInstalled("flac")) GTEST_SKIP() << "flac is not installed";
    const FormatCase c = GetParam();
    CTempDir dir;
    const WAVEFORMATEX format = MakeWaveFormat(short(c.nBits), c.nRate, short(c.nChannels));
    const Bytes samples = AnySamples(c.nBits, c.nChannels, c.nFrames);
    const fs::path flac = dir / "song.flac";
    const Written w = WriteFlac(flac, format, {}, samples, c.nPieceFrames);
    ASSERT_TRUE(w.bOk) << w.strError;

    const fs::path decoded = dir / "decoded.wav";
    ASSERT_EQ(RunTool("flac -d -s -o '" + decoded.string() + "' '" + flac.string() + "'").nStatus,
              0);
    const WavFile wav = ReadWav(decoded);
    EXPECT_EQ(wav.nChannels, c.nChannels);
    EXPECT_EQ(wav.nRate, c.nRate);
    EXPECT_EQ(wav.nBits, c.nBits);
    EXPECT_TRUE(wav.Data() == samples)
        << "decoded " << wav.Data().size() << " bytes of " << samples.size();
    // The encoder's checksum of the samples agrees with what it was given.
    EXPECT_EQ(RunTool("flac -t -s '" + flac.string() + "'").nStatus, 0);
    // A second decoder reads the same samples.
    if (ToolInstalled("sox") && c.nFrames > 0) {
        const ToolResult raw = RunTool("sox '" + flac.string() + "' -t raw -e signed -b " +
                                       std::to_string(c.nBits) + " -L -");
        EXPECT_TRUE(Bytes(raw.szOut.begin(), raw.szOut.end()) == samples) << "sox";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Formats, FlacRoundTrip,
    ::testing::Values(FormatCase{16, 1, 44100, 20000, 4096},  // mono, pieces the encoder's size
                      FormatCase{16, 2, 44100, 30001, 1000},  // stereo, odd total
                      FormatCase{16, 2, 48000, 5000, 1},      // a frame at a time
                      FormatCase{24, 2, 96000, 12345, 777},   // 24-bit
                      FormatCase{24, 1, 8000, 1, 1},          // one frame
                      FormatCase{24, 2, 44100, 3000, 0},      // frames cut between writes
                      FormatCase{16, 2, 44100, 0, 1}));       // no audio at all

TEST(FlacFileWriter, CarriesTheTagsMetaflacLists) {
    if (!ToolInstalled("metaflac")) GTEST_SKIP() << "metaflac is not installed";
    CTempDir dir;
    const fs::path flac = dir / "song.flac";
    // U+FFFF is UTF-8 the FLAC library refuses (and libsndfile then frees twice).
    const FlacTags tags{"Smoke = Fire \xC3\xA9t\xC3\xA9", 7, "Side by Side\xEF\xBF\xBF",
                        "The Quiet Ones"};
    ASSERT_TRUE(
        WriteFlac(flac, MakeWaveFormat(16, 44100, 2), tags, AnySamples(16, 2, 100), 100).bOk);
    const std::string list =
        RunTool("metaflac --list --block-type=VORBIS_COMMENT '" + flac.string() + "'").szOut;
    EXPECT_NE(list.find("title=Smoke = Fire \xC3\xA9t\xC3\xA9"), std::string::npos) << list;
    EXPECT_NE(list.find("tracknumber=7\n"), std::string::npos) << list;
    EXPECT_NE(list.find("album=Side by Side\xEF\xBF\xBD"), std::string::npos) << list;
    EXPECT_NE(list.find("artist=The Quiet Ones"), std::string::npos) << list;

    // Tags left empty are left out.
    const fs::path bare = dir / "bare.flac";
    ASSERT_TRUE(WriteFlac(bare, MakeWaveFormat(16, 44100, 2), {"Only", 0, "", ""},
                          AnySamples(16, 2, 10), 10)
                    .bOk);
    const std::string bareList =
        RunTool("metaflac --list --block-type=VORBIS_COMMENT '" + bare.string() + "'").szOut;
    EXPECT_NE(bareList.find("title=Only"), std::string::npos) << bareList;
    for (const char* absent : {"tracknumber=", "album=", "artist="}) {
        EXPECT_EQ(bareList.find(absent), std::string::npos) << bareList;
    }
}

TEST(FlacFileWriter, RefusesWhatFlacCannotHoldAndSaysWhy) {
    struct Case {
        WAVEFORMATEX format;
        FlacRefusal refusal;
        const char* szWords;
    };
    WAVEFORMATEX nineChannels = MakeWaveFormat(16, 44100, 9);
    WAVEFORMATEX tooFast = MakeWaveFormat(16, 705600, 2);
    const Case cases[] = {{MakeWaveFormat(32, 44100, 2), FlacRefusal::FloatSamples, "float"},
                          {MakeWaveFormat(8, 44100, 2), FlacRefusal::SampleSize, "16- or 24-bit"},
                          {nineChannels, FlacRefusal::Channels, "1 to 8 channels"},
                          {tooFast, FlacRefusal::Rate, "655,350 Hz"}};
    CTempDir dir;
    for (const Case& c : cases) {
        EXPECT_EQ(CheckFlacFormat(c.format), c.refusal);
        const fs::path path = dir / "refused.flac";
        const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        ASSERT_GE(fd, 0);
        CFlacFileWriter writer;
        EXPECT_FALSE(writer.Begin(fd, "refused.flac", c.format, {}));
        EXPECT_EQ(writer.GetRefusal(), c.refusal);
        EXPECT_NE(std::string(writer.GetErrorText()).find(c.szWords), std::string::npos)
            << writer.GetErrorText();
        EXPECT_NE(std::string(writer.GetErrorText()).find("refused.flac"), std::string::npos);
        EXPECT_FALSE(writer.Write("\0\0\0\0", 4));
        ::close(fd);
        EXPECT_EQ(fs::file_size(path), 0u) << "nothing is written for a refused format";
    }
}

TEST(FlacFileWriter, RefusesToEndInsideAFrameAndReportsAFailedStart) {
    CTempDir dir;
    const fs::path path = dir / "song.flac";
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    ASSERT_GE(fd, 0);
    CFlacFileWriter writer;
    ASSERT_TRUE(writer.Begin(fd, path.string(), MakeWaveFormat(16, 44100, 2), {}));
    EXPECT_TRUE(writer.Write("\0\0\0\0\0\0", 6));
    EXPECT_EQ(writer.GetFrames(), 1u);
    EXPECT_FALSE(writer.Finish());
    EXPECT_NE(std::string(writer.GetErrorText()).find("end inside a frame"), std::string::npos);
    ::close(fd);

    // A descriptor open for reading only takes no stream: the failure shows by Finish at the
    // latest.
    const int readOnly = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(readOnly, 0);
    CFlacFileWriter failing;
    const Bytes samples = AnySamples(16, 2, 10000);
    EXPECT_FALSE(failing.Begin(readOnly, "song.flac", MakeWaveFormat(16, 44100, 2), {}) &&
                 failing.Write(samples.data(), samples.size()) && failing.Finish());
    EXPECT_NE(std::string(failing.GetErrorText()).find("the FLAC file song.flac: "),
              std::string::npos)
        << failing.GetErrorText();
    ::close(readOnly);
}

}  // namespace
