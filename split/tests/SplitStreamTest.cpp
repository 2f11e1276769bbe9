// Streams as programs hand them over (through real pipes, from a shell or from this test) and
// WAV files as interrupted writers leave them: read to their end, nothing dropped unsaid.
#include <signal.h>

#include "split/tests/SplitTestSupport.h"

using namespace splittest;

namespace {

// Two songs, a silence longer than End Gap, a third song and a little silence.
const std::vector<Segment> kSongAfterEndGap = {{5 * kRate, true}, {2 * kRate, false},
                                               {5 * kRate, true}, {8 * kRate, false},
                                               {5 * kRate, true}, {kRate, false}};

void PutLe32(Bytes& bytes, size_t at, uint32_t v) { std::memcpy(&bytes[at], &v, 4); }

}  // namespace

TEST(SplitStreams, MusicAfterEndGapIsSaidAndTheWriterIsNotCutOff) {
    CTempDir dir;
    WriteSide(dir / "Side.wav", kSongAfterEndGap);
    WriteSide(dir / "Quiet.wav",
              {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}, {12 * kRate, false}});
    const std::string exact = " --dc-block off --smart-gap off --min-song 4";
    struct Row {
        std::string strScript;
        int nCode;
        std::string strSaid;
    };
    // The writer's own status goes to cat.txt: it must finish, not die of SIGPIPE (141).
    const Row rows[] = {
        {"{ cat Side.wav; echo $? >cat.txt; } | \"$S\" - -o P.wav" + exact, 1,
         "vellisto-split: End Gap ended the side at 00:19.3; 00:06.7 after it was not split, "
         "00:05.0 of it above Gap Level (a longer --end-gap goes on past such a silence)"},
        {"\"$S\" Side.wav -o F.wav" + exact, 1,
         "vellisto-split: End Gap ended the side at 00:19.3; 00:06.7 after it was not split, "
         "00:05.0 of it above Gap Level"},
        {"{ cat Quiet.wav; echo $? >cat.txt; } | \"$S\" - -o Q.wav" + exact, 0,
         "notice: End Gap ended the side at 00:19.3; 00:04.7 after it was not split, nothing of "
         "it above Gap Level"},
        {"{ cat Quiet.wav; echo $? >cat.txt; } | \"$S\" - -o L.wav --list" + exact, 0,
         "  End Gap ended the side at 00:19.3; 00:04.7 after it was not split, nothing of it "
         "above Gap Level"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.strScript);
        fs::remove(dir / "cat.txt");
        EXPECT_EQ(Shell(row.strScript, dir), row.nCode) << ReadText(dir / "err.txt");
        EXPECT_THAT(ReadText(dir / "err.txt") + ReadText(dir / "out.txt"), HasSubstr(row.strSaid));
        if (fs::exists(dir / "cat.txt")) {
            EXPECT_EQ(ReadText(dir / "cat.txt"), "0\n");
        }
    }
    EXPECT_EQ(ReadText(dir / "P1.wav"), ReadText(dir / "F1.wav"));
    EXPECT_EQ(ReadText(dir / "P2.wav"), ReadText(dir / "F2.wav"));
}

TEST(SplitStreams, AnInterruptedStreamKeepsTheSongBeingWritten) {
    CTempDir dir;
    const Bytes side = MakeSamples(kStereo16, kThreeSongs);
    Spawned split = SpawnSplit(dir, Exact({"-", "-o", dir / "S.wav"}));
    Bytes wav = StreamedWav(kStereo16, side);
    wav.resize(44 + (9 * kRate + 1) * 4);  // 3 s into song 2
    ASSERT_TRUE(split.Feed(wav));
    EXPECT_TRUE(WaitUntil([&] { return Files(dir).size() >= 4; }));  // song 2 is being written
    ::kill(split.nPid, SIGINT);
    EXPECT_EQ(split.Wait(false), 130);
    // Finished up to the interruption: a whole WAV file whose audio follows song 1's.
    const size_t cut = (5 * kRate + kCutInSilence) * 4;
    EXPECT_EQ(ReadSongData(dir / "S1.wav", kStereo16), Bytes(side.begin(), side.begin() + cut));
    const Bytes second = ReadSongData(dir / "S2.wav", kStereo16);
    ASSERT_GT(second.size(), 0u);
    ASSERT_LE(cut + second.size(), wav.size() - 44);
    EXPECT_TRUE(std::equal(second.begin(), second.end(), side.begin() + long(cut)));
    EXPECT_THAT(ReadText(dir / "err.txt"), HasSubstr("interrupted after"));
    EXPECT_THAT(ReadText(dir / "out.txt"), HasSubstr("S2.wav"));
}

// Another run (or program) that puts a file at a song's name while this run writes that song
// keeps it: this run says so, drops only its own unfinished copy and lists nothing of that name.
TEST(SplitStreams, ANameTakenWhileItsSongIsWrittenStaysTheOtherRuns) {
    CTempDir dir;
    Spawned split = SpawnSplit(dir, Exact({"-", "-o", dir / "S.wav"}));
    const Bytes wav = StreamedWav(kStereo16, MakeSamples(kStereo16, kThreeSongs));
    const size_t head = 44 + kRate * 4;  // 1 s into song 1
    ASSERT_TRUE(split.Feed(Bytes(wav.begin(), wav.begin() + long(head))));
    EXPECT_TRUE(WaitUntil([&] { return Files(dir).size() >= 3; }));  // song 1 is being written
    std::ofstream(dir / "S1.wav") << "the other run's";
    split.Feed(Bytes(wav.begin() + long(head), wav.end()));  // it may stop reading early
    EXPECT_EQ(split.Wait(), 1);
    EXPECT_EQ(ReadText(dir / "S1.wav"), "the other run's");
    EXPECT_EQ(Files(dir), (std::vector<std::string>{"S1.wav", "err.txt", "out.txt"}));
    const std::string err = ReadText(dir / "err.txt");
    EXPECT_THAT(err, HasSubstr("S1.wav was created by another program while this run"));
    EXPECT_THAT(err, Not(HasSubstr("input file")));
    EXPECT_THAT(err, Not(HasSubstr("removed")));
    EXPECT_THAT(ReadText(dir / "out.txt"), Not(HasSubstr("S1.wav")));
}

TEST(SplitStreams, AHeaderWithoutDataIsGivenUpNotReadForEver) {
    CTempDir dir;
    // Zeros after RIFF/WAVE read as empty chunks without end; a huge unknown chunk would take
    // hours to pass.
    const std::pair<std::string, std::string> rows[] = {
        {"{ printf 'RIFF\\377\\377\\377\\377WAVE'; head -c 20000000 /dev/zero; }",
         "no data chunk in its first 16 MiB"},
        {"{ printf 'RIFF\\377\\377\\377\\377WAVEjunk\\377\\377\\377\\177'; head -c 100000 "
         "/dev/zero; }",
         "no data chunk in its first 16 MiB"},
    };
    for (const auto& [producer, said] : rows) {
        SCOPED_TRACE(producer);
        EXPECT_EQ(Shell(producer + " | \"$S\" - -o Z.wav", dir), 1);
        EXPECT_THAT(ReadText(dir / "err.txt"), HasSubstr(said));
    }
    // A header that promises audio and ends: no song file, as from a file of the same bytes.
    WriteFile(dir / "H.wav", MakeWav(kStereo16, Bytes(4000, 1)));
    EXPECT_EQ(Shell("head -c 44 H.wav | \"$S\" - -o E.wav", dir), 1);
    EXPECT_THAT(ReadText(dir / "err.txt"), HasSubstr("standard input holds no audio"));
    EXPECT_FALSE(fs::exists(dir / "E1.wav"));
}

TEST(SplitStreams, SizesAnInterruptedWriterLeavesAreReadToTheEnd) {
    CTempDir dir;
    const Bytes side = WriteSide(dir / "Side.wav", kTwoSongs);
    SplitOk(Exact({dir / "Side.wav"}));
    const Bytes wav = MakeWav(kStereo16, side);
    Bytes zero = wav, partial = wav, twice = wav, streamed = wav, capped = wav;
    PutLe32(zero, 40, 0);
    // The sizes streaming writers leave: 0xFFFFFFFF, and 0x7FFFF000 (with RIFF size to match).
    for (const size_t at : {size_t{4}, size_t{40}}) {
        PutLe32(streamed, at, 0xFFFFFFFFu);
        PutLe32(capped, at, 0x7FFFF000u);
    }
    PutLe32(partial, 40, 4 * 1000 + 1);
    PutLe32(partial, 4, uint32_t(partial.size() - 8));
    // A second data chunk of 8 bytes after the first.
    for (const char c : std::string("data\x08\0\0\0", 8)) twice.push_back(c);
    twice.insert(twice.end(), 8, 0);
    PutLe32(twice, 4, uint32_t(twice.size() - 8));
    struct Row {
        const char* szName;
        const Bytes* pWav;
        std::string strSaid;
    };
    const Row rows[] = {
        {"Zero", &zero,
         "declares 0 bytes of audio, as a writer leaves it when it is interrupted; it is read to "
         "the end (" +
             std::to_string(side.size()) + " bytes)"},
        {"Partial", &partial,
         "declares 4001 bytes of audio, which ends inside a frame, and more bytes follow; it is "
         "read to the end in whole frames (" +
             std::to_string(side.size()) + " bytes)"},
        {"Streamed", &streamed, "a streaming writer's placeholder; it is read to the end"},
        {"Capped", &capped, "a streaming writer's placeholder; it is read to the end"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.szName);
        const std::string name = row.szName;
        WriteFile(dir / (name + ".wav"), *row.pWav);
        const SplitRun run = Split(Exact({dir / (name + ".wav")}));
        EXPECT_EQ(run.nCode, 0) << run.strErr;
        EXPECT_THAT(run.strErr, HasSubstr(row.strSaid));
        for (const char* k : {"1", "2"}) {
            EXPECT_EQ(ReadText(dir / (name + k + ".wav")),
                      ReadText(dir / (std::string("Side") + k + ".wav")));
        }
    }
    // Two data chunks: which is the recording cannot be told, and nothing is written.
    WriteFile(dir / "Twice.wav", twice);
    const SplitRun run = Split(Exact({dir / "Twice.wav"}));
    EXPECT_EQ(run.nCode, 1);
    EXPECT_THAT(run.strErr, HasSubstr("holds a second data chunk (8 bytes at byte " +
                                      std::to_string(wav.size() + 8) + ") after the first"));
    EXPECT_FALSE(fs::exists(dir / "Twice1.wav"));
    // The same from a pipe: size 0 means the whole stream.
    WriteFile(dir / "Zero.wav", zero);
    ASSERT_EQ(
        Shell("cat Zero.wav | \"$S\" - -o Z.wav --dc-block off --smart-gap off --min-song 4", dir),
        0)
        << ReadText(dir / "err.txt");
    EXPECT_EQ(ReadText(dir / "Z2.wav"), ReadText(dir / "Side2.wav"));
    // The input named on standard input cannot name the song files.
    EXPECT_EQ(Shell("\"$S\" /dev/stdin < Side.wav", dir), 1);
    EXPECT_THAT(ReadText(dir / "err.txt"),
                HasSubstr("is not a regular file; name the song files with -o"));
    EXPECT_FALSE(fs::exists("/dev/stdin1.wav"));
}
