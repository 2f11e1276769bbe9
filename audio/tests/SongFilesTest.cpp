// The song file sequence: where a song goes on in the next file and where it is refused, bytes
// copied from another file in the kernel or through memory, its failures as values, and the
// deleted-file check of a file written directly.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <limits>

#include "audio/SongFiles.h"
#include "tests/support/TestFiles.h"

using namespace testsupport;

namespace {

const WAVEFORMATEX kFormat = MakeWaveFormat(16, 44100, 2);

// Names song n "<folder>/Song<n>.wav".
CSongFiles::Namer NamesIn(const std::string& folder) {
    return [folder](long number, char* out, size_t size) {
        return std::snprintf(out, size, "%s/Song%ld.wav", folder.c_str(), number) < int(size);
    };
}

Bytes Samples(size_t bytes) {
    Bytes all = MakeSamples({16, 44100, 2}, {{long(bytes) / 4 + 1, true}});
    all.resize(bytes);
    return all;
}

Bytes Slice(const Bytes& bytes, size_t from, size_t count) {
    return Bytes(bytes.begin() + long(from), bytes.begin() + long(from + count));
}

}  // namespace

// A song goes on in the next file at a write boundary, before a write would pass the limit;
// a file holds at least one write however large, so none is left empty. Where songs are refused
// instead, the write that would pass fails, naming its file, and nothing of it is written.
TEST(SongFiles, ASongGoesOnInTheNextFileOrIsRefusedBeforeItPassesTheLimit) {
    CTempDir dir;
    const Bytes samples = Samples(4000);
    CWaveFileWriter writer;
    CWavSongEncoder wav(writer, kFormat, 4096);
    {
        CSongFiles files(wav, NamesIn(dir.Path()), CSongFiles::Overflow::NextFile);
        files.SetMaxSongBytes(1000);
        ASSERT_TRUE(files.Open(1)) << files.Failure().szText;
        for (const auto& [from, count] : {std::pair<size_t, size_t>{0, 1200},
                                          {1200, 400},
                                          {1600, 600},
                                          {2200, 400},
                                          {2600, 1400}}) {
            ASSERT_TRUE(files.Write(samples.data() + from, count)) << files.Failure().szText;
        }
        ASSERT_TRUE(files.Finish()) << files.Failure().szText;
        EXPECT_EQ(files.Number(), 4);
        const size_t songs[][2] = {{0, 1200}, {1200, 1000}, {2200, 400}, {2600, 1400}};
        for (int n = 1; n <= 4; ++n) {
            SCOPED_TRACE(n);
            const WavFile song = ReadWav(dir / ("Song" + std::to_string(n) + ".wav"));
            EXPECT_EQ(song.szProblem, "");
            EXPECT_TRUE(song.Data() == Slice(samples, songs[n - 1][0], songs[n - 1][1]));
        }
    }

    CSongFiles files(wav, NamesIn(dir.Path()), CSongFiles::Overflow::Refuse);
    EXPECT_TRUE(files.Fits(CWavSongEncoder::kMaxDataBytes));
    EXPECT_FALSE(files.Fits(CWavSongEncoder::kMaxDataBytes + 1));
    files.SetMaxSongBytes(1000);
    ASSERT_TRUE(files.Open(7));
    ASSERT_TRUE(files.Write(samples.data(), 600));
    EXPECT_FALSE(files.Write(samples.data() + 600, 404));
    const SongFileFailure& failure = files.Failure();
    EXPECT_EQ(failure.step, SongFileStep::Write);
    EXPECT_TRUE(failure.bTooLong);
    EXPECT_EQ(failure.nNumber, 7);
    EXPECT_EQ(std::string(failure.szPath), (dir / "Song7.wav").string());
    ASSERT_TRUE(files.Write(samples.data() + 600, 400));
    ASSERT_TRUE(files.Finish());
    EXPECT_TRUE(ReadWav(dir / "Song7.wav").Data() == Slice(samples, 0, 1000));

    // FLAC has no such limit.
    CDirectFileOutput direct;
    CFlacSongEncoder flac(direct, kFormat, nullptr);
    EXPECT_TRUE(CSongFiles(flac, NamesIn(dir.Path()), CSongFiles::Overflow::Refuse)
                    .Fits(std::numeric_limits<uint64_t>::max()));
}

// Bytes copied from another file land where written bytes would, between writes that leave
// bytes pending in the buffer, whether the kernel copies them (a file of our own) or the output
// cannot and they pass through the buffer; a source that ends early is a failed read.
TEST(SongFiles, CopiedBytesLandBetweenWrittenOnesInTheKernelOrThroughTheBuffer) {
    CTempDir dir;
    const Bytes samples = Samples(20000);
    WriteFile(dir / "source.raw", samples);
    const int source = ::open((dir / "source.raw").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(source, 0);
    CDirectFileOutput noKernelCopies;
    for (IFileOutput* output :
         {static_cast<IFileOutput*>(nullptr), static_cast<IFileOutput*>(&noKernelCopies)}) {
        SCOPED_TRACE(output ? "through the buffer" : "in the kernel");
        CWaveFileWriter writer;
        writer.SetOutput(output);
        CWavSongEncoder wav(writer, kFormat, 4096);
        CSongFiles files(wav, NamesIn(dir.Path()), CSongFiles::Overflow::NextFile);
        ASSERT_TRUE(files.Open(1));
        ASSERT_TRUE(files.Write(samples.data(), 10));
        ASSERT_TRUE(files.WriteFrom(source, 10, 9000));
        ASSERT_TRUE(files.Write(samples.data() + 9010, 6));
        ASSERT_TRUE(files.WriteFrom(source, 9016, 10984)) << files.Failure().szText;
        ASSERT_TRUE(files.Finish()) << files.Failure().szText;
        const WavFile song = ReadWav(dir / "Song1.wav");
        EXPECT_EQ(song.szProblem, "");
        EXPECT_TRUE(song.Data() == samples);

        ASSERT_TRUE(files.Open(2));
        EXPECT_FALSE(files.WriteFrom(source, 19000, 2000));
        EXPECT_TRUE(files.Failure().bReadFailed);
        EXPECT_EQ(files.Failure().step, SongFileStep::Write);
        files.Abandon();
    }
    ::close(source);
}

// Each step that fails says so as a value: which step, which file, the system's error number
// and the encoder's text.
TEST(SongFiles, FailuresAreValuesNamingTheStepTheFileAndTheReason) {
    CTempDir dir;
    CWaveFileWriter writer;
    CWavSongEncoder wav(writer, kFormat, 4096);
    CSongFiles files(wav, NamesIn((dir / "missing").string()), CSongFiles::Overflow::NextFile);
    EXPECT_FALSE(files.Open(3));
    const std::string path = (dir / "missing/Song3.wav").string();
    EXPECT_EQ(files.Failure().step, SongFileStep::Open);
    EXPECT_EQ(files.Failure().nNumber, 3);
    EXPECT_EQ(files.Failure().nErrno, ENOENT);
    EXPECT_EQ(std::string(files.Failure().szPath), path);
    EXPECT_EQ(std::string(files.Failure().szText),
              "Cannot create output file " + path + ".\nNo such file or directory.\n");
    EXPECT_FALSE(files.IsOpen());

    CSongFiles unnamed(
        wav, [](long, char*, size_t) { return false; }, CSongFiles::Overflow::NextFile);
    EXPECT_FALSE(unnamed.Open());
    EXPECT_EQ(unnamed.Failure().step, SongFileStep::Name);
    EXPECT_EQ(unnamed.Failure().nNumber, 1);

    CDirectFileOutput direct;
    CFlacSongEncoder flac(direct, MakeWaveFormat(32, 48000, 2), nullptr);
    CSongFiles floats(flac, NamesIn(dir.Path()), CSongFiles::Overflow::Refuse);
    EXPECT_FALSE(floats.Open());
    EXPECT_EQ(floats.Failure().step, SongFileStep::Open);
    EXPECT_NE(std::string(floats.Failure().szText).find("FLAC holds integer samples only"),
              std::string::npos)
        << floats.Failure().szText;
}

// A song file written straight to the disk (no queue in between) tells when it has been deleted,
// as the recorder's queued files do.
TEST(SongFiles, ADeletedSongFileWrittenDirectlyIsSeen) {
    CTempDir dir;
    CWaveFileWriter writer;
    CWavSongEncoder wav(writer, kFormat, 4096);
    CSongFiles files(wav, NamesIn(dir.Path()), CSongFiles::Overflow::NextFile);
    ASSERT_TRUE(files.Open(1));
    EXPECT_FALSE(files.IsFileRemoved());
    ASSERT_EQ(::unlink((dir / "Song1.wav").c_str()), 0);
    EXPECT_TRUE(files.IsFileRemoved());
    files.Abandon();
    EXPECT_FALSE(files.IsFileRemoved());
}
