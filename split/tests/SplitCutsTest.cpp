// Splitting at cuts a person placed (a label file, a cue sheet), names from a track list, and
// FLAC song files: the songs hold the input's very samples at the frames the files mean.
#include <cmath>

#include "split/tests/SplitTestSupport.h"

using namespace splittest;

namespace {

// The input's sample bytes from frame `from` to frame `to`.
Bytes Frames(const Bytes& data, long from, long to, const Format& format = kStereo16) {
    return Bytes(data.begin() + from * format.FrameBytes(),
                 data.begin() + to * format.FrameBytes());
}

// The samples of a FLAC file as the reference decoder gives them.
Bytes Decoded(const fs::path& flac, const CTempDir& dir) {
    const fs::path wav = dir / "decoded.wav";
    fs::remove(wav);
    EXPECT_EQ(RunTool("flac -d -s -o '" + wav.string() + "' '" + flac.string() + "'").nStatus, 0)
        << flac;
    return ReadWav(wav).Data();
}

}  // namespace

TEST(SplitCuts, LabelFileCutsAtItsFramesAndNamesTheSongsAfterItsTitles) {
    CTempDir dir;
    // Noise on a DC offset: DC Block would change every byte, so equal bytes show that nothing
    // was processed.
    const Bytes side = NoisySide(kStereo16, {{12 * kRate, true}});
    WriteWav(dir / "Side.wav", kStereo16, side);
    // A point label, a region ending before the next label (its gap is not written) and a last
    // region ending before the side does. 1.00005 s is 11025.55 frames: rounded up.
    std::ofstream(dir / "labels.txt") << "1.00005\t1.00005\tFirst\n"
                                         "4.5\t6.25\tSecond \"Song\"\n"
                                         "7.000000\t11.5\tThird\n";
    const SplitRun run = SplitOk({"--cuts", dir / "labels.txt", "--labels", dir / "out.txt", "-o",
                                  dir / "songs/", dir / "Side.wav"});
    const long first = 11026, second = 49613, secondEnd = 68906, third = 77175, end = 126788;
    EXPECT_EQ(ReadSongData(dir / "songs/01 First.wav", kStereo16), Frames(side, first, second));
    EXPECT_EQ(ReadSongData(dir / "songs/02 Second \"Song\".wav", kStereo16),
              Frames(side, second, secondEnd));
    EXPECT_EQ(ReadSongData(dir / "songs/03 Third.wav", kStereo16), Frames(side, third, end));
    EXPECT_THAT(run.strErr,
                HasSubstr("00:01.8 of " + (dir / "Side.wav").string() + " between the cuts"));
    EXPECT_THAT(run.strErr, HasSubstr("00:00.5 of " + (dir / "Side.wav").string() +
                                      " after the last song was not written"));
    // The label file the run writes gives the frames it cut at and the titles as it read them
    // (a label file has no quoting to keep a quotation mark from).
    EXPECT_EQ(Lines(ReadText(dir / "out.txt")),
              (std::vector<std::string>{"1.000091\t4.500045\tFirst",
                                        "4.500045\t6.249977\tSecond \"Song\"",
                                        "7.000000\t11.500045\tThird"}));
}

TEST(SplitCuts, CueSheetCutsAtIndexOneAndTagsFlacSongs) {
    if (!ToolInstalled("flac") || !ToolInstalled("metaflac")) GTEST_SKIP() << "needs flac";
    CTempDir dir;
    const Bytes side = WriteSide(dir / "Side.wav", {{10 * kRate, true}});
    // 147 frames to a cue frame at 11,025 a second. Untitled tracks keep the song-file names.
    // The album in Windows-1252 (as an older editor saves it) and the artist given so.
    std::ofstream(dir / "side.cue") << "PERFORMER \"The Band\"\nTITLE \"The Alb\xFCm\"\n"
                                       "FILE \"Side.wav\" WAVE\n"
                                       "  TRACK 01 AUDIO\n    INDEX 01 00:00:00\n"
                                       "  TRACK 02 AUDIO\n    INDEX 00 00:02:00\n"
                                       "    INDEX 01 00:03:74\n"
                                       "  TRACK 03 AUDIO\n    INDEX 01 00:07:01\n";
    SplitOk(
        {"--cuts", dir / "side.cue", "--artist", "Caf\xE9", "--format", "FLAC", dir / "Side.wav"});
    const long second = 3 * kRate + 74 * 147, third = 7 * kRate + 147;
    EXPECT_EQ(Decoded(dir / "Side1.flac", dir), Frames(side, 0, second));
    EXPECT_EQ(Decoded(dir / "Side2.flac", dir), Frames(side, second, third));
    EXPECT_EQ(Decoded(dir / "Side3.flac", dir), Frames(side, third, 10 * kRate));
    const std::string tags =
        RunTool("metaflac --export-tags-to=- '" + (dir / "Side2.flac").string() + "'").szOut;
    EXPECT_EQ(tags, "tracknumber=2\nalbum=The Alb\xC3\xBCm\nartist=Caf\xC3\xA9\n");
}

TEST(SplitCuts, FlacSongsOfADetectedSplitHoldTheWavSongsSamplesAndTheTrackListsTitles) {
    if (!ToolInstalled("flac") || !ToolInstalled("metaflac")) GTEST_SKIP() << "needs flac";
    CTempDir dir;
    // DC Block on: the FLAC songs carry the processed samples exactly as the WAV songs do.
    WriteWav(dir / "Side.wav", kStereo16,
             NoisySide(kStereo16, {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}}));
    const std::vector<std::string> detection = {"--min-song", "4", "--end-gap", "30"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), detection.begin(), detection.end());
        return args;
    };
    SplitOk(with({"-o", dir / "wav/Side.wav", dir / "Side.wav"}));
    const SplitRun flac =
        SplitOk(with({"-o", dir / "flac/Side.flac", "--format", "flac", dir / "Side.wav"}));
    for (const char* song : {"Side1", "Side2"}) {
        EXPECT_EQ(Decoded(dir / "flac" / (song + std::string(".flac")), dir),
                  ReadSongData(dir / "wav" / (song + std::string(".wav")), kStereo16))
            << song;
    }

    // A track list names the songs and says how many there are, as --songs does.
    SplitOk(with({"-o", dir / "counted/Side.wav", "--songs", "2", dir / "Side.wav"}));
    std::ofstream(dir / "tracks.txt") << "A1. Morning (3:45)\n\nB1 - Evening 4:01\n";
    const SplitRun named = SplitOk(with({"-o", dir / "named/", "--format", "flac", "--names",
                                         dir / "tracks.txt", "--artist", "Me", dir / "Side.wav"}));
    EXPECT_EQ(Decoded(dir / "named/02 Evening.flac", dir),
              ReadSongData(dir / "counted/Side2.wav", kStereo16));
    EXPECT_EQ(
        RunTool("metaflac --export-tags-to=- '" + (dir / "named/01 Morning.flac").string() + "'")
            .szOut,
        "title=Morning\ntracknumber=1\nartist=Me\n");
    EXPECT_THAT(named.strOut, HasSubstr("02 Evening.flac"));
}

TEST(SplitCuts, RefusesBeforeWritingAndNeverOverwrites) {
    CTempDir dir;
    WriteSide(dir / "Side.wav", {{10 * kRate, true}});
    WriteWav(dir / "Float.wav", {32, kRate, 2}, MakeSamples({32, kRate, 2}, {{kRate, true}}));
    std::ofstream(dir / "labels.txt") << "1\t1\tOne\n3\t3\tTwo\n";
    std::ofstream(dir / "late.txt") << "1\t1\tOne\n\n10.5\t10.5\tTwo\n";
    std::ofstream(dir / "three.txt") << "One\nTwo\nThree\n";
    std::ofstream(dir / "02 Two.wav") << "the user's";
    struct Case {
        std::vector<std::string> args;
        int nCode;
        const char* szWords;
    };
    const std::string side = dir / "Side.wav", labels = dir / "labels.txt";
    const Case cases[] = {
        {{"--cuts", dir / "late.txt", side}, 1, "late.txt:3: the cut at 00:10.5 is not before"},
        {{"--cuts", labels, "--names", dir / "three.txt", side}, 1, "holds 3 titles"},
        {{"--cuts", labels, side}, 1, "02 Two.wav exists; use --force"},
        {{"--cuts", labels, "--gap-level", "-40", side}, 2, "excludes"},
        {{"--cuts", labels, side, side}, 2, "give one input"},
        {{"--names", dir / "three.txt", "--songs", "2", side}, 2, "disagree"},
        {{"--format", "flac", dir / "Float.wav"}, 1, "FLAC holds integer samples only"},
        {{"--format", "flac", "-o", dir / "x.wav", side}, 2, "name them .flac"},
        {{"--format", "ogg", side}, 2, "expected wav or flac"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const SplitRun run = Split(c.args);
        EXPECT_EQ(run.nCode, c.nCode) << run.strErr;
        EXPECT_THAT(run.strErr, HasSubstr(c.szWords));
        EXPECT_FALSE(fs::exists(dir / "01 One.wav"));
    }
    EXPECT_EQ(ReadText(dir / "02 Two.wav"), "the user's");
    SplitOk({"--cuts", labels, "--force", side});
    EXPECT_EQ(ReadWav(dir / "02 Two.wav").nDataBytes, 7u * kRate * 4);
}

TEST(SplitCuts, AStreamIsCutAndReadToItsEnd) {
    CTempDir dir;
    const Bytes side = MakeSamples(kStereo16, {{6 * kRate, true}});
    std::ofstream(dir / "labels.txt") << "0\t2\tA\n3\t3\tB\n";
    Spawned split =
        SpawnSplit(dir, {"--cuts", (dir / "labels.txt").string(), "-o", dir / "S.wav", "-"});
    ASSERT_TRUE(split.Feed(StreamedWav(kStereo16, side)));
    ASSERT_EQ(split.Wait(), 0) << ReadText(dir / "err.txt");
    EXPECT_EQ(ReadSongData(dir / "01 A.wav", kStereo16), Frames(side, 0, 2 * kRate));
    EXPECT_EQ(ReadSongData(dir / "02 B.wav", kStereo16), Frames(side, 3 * kRate, 6 * kRate));
}

TEST(SplitCuts, ATrackListLongerThanTheSongsFoundLeavesTheirNumberedNames) {
    CTempDir dir;
    WriteSide(dir / "Side.wav", kTwoSongs);
    std::ofstream(dir / "tracks.txt") << "One\nTwo\nThree\n";
    const SplitRun run =
        Split(Exact({"--names", dir / "tracks.txt", "--end-gap", "30", dir / "Side.wav"}));
    EXPECT_EQ(run.nCode, 1);
    EXPECT_THAT(run.strErr, HasSubstr("holds 3 titles, the side was split into 2 songs"));
    EXPECT_EQ(SongFiles(dir, "Side", ".wav").size(), 2u);
    EXPECT_FALSE(fs::exists(dir / "01 One.wav"));
}

TEST(SplitCuts, DeclickRepairsOnlyTheClicksOfTheSongsItWrites) {
    CTempDir dir;
    // Two songs of two tones with a click in each, 2 s of near silence between them.
    const long songFrames = 5 * kRate, gapFrames = 2 * kRate;
    const long clicks[] = {2 * kRate, songFrames + gapFrames + 3 * kRate};
    Bytes side((2 * songFrames + gapFrames) * kStereo16.FrameBytes(), 0);
    for (long i = 0; i < 2 * songFrames + gapFrames; ++i) {
        const bool quiet = i >= songFrames && i < songFrames + gapFrames;
        const double t = double(i) / kRate;
        const double v =
            quiet ? 0
                  : 0.2 * std::sin(2 * M_PI * 440 * t) + 0.1 * std::sin(2 * M_PI * 1250 * t + 1);
        for (int c = 0; c < 2; ++c) PutSample(side, i, c, int16_t(std::lround(v * 32767)));
    }
    for (long at : clicks) {
        for (long i = 0; i < 10; ++i) {
            PutSample(side, at + i, 0,
                      int16_t(std::lround(16000 * std::exp(-0.3 * i) * std::cos(2.0 * i))));
        }
    }
    WriteWav(dir / "Side.wav", kStereo16, side);
    const std::vector<std::string> detection = {"--dc-block", "off",       "--min-song",
                                                "4",          "--end-gap", "30"};
    auto with = [&](std::vector<std::string> args) {
        args.insert(args.end(), detection.begin(), detection.end());
        return args;
    };
    const SplitRun plain = SplitOk(with({"-o", dir / "plain/Side.wav", dir / "Side.wav"}));
    // Found on the audio as it came, the cuts are the plain split's: only the clicks differ.
    const SplitRun repaired =
        SplitOk(with({"--declick", "strong", "-o", dir / "repaired/Side.wav", dir / "Side.wav"}));
    for (int song = 1; song <= 2; ++song) {
        const std::string name = "Side" + std::to_string(song) + ".wav";
        const Bytes before = ReadSongData(dir / "plain" / name, kStereo16);
        const Bytes after = ReadSongData(dir / "repaired" / name, kStereo16);
        ASSERT_EQ(before.size(), after.size()) << name;
        const long start = song == 1 ? 0 : songFrames + kCutInSilence;
        long changed = 0;
        for (size_t b = 0; b < before.size(); ++b) {
            if (before[b] == after[b]) continue;
            const long frame = start + long(b / kStereo16.FrameBytes());
            EXPECT_NEAR(frame, clicks[song - 1], 40) << name;
            ++changed;
        }
        EXPECT_GT(changed, 0) << name;
    }
    EXPECT_THAT(repaired.strOut, HasSubstr("Side1.wav  00:06.0  1 click repaired"));
    EXPECT_THAT(repaired.strOut, HasSubstr(", 2 clicks repaired\n"));
    EXPECT_THAT(plain.strOut, testing::Not(HasSubstr("repaired")));

    // A dry run counts them; a word after --declick that is no sensitivity is an input.
    const SplitRun listed = SplitOk(with({"--declick", dir / "Side.wav", "--list"}));
    EXPECT_THAT(listed.strOut, HasSubstr("clipped  clicks  file"));
    EXPECT_THAT(listed.strOut, testing::ContainsRegex(" 1  Side1.wav"));
    EXPECT_EQ(Split({"--declick=loud", dir / "Side.wav"}).nCode, 2);
}
