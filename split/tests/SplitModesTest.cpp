// The splitter's other modes and its inputs, on generated sides whose answers are known to the
// sample: the listing, label file and cue sheet against a real split, the song count, the
// reasons for one song, the probe, several inputs at once, streamed and hostile inputs.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>

#include <cmath>
#include <regex>
#include <thread>

#include "split/tests/SplitTestSupport.h"
#include "take/TakeList.h"

extern char** environ;

using namespace splittest;

namespace {

// A stretch of a steady 200 Hz tone of the given peak level, which both filters pass.
void Tone(std::vector<char>& data, long from, long frames, double db) {
    const double amplitude = std::pow(10.0, db / 20.0) * 32768.0;
    for (long i = 0; i < frames; ++i) {
        const auto v =
            static_cast<int16_t>(std::lround(amplitude * std::sin(2 * M_PI * 200 * i / kRate)));
        PutSample(data, from + i, 0, v);
        PutSample(data, from + i, 1, v);
    }
}

// A side of the plan's segments: its loud ones noise with a passage of a quieter tone (from
// `passageAt` into the song, `passageFrames` long, at `passageDb`), its quiet ones a tone floor.
void WriteQuietSide(const fs::path& path, const std::vector<Segment>& plan, long passageAt,
                    long passageFrames, double passageDb, double floorDb, uint32_t seed) {
    auto data = MakeSamples(kStereo16, plan);
    long at = 0;
    for (const Segment& s : plan) {
        for (long f = at; s.bLoud && f < at + s.nFrames; ++f) {
            for (int ch = 0; ch < 2; ++ch) {
                seed = seed * 1664525u + 1013904223u;
                PutSample(data, f, ch,
                          static_cast<int16_t>(static_cast<int>(seed >> 16) / 4 - 8192));
            }
        }
        if (s.bLoud) {
            Tone(data, at + passageAt, passageFrames, passageDb);
        } else {
            Tone(data, at, s.nFrames, floorDb);
        }
        at += s.nFrames;
    }
    WriteWav(path, kStereo16, data);
}

}  // namespace

TEST(SplitModes, ListLabelsAndCueDescribeTheFilesASplitWrites) {
    CTempDir dir;
    const std::vector<Segment> plan = {{5 * kRate, true},       {2 * kRate, false},
                                       {6 * kRate + 123, true}, {3 * kRate, false},
                                       {4 * kRate, true},       {kRate / 2, false}};
    auto data = MakeSamples(kStereo16, plan);
    PutSample(data, 8 * kRate, 0, 32767);  // one clipped sample in song 2
    WriteWav(dir / "Side.wav", kStereo16, data);
    const SplitRun list = SplitOk(Exact(
        {dir / "Side.wav", "--list", "--labels", dir / "Side.txt", "--cue", dir / "Side.cue"}));
    EXPECT_TRUE(SongFiles(dir, "Side", ".wav").empty()) << "a dry run wrote song files";
    EXPECT_FALSE(fs::exists(TakeListPath((dir / "Side.wav").string())));

    // The split itself starts its songs at frames 0, 66149 and 154472 of 226135 (the cuts' own
    // test), and its take list says so.
    SplitOk(Exact({dir / "Side.wav"}));
    std::vector<TakeListEntry> listed;
    ASSERT_TRUE(ReadTakeList((dir / "Side.wav").string(), &listed));
    EXPECT_EQ(listed, (std::vector<TakeListEntry>{{"Side1.wav", 66149},
                                                  {"Side2.wav", 154472 - 66149},
                                                  {"Side3.wav", 226135 - 154472}}));

    // Song rows: number, start, end, length, peak, clipped, file; then the two gaps.
    const auto rows = Lines(list.strOut);
    ASSERT_GE(rows.size(), 8u) << list.strOut;
    const std::regex song(R"(\s+\d+\s+(\S+)\s+(\S+)\s+\S+\s+\S+\s+(\d+)\s+(\S+))");
    const std::vector<std::string> want[] = {{"00:00.0", "00:06.0", "0", "Side1.wav"},
                                             {"00:06.0", "00:14.0", "1", "Side2.wav"},
                                             {"00:14.0", "00:20.5", "0", "Side3.wav"}};
    for (size_t k = 0; k < 3; ++k) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(rows[k + 2], m, song)) << rows[k + 2];
        EXPECT_EQ((std::vector<std::string>{m[1], m[2], m[3], m[4]}), want[k]);
    }
    EXPECT_THAT(rows[3], HasSubstr(" -0.0 "));  // the full-scale sample
    // The quiet frames reach 500 (-36.3 dB), as the detector saw them.
    EXPECT_TRUE(std::regex_search(
        list.strOut,
        std::regex(R"(\n +00:05\.0 +00:02\.0 +-\d+\.\d +-36\.3  split at 00:06\.0\n)")))
        << list.strOut;
    // A gap's quietest level is that of its quietest 10 ms, not a zero crossing's (-100).
    auto hum = MakeSamples(kStereo16, plan);
    Tone(hum, 5 * kRate, 2 * kRate, -60.0);
    WriteWav(dir / "Hum.wav", kStereo16, hum);
    const SplitRun humList = Split(Exact({dir / "Hum.wav", "--list"}));
    std::smatch quiet;
    ASSERT_TRUE(std::regex_search(humList.strOut, quiet,
                                  std::regex(R"(\n +00:05\.0 +00:02\.0 +(-\d+\.\d) )")))
        << humList.strOut;
    EXPECT_NEAR(std::stod(quiet[1]), -60.0, 0.5);
    EXPECT_THAT(list.strOut, HasSubstr("  split at 00:14.0"));

    // Labels in seconds with six decimals; cue frames and listed times rounded to the nearest,
    // as editors show them (5.999909 s is 00:06.0 and 0:06.00).
    EXPECT_EQ(ReadText(dir / "Side.txt"),
              "0.000000\t5.999909\tSide1\n5.999909\t14.011066\tSide2\n"
              "14.011066\t20.511111\tSide3\n");
    ASSERT_EQ(Shell("cueprint -d '%N\\n' -t '' Side.cue && cuebreakpoints Side.cue", dir), 0)
        << ReadText(dir / "err.txt");
    EXPECT_EQ(ReadText(dir / "out.txt"), "3\n0:06.00\n0:14.01\n");
    EXPECT_EQ(Lines(ReadText(dir / "Side.cue"))[0], "FILE \"Side.wav\" WAVE");
}

TEST(SplitModes, SongCountCutsAtTheLongestGapsNotAtQuietPassages) {
    CTempDir dir;
    // Quiet passages inside songs last 1.5 s (longer than Gap Size), the gaps 2.5 s; the run-out
    // after the last song, 4 s, is no gap between songs.
    const std::vector<Segment> plan = {
        {5 * kRate, true},  {3 * kRate / 2, false}, {5 * kRate, true}, {5 * kRate / 2, false},
        {5 * kRate, true},  {3 * kRate / 2, false}, {5 * kRate, true}, {5 * kRate / 2, false},
        {10 * kRate, true}, {4 * kRate, false}};
    const auto data = WriteSide(dir / "Side.wav", plan);
    SplitOk(Exact({dir / "Side.wav", "-o", dir / "Live.wav"}));
    // The live rule cuts at all four, and once in the run-out, which is no song.
    EXPECT_EQ(SongFiles(dir, "Live", ".wav").size(), 5u);

    SplitOk(Exact({dir / "Side.wav", "--songs", "3"}));
    const auto songs = SongData(dir, "Side", kStereo16);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(Join(songs), data);
    // Inside the gaps (11.5 to 14 s, 25.5 to 28 s), with Gap Size of them around each cut.
    const size_t cut1 = songs[0].size() / 4, cut2 = cut1 + songs[1].size() / 4;
    EXPECT_GE(cut1, size_t(12 * kRate));
    EXPECT_LE(cut1, size_t(27 * kRate / 2));
    EXPECT_GE(cut2, size_t(26 * kRate));
    EXPECT_LE(cut2, size_t(55 * kRate / 2));
    // More songs than gaps: the next test.
}

TEST(SplitModes, SongCountCutsQuietPiecesInTheirGapsNotInTheirCodas) {
    CTempDir dir;
    // Songs at -20 dB whose codas and intros at -45 dB lie below Gap Level: each quiet stretch
    // is a coda, a silent gap and an intro (6 to 17 s, 23 to 32.5 s), and the run-out follows.
    const long s = kRate;
    Bytes side(size_t(83 * s / 2) * 4, 0);
    const std::tuple<long, long, double> tones[] = {
        {0, 6 * s, -20},         {6 * s, 5 * s, -45},  {13 * s, 4 * s, -45},
        {17 * s, 6 * s, -20},    {23 * s, 3 * s, -45}, {55 * s / 2, 5 * s, -45},
        {65 * s / 2, 6 * s, -20}};
    for (const auto& [from, frames, db] : tones) Tone(side, from, frames, db);
    WriteWav(dir / "Quiet.wav", kStereo16, side);
    SplitRun run = SplitOk(Exact({dir / "Quiet.wav", "--songs", "3"}));
    auto songs = SongData(dir, "Quiet", kStereo16);
    ASSERT_EQ(songs.size(), 3u);
    EXPECT_EQ(Join(songs), side);
    // In the middle of the silent gaps (11 to 13 s, 26 to 27.5 s), to the 10 ms grid.
    const long cut1 = long(songs[0].size() / 4), cut2 = cut1 + long(songs[1].size() / 4);
    EXPECT_NEAR(cut1, 12 * s, s / 100 + 1);
    EXPECT_NEAR(cut2, 107 * s / 4, s / 100 + 1);

    // More songs than gaps: the stretches found are listed and cut at; the run-out is never a
    // gap.
    run = SplitOk(Exact({dir / "Quiet.wav", "--songs", "4", "-o", dir / "Four.wav"}));
    EXPECT_THAT(run.strErr, HasSubstr("has 2 gaps for 4 songs"));
    EXPECT_THAT(
        run.strErr,
        HasSubstr("at 00:38.5, 3.00 s, loudest -38.9 dB: the run-out, no gap between songs\n"));
    EXPECT_EQ(SongFiles(dir, "Four", ".wav").size(), 3u);

    // Two stretches closer than Minimum Song Size (4 s): only the longer is cut.
    WriteSide(dir / "Near.wav",
              {{5 * s, true}, {3 * s, false}, {s, true}, {5 * s / 2, false}, {5 * s, true}});
    run = SplitOk(Exact({dir / "Near.wav", "--songs", "3"}));
    songs = SongData(dir, "Near", kStereo16);
    ASSERT_EQ(songs.size(), 2u);
    EXPECT_NEAR(long(songs[0].size() / 4), 13 * s / 2, s / 100 + 1);
    // Each stretch says what became of it: none is left to look like an uncut gap.
    const std::string minSong = "Minimum Song Size (4.00 s)";
    EXPECT_THAT(run.strErr, HasSubstr("has 1 gap for 3 songs"));
    EXPECT_THAT(run.strErr, HasSubstr("at 00:05.0, 3.00 s, loudest -36.3 dB: cut at 00:06.5\n"));
    EXPECT_THAT(run.strErr, HasSubstr("at 00:09.0, 2.50 s, loudest -36.3 dB: not cut: closer "
                                      "than " +
                                      minSong + " to the cut at 00:06.5\n"));

    // Stretches too near either end of the side for a song before or after them.
    WriteSide(dir / "Edge.wav", {{2 * s, true},
                                 {2 * s, false},
                                 {8 * s, true},
                                 {2 * s, false},
                                 {8 * s, true},
                                 {3 * s / 2, false},
                                 {2 * s, true}});
    run = SplitOk(Exact({dir / "Edge.wav", "--songs", "5", "--list"}));
    EXPECT_THAT(run.strErr, HasSubstr("has 1 gap for 5 songs"));
    EXPECT_THAT(run.strErr,
                HasSubstr("at 00:02.0, 2.00 s, loudest -36.3 dB: not cut: the first song would "
                          "be shorter than " +
                          minSong + "\n"));
    EXPECT_THAT(run.strErr, HasSubstr("at 00:12.0, 2.00 s, loudest -36.3 dB: cut at 00:13.0\n"));
    EXPECT_THAT(run.strErr,
                HasSubstr("at 00:22.0, 1.50 s, loudest -36.3 dB: not cut: the last song would be "
                          "shorter than " +
                          minSong + "\n"));
    // Between the noise's samples nothing is quiet for long: no stretch of 0.00 s is named.
    EXPECT_THAT(run.strErr, Not(HasSubstr("0.00 s")));
}

TEST(SplitModes, OneSongIsExplained) {
    CTempDir dir;
    // Too short: half a second of silence between the songs.
    WriteSide(dir / "Short.wav", {{5 * kRate, true}, {kRate / 2, false}, {5 * kRate, true}});
    SplitRun run = SplitOk(Exact({dir / "Short.wav"}));
    EXPECT_THAT(run.strErr,
                HasSubstr("the longest stretch at or below Gap Level (-35.0 dB) after the "
                          "first 00:04.0 lasts 0.50 s (at 00:05.0); Gap Size is 1.00 s"));
    EXPECT_THAT(run.strOut, HasSubstr("1 song file, "));

    // Too loud: two seconds at -30 dB, above the gap level.
    auto loud = MakeSamples(kStereo16, {{12 * kRate, true}});
    for (long f = 5 * kRate; f < 7 * kRate; ++f) {
        PutSample(loud, f, 0, f % 2 ? 1037 : -1037);
        PutSample(loud, f, 1, 0);
    }
    WriteWav(dir / "Loud.wav", kStereo16, loud);
    run = SplitOk(Exact({dir / "Loud.wav", "--list"}));
    EXPECT_THAT(run.strErr,
                HasSubstr("the quietest 1.00 s after the first 00:04.0 reaches -30.0 dB (at "
                          "00:05.0); Gap Level is -35.0 dB"));

    // End Gap ended the side: that is the reason, not the stretches before it; with several
    // inputs each names its own.
    // Three songs at -30 dB, all below a Gap Level of -6 dB.
    auto side = MakeSamples(kStereo16, {{20 * kRate, false}});
    for (long from : {0L, 7L * kRate, 14L * kRate}) Tone(side, from, 5 * kRate, -30);
    WriteWav(dir / "Side.wav", kStereo16, side);
    WriteWav(dir / "Two.wav", kStereo16, side);
    run = SplitOk(
        Exact({dir / "Side.wav", dir / "Two.wav", "--gap-level", "-6", "-o", dir / "out/"}));
    for (const char* input : {"Side.wav", "Two.wav"}) {
        EXPECT_THAT(run.strErr, HasSubstr("vellisto-split: " + (dir / input).string() +
                                          ": why one song: End Gap ended the side at 00:07.4; "
                                          "00:12.6 after it was not split, nothing of it above "
                                          "Gap Level\n"));
    }
    EXPECT_THAT(run.strErr, Not(HasSubstr("the side lasts")));
    EXPECT_EQ(SongFiles(dir, "out/Side", ".wav").size(), 1u);  // the first file stays
}

TEST(SplitModes, ProbeFindsTheFloorAndItsLevelSplitsTheSide) {
    CTempDir dir;
    // A lead-in of 7.4 s (longer than the default End Gap), four songs of 8 s with a 1.5 s
    // passage at -40 dB in each, gaps of 2 s, a short run-out; the floor is a -60 dB tone.
    // Default DC Block and Smart Gap; songs of at least 7.5 s.
    const long song = 8 * kRate, gap = 2 * kRate, leadIn = 74 * kRate / 10;
    std::vector<Segment> plan = {{leadIn, false}};
    for (int k = 0; k < 4; ++k)
        plan.insert(plan.end(), {{song, true}, {k < 3 ? gap : kRate / 2, false}});
    WriteQuietSide(dir / "Side.wav", plan, 3 * kRate, 3 * kRate / 2, -40.0, -60.0, 99);
    const SplitRun probe = SplitOk({dir / "Side.wav", "--probe", "--min-song", "7.5"});
    std::smatch m;
    ASSERT_TRUE(
        std::regex_search(probe.strOut, m, std::regex(R"(quietest stretches: (\S+) to (\S+) dB)")))
        << probe.strOut;
    EXPECT_NEAR(std::stod(m[1]), -60.0, 1.0);
    EXPECT_NEAR(std::stod(m[2]), -60.0, 1.0);
    ASSERT_TRUE(std::regex_search(probe.strOut, m, std::regex(R"(inside songs: (\S+) dB)")));
    EXPECT_NEAR(std::stod(m[1]), -40.0, 1.0);
    // End Gap outlasts the lead-in; the suggestion was tried before it was printed.
    EXPECT_THAT(probe.strOut, HasSubstr("suggested End Gap: 9 s"));
    EXPECT_THAT(probe.strOut, HasSubstr("at that level the side splits into 4 songs:\n"));
    ASSERT_TRUE(std::regex_search(
        probe.strOut, m,
        std::regex(
            R"(\n  vellisto-split --gap-level (\S+) --min-song 7.5 --end-gap 9 '.*Side.wav'\n)")))
        << probe.strOut;
    EXPECT_FALSE(fs::exists(dir / "Side1.wav"));

    SplitOk({dir / "Side.wav", "--min-song", "7.5", "--gap-level", m[1], "--end-gap", "9"});
    const auto songs = SongFiles(dir, "Side", ".wav");
    ASSERT_EQ(songs.size(), 4u);
    // Each cut lies in its gap: one Gap Size in, Smart Gap's ring-out aside.
    long cut = 0;
    for (size_t k = 0; k + 1 < songs.size(); ++k) {
        cut += static_cast<long>(ReadSongData(songs[k], kStereo16).size() / 4);
        const long gapStart = leadIn + static_cast<long>(k + 1) * song + static_cast<long>(k) * gap;
        EXPECT_GT(cut, gapStart + kRate - 1) << k;
        EXPECT_LT(cut, gapStart + gap) << k;
    }
}

// A quiet side: four songs of noise with a 2 s passage at -40 dB in each, a -60 dB floor in
// the gaps, one gap of 8.3 s. The defaults cut inside the songs and End Gap ends the side at
// the long gap: the probe endorses none of that, and the automatic levels split it right, as
// the options they print do again byte for byte.
TEST(SplitModes, TheProbeAndAutomaticLevelsCutTheGapsOfAQuietSide) {
    CTempDir dir;
    const long song = 12 * kRate;
    const std::vector<long> gaps = {2 * kRate, 83 * kRate / 10, 2 * kRate, 3 * kRate};
    std::vector<Segment> plan = {{kRate, false}};
    for (long gap : gaps) plan.insert(plan.end(), {{song, true}, {gap, false}});
    std::vector<long> gapStarts;
    long at = 0;
    for (const Segment& s : plan) {
        if (!s.bLoud && at > 0) gapStarts.push_back(at);
        at += s.nFrames;
    }
    auto writeSide = [&](const fs::path& path, double passage, double floor) {
        WriteQuietSide(path, plan, 7 * kRate, 2 * kRate, passage, floor, 7);
    };
    // A floor that measures alike in every gap is told from music only 4 dB above it.
    writeSide(dir / "Near.wav", -48.0, -52.0);
    EXPECT_THAT(SplitOk({dir / "Near.wav", "--probe", "--min-song", "7.5"}).strOut,
                HasSubstr("suggested Gap Level: -50."));
    writeSide(dir / "Quiet.wav", -40.0, -60.0);

    const SplitRun probe = SplitOk({dir / "Quiet.wav", "--probe", "--min-song", "7.5"});
    EXPECT_THAT(probe.strOut, Not(HasSubstr("the settings given already split")));
    EXPECT_THAT(probe.strOut, HasSubstr("with the settings given:\n  End Gap ends the side at "
                                        "00:34.2, before sound that goes on to 01:01.3\n"));
    EXPECT_THAT(probe.strOut, HasSubstr("  2 cuts fall in a passage louder than the gaps between "
                                        "songs (at 00:09.0, 00:23.0)\n"));
    EXPECT_THAT(probe.strOut, HasSubstr("suggested End Gap: 10 s"));
    EXPECT_THAT(probe.strOut, HasSubstr("at that level the side splits into 4 songs:\n"));

    const SplitRun split = SplitOk({dir / "Quiet.wav", "-o", dir / "auto/Side.wav", "--min-song",
                                    "7.5", "--gap-level", "auto", "--end-gap", "AUTO"});
    std::smatch m;
    ASSERT_TRUE(std::regex_search(
        split.strErr, m, std::regex(R"(the same split again: --gap-level (\S+) --end-gap 10\n)")))
        << split.strErr;
    EXPECT_THAT(split.strErr, HasSubstr("--gap-level auto: " + std::string(m[1]) +
                                        " dB, between the gaps' floor ("));
    const auto songs = SongFiles(dir, "auto/Side", ".wav");
    ASSERT_EQ(songs.size(), 4u);
    long cut = 0;
    for (size_t k = 0; k + 1 < songs.size(); ++k) {
        cut += static_cast<long>(ReadSongData(songs[k], kStereo16).size() / 4);
        EXPECT_GT(cut, gapStarts[k] + kRate - 1) << k;
        EXPECT_LT(cut, gapStarts[k] + gaps[k]) << k;
    }
    SplitOk({dir / "Quiet.wav", "-o", dir / "again/Side.wav", "--min-song", "7.5", "--gap-level",
             m[1], "--end-gap", "10"});
    const auto again = SongFiles(dir, "again/Side", ".wav");
    ASSERT_EQ(again.size(), songs.size());
    for (size_t k = 0; k < songs.size(); ++k)
        EXPECT_EQ(ReadText(again[k]), ReadText(songs[k])) << k;

    // A stream cannot be measured first; a side without a floor below its songs has no level.
    WriteSide(dir / "Tone.wav", {{10 * kRate, true}});
    const SplitRun none = Split({dir / "Tone.wav", "--list", "--gap-level", "auto"});
    EXPECT_EQ(none.nCode, 1);
    EXPECT_THAT(none.strErr, HasSubstr("give the number of songs (--songs N) or a track list"));
    EXPECT_EQ(Split({dir / "Quiet.wav", "--list", "--gap-level", "soft"}).nCode, 2);
    EXPECT_THAT(SplitOk({dir / "Tone.wav", "--probe"}).strOut,
                HasSubstr("no gaps between songs that a level can find"));
}

TEST(SplitModes, ProbeSaysWhenTheSettingsGivenAlreadySplitTheSide) {
    CTempDir dir;
    WriteSide(dir / "Clean.wav", kThreeSongs);
    const SplitRun probe = SplitOk(Exact({dir / "Clean.wav", "--probe"}));
    EXPECT_THAT(probe.strOut, HasSubstr("the settings given already split the side into 3 songs"));
    EXPECT_THAT(probe.strOut,
                HasSubstr("  vellisto-split --min-song 4 --dc-block off --smart-gap off '"));
    EXPECT_THAT(probe.strOut, Not(HasSubstr("no clear gaps")));
    EXPECT_TRUE(SongFiles(dir, "Clean", ".wav").empty());
}

TEST(SplitModes, ALastPieceOfRunOutIsNotKept) {
    CTempDir dir;
    // A long run-out that End Gap (30 s) does not end, and a song file split again: its Gap
    // Size of silence at the end is a gap, after which 0.1 s remain.
    WriteSide(dir / "Long.wav", {{5 * kRate, true}, {11 * kRate, false}});
    WriteSide(dir / "Song.wav", {{5 * kRate, true}, {kRate + kRate / 10, false}});
    WriteSide(dir / "Two.wav",
              {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}, {2 * kRate, false}});
    struct Row {
        std::vector<std::string> args;
        size_t nSongs;
        std::string strSaid;
    };
    // The 11 s of run-out are cut every 4 s (Gap Size plus Minimum Song Size): three pieces.
    const Row rows[] = {
        {{dir / "Long.wav", "--end-gap", "30"}, 1, "removed Long2.wav to Long4.wav: they held"},
        {{dir / "Song.wav"}, 1, "removed Song2.wav: it held"},
        {{dir / "Two.wav"}, 2, "removed Two3.wav: it held"},
    };
    for (const auto& [args, songs, said] : rows) {
        SCOPED_TRACE(args[0]);
        const std::string stem = fs::path(args[0]).stem();
        SplitRun run = SplitOk(Exact(args));
        EXPECT_EQ(SongFiles(dir, stem, ".wav").size(), songs);
        EXPECT_THAT(run.strErr, HasSubstr(said + " nothing above Gap Level after the last song"));
        EXPECT_FALSE(fs::exists(dir / (stem + std::to_string(songs + 1) + ".wav")));
        // The listing agrees.
        std::vector<std::string> list = args;
        list.insert(list.end(), {"--list", "-o", dir / "L.wav"});
        run = SplitOk(Exact(list));
        EXPECT_THAT(run.strOut,
                    HasSubstr(std::to_string(songs) + (songs == 1 ? " song " : " songs ")));
    }
}

TEST(SplitModes, SeveralInputsEachAsIfAloneInTheirOrder) {
    CTempDir dir;
    WriteSide(dir / "A.wav", kTwoSongs);
    std::ofstream(dir / "Bad.wav") << "not audio";
    WriteSide(dir / "C.wav", kThreeSongs);
    std::map<std::string, std::string> files[2];
    for (int jobs : {1, 2}) {
        const std::string out = dir / ("j" + std::to_string(jobs));
        fs::create_directory(out);
        const SplitRun run = Split(Exact({dir / "A.wav", dir / "Bad.wav", dir / "C.wav", "-o",
                                          out + "/", "-j", std::to_string(jobs)}));
        EXPECT_EQ(run.nCode, 1);
        EXPECT_THAT(run.strErr, HasSubstr("Bad.wav is not a WAV file"));
        const auto lines = Lines(run.strOut);
        ASSERT_EQ(lines.size(), 8u) << run.strOut;
        EXPECT_THAT(lines[0], StartsWith(out + "/A1.wav  "));
        EXPECT_THAT(lines[3], StartsWith(out + "/C1.wav  "));
        EXPECT_EQ(lines[7], "3 inputs, 5 songs in all; 1 failed: " + (dir / "Bad.wav").string());
        for (const auto& e : fs::directory_iterator(out)) {
            files[jobs - 1][e.path().filename()] = ReadText(e.path());
        }
    }
    EXPECT_EQ(files[0].size(), 7u);  // five songs and the take lists of both sides
    EXPECT_EQ(files[0], files[1]);
    EXPECT_EQ(Split({dir / "A.wav", dir / "C.wav", "-o", dir / "x.wav"}).nCode, 2);
}

// Faults found by trying the splitter as a new user would; each test failed before its fix.
TEST(SplitFaults, AFileThisRunDidNotCreateIsNeverCleanedUp) {
    CTempDir dir;
    WriteSide(dir / "SideA.wav", kThreeSongs);
    fs::create_directory(dir / "SideA2.wav");  // the user's, at the next song's name
    const SplitRun run = Split(Exact({dir / "SideA.wav", "--force"}));
    EXPECT_EQ(run.nCode, 1);
    EXPECT_TRUE(fs::is_directory(dir / "SideA2.wav"));
    EXPECT_TRUE(fs::exists(dir / "SideA1.wav"));
    // Said once, with the system's reason instead of a guess.
    const std::string said = "Cannot create output file " + (dir / "SideA2.wav").string() + ".";
    EXPECT_THAT(run.strErr, HasSubstr(said));
    EXPECT_EQ(run.strErr.find(said), run.strErr.rfind(said)) << run.strErr;
    EXPECT_THAT(run.strErr, HasSubstr("Is a directory"));
    EXPECT_THAT(run.strErr, Not(HasSubstr("Probably in use")));
}

TEST(SplitFaults, EveryValueTheHelpNamesIsAccepted) {
    CTempDir dir;
    WriteSide(dir / "In.wav", {{2 * kRate, true}});
    // As separate arguments: a negative level must not read as an option.
    const std::pair<const char*, const char*> values[] = {
        {"--gap-size", "0.01"}, {"--gap-size", "5"},    {"--min-song", "1"},
        {"--min-song", "200"},  {"--end-gap", "1"},     {"--end-gap", "30"},
        {"--gap-level", "-6"},  {"--gap-level", "-96"}, {"--gap-level", "-144"}};
    for (const auto& [option, value] : values) {
        const SplitRun run = Split({dir / "In.wav", "--force", option, value});
        EXPECT_EQ(run.nCode, 0) << option << " " << value << ": " << run.strErr;
    }
}

// 24-bit integer input: the hint keeps its depth as 32-bit float, which is split as it is.
TEST(SplitFaults, TheConversionHintIsSafeToPaste) {
    CTempDir dir;
    const std::string name = "a';touch X;'.wav";
    Bytes wav = MakeWav({24, kRate, 2}, Bytes(600));
    WriteFile(dir / name, wav);
    const SplitRun run = Split({dir / name});
    EXPECT_EQ(run.nCode, 1);
    const size_t at = run.strErr.find("for example: sox ");
    ASSERT_NE(at, std::string::npos) << run.strErr;
    std::string command = run.strErr.substr(at + 13);
    command.pop_back();  // the line end
    std::ofstream(dir / "hint.sh") << "sox() { printf '%s\\n' \"$@\"; }\n" << command << "\n";
    ASSERT_EQ(Shell("sh hint.sh", dir), 0);
    const std::string stem = (dir / "a';touch X;'").string();
    EXPECT_EQ(Lines(ReadText(dir / "out.txt")),
              (std::vector<std::string>{(dir / name).string(), "-e", "floating-point", "-b", "32",
                                        stem + "-float.wav"}));
    EXPECT_FALSE(fs::exists(dir / "X"));
    // No hint where the sample type is not the trouble: the header ends before "data".
    wav.resize(36);
    WriteFile(dir / "NoData.wav", wav);
    EXPECT_THAT(Split({dir / "NoData.wav"}).strErr, Not(HasSubstr("convert")));
}

TEST(SplitFaults, AFifoInterruptedOnceExitsWith128PlusTheSignal) {
    CTempDir dir;
    ASSERT_EQ(mkfifo((dir / "fifo").c_str(), 0600), 0);
    const std::string input = dir / "fifo", output = dir / "F.wav";
    const char* argv[] = {VELLISTO_SPLIT_PATH, input.c_str(), "-o", output.c_str(), nullptr};
    pid_t pid = 0;
    ASSERT_EQ(
        posix_spawn(&pid, VELLISTO_SPLIT_PATH, nullptr, nullptr, const_cast<char**>(argv), environ),
        0);
    // Until it waits in the FIFO's open for a writer that never comes.
    const std::string wchan = "/proc/" + std::to_string(pid) + "/wchan";
    const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (ReadText(wchan) != "wait_for_partner" && std::chrono::steady_clock::now() < limit) {
        std::this_thread::yield();
    }
    EXPECT_EQ(ReadText(wchan), "wait_for_partner");
    kill(pid, SIGINT);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 130);
}

TEST(SplitFaults, ASongGoingOnInTheNextFileIsSaid) {
    CTempDir dir;
    WriteSide(dir / "Long.wav", {{5 * kRate, true}});
    SplitOptions options;
    options.strInput = dir / "Long.wav";
    options.nMaxSongBytes = 100000;  // one 64 KiB block per file
    std::ostringstream out, err;
    CSplitter splitter(options, out, err);
    ASSERT_EQ(splitter.Run(), 0) << err.str();
    const auto lines = Lines(out.str());
    ASSERT_EQ(lines.size(), 4u) << out.str();  // 64 KiB, 64 KiB, the rest, the total
    EXPECT_THAT(lines[0], Not(HasSubstr("goes on")));
    for (size_t k = 1; k < 3; ++k) {
        EXPECT_THAT(lines[k],
                    HasSubstr("(goes on from the file before: a WAV file holds at most 4 GiB)"));
    }
}

TEST(SplitModes, EveryExampleOfTheManualRuns) {
    CTempDir dir;
    // Inputs the examples name, at 11,025 per second: noise songs long enough for their
    // settings, gaps of faint noise on a DC offset (-66 dB once DC Block has taken it away,
    // below the -52 dB the probe example passes on).
    auto side = [](long songSeconds, int songs) {
        std::vector<Segment> plan;
        for (int k = 0; k < songs; ++k) {
            plan.push_back({songSeconds * kRate, true});
            plan.push_back({2 * kRate, false});
        }
        return NoisySide(kStereo16, plan);
    };
    WriteWav(dir / "SideA.wav", kStereo16, side(31, 3));
    WriteWav(dir / "SideB.wav", kStereo16, side(31, 6));
    WriteWav(dir / "tape.wav", kStereo16, side(61, 2));
    WriteWav(dir / "Concert.wav", kStereo16, side(20, 1));
    ASSERT_EQ(Shell("sox tape.wav tape.flac", dir), 0) << ReadText(dir / "err.txt");
    std::ofstream(dir / "tracks.txt") << "A1 Morning 3:12\nA2 Noon\nA3 Night\n";
    ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);  // the starting presets

    std::ifstream manual(VELLISTO_MANUAL_PATH);
    std::vector<std::string> examples;
    bool inExamples = false, inBlock = false;
    for (std::string line; std::getline(manual, line);) {
        if (line.rfind(".SH", 0) == 0) inExamples = line == ".SH EXAMPLES";
        if (!inExamples) continue;
        if (line == ".EX") {
            inBlock = true;
            examples.emplace_back();
        } else if (line == ".EE") {
            inBlock = false;
        } else if (inBlock) {
            for (size_t at; (at = line.find("\\-")) != std::string::npos;) line.erase(at, 1);
            for (size_t at = 0; (at = line.find("vellisto-split", at)) != std::string::npos;) {
                line.replace(at, 14, "\"$S\"");
            }
            examples.back() += (examples.back().empty() ? "" : " && ") + line;
        }
    }
    ASSERT_EQ(examples.size(), 7u);
    for (size_t k = 0; k < examples.size(); ++k) {
        SCOPED_TRACE(examples[k]);
        const std::string folder = "ex" + std::to_string(k);
        fs::create_directory(dir / folder);
        for (const char* input :
             {"SideA.wav", "SideB.wav", "tape.wav", "Concert.wav", "tape.flac", "tracks.txt"})
            fs::create_hard_link(dir / input, dir / folder / input);
        EXPECT_EQ(Shell("cd " + folder + " && " + examples[k], dir), 0)
            << ReadText(dir / "err.txt");
        EXPECT_THAT(ReadText(dir / "out.txt"), HasSubstr("song")) << ReadText(dir / "out.txt");
    }
    EXPECT_EQ(SongFiles(dir, "ex0/SideA", ".wav").size(), 3u);
    EXPECT_EQ(SongFiles(dir, "ex1/out/Tape", ".wav").size(), 2u);
    EXPECT_EQ(SongFiles(dir, "ex4/SideB", ".wav").size(), 6u);
    EXPECT_EQ(SongFiles(dir, "ex5/out/SideB", ".wav").size(), 6u);
    EXPECT_EQ(SongFiles(dir, "ex5/out/Tape", ".wav").size(), 2u);
    for (const char* song : {"01 Morning.flac", "02 Noon.flac", "03 Night.flac"}) {
        EXPECT_TRUE(fs::exists(dir / "ex6" / song)) << song;
    }
    ::unsetenv("XDG_DATA_HOME");
}

// Every mode that reads the input shows how far it has come on a terminal, and none with -q.
TEST(SplitModes, EveryModeShowsItsProgressUnlessQuiet) {
    CTempDir dir;
    WriteSide(dir / "Side.wav", kThreeSongs);
    std::ofstream(dir / "names.txt") << "One\nTwo\nThree\n";
    std::ofstream(dir / "cuts.txt") << "0\t5\tOne\n7\t12\tTwo\n";
    const std::vector<std::vector<std::string>> modes = {
        {"-o", dir / "a.wav"},
        {"--songs", "3", "-o", dir / "b.wav"},
        {"--names", dir / "names.txt", "-o", dir / "c" / "x.wav"},
        {"--cuts", dir / "cuts.txt", "-o", dir / "d" / "x.wav"},
        {"--probe"},
        {"--format", "flac", "-o", dir / "e.flac"},
    };
    for (std::vector<std::string> args : modes) {
        SCOPED_TRACE(testing::PrintToString(args));
        if (args[0] != "--cuts") args = Exact(args);
        args.insert(args.begin(), {"vellisto-split", dir / "Side.wav", "-f"});
        for (const bool quiet : {false, true}) {
            if (quiet) args.push_back("-q");
            std::vector<const char*> argv;
            for (const std::string& a : args) argv.push_back(a.c_str());
            std::ostringstream out, err;
            EXPECT_EQ(RunSplitCommand(int(argv.size()), argv.data(), out, err, true), 0)
                << err.str();
            EXPECT_EQ(err.str().find("\r[") != std::string::npos, !quiet) << err.str();
        }
    }
}

// Songs that run into each other leave no gap of Gap Size: a track list's times find their
// joins, dips of a few tenths of a second, even with each time some seconds off and quieter
// music than a join's loudness a few seconds from it.
TEST(SplitModes, ATrackListsTimesPlaceTheCutsWhereNoGapIsFound) {
    CTempDir dir;
    Bytes side;
    uint32_t seed = 99;
    auto add = [&](double seconds, int amplitude) {
        for (long i = 0; i < long(seconds * kRate) * 2; ++i) {
            seed = seed * 1664525u + 1013904223u;
            const int16_t v = int16_t((int(seed >> 16) - 32768) * amplitude / 32768);
            side.insert(side.end(), reinterpret_cast<const char*>(&v),
                        reinterpret_cast<const char*>(&v) + 2);
        }
    };
    const std::vector<double> songs = {20, 20, 20, 20};
    for (size_t k = 0; k < songs.size(); ++k) {
        if (k > 0) add(0.3, 20);  // the join
        add(6, 8000);
        add(0.3, 400);  // a quiet passage inside the song
        add(songs[k] - 6.3 - (k > 0 ? 0.3 : 0), 8000);
    }
    WriteWav(dir / "Segues.wav", kStereo16, side);
    std::ofstream(dir / "sleeve.txt") << "A1. One 0:23\nA2. Two 0:17\nA3. Three (0:21)\nA4. Four\n";
    const SplitRun run = SplitOk({dir / "Segues.wav", "--names", dir / "sleeve.txt", "-o",
                                  dir / "out" / "x.wav", "--min-song", "4"});
    for (const char* name : {"01 One.wav", "02 Two.wav", "03 Three.wav", "04 Four.wav"}) {
        SCOPED_TRACE(name);
        const WavFile song = ReadWav(dir / "out" / name);
        // Each join is cut inside its 0.3 s.
        EXPECT_NEAR(double(song.nDataBytes) / 4 / kRate, 20.0, 0.2) << run.strErr;
    }
    EXPECT_THAT(run.strErr, HasSubstr("song 1 ends at 00:20.2, -2.8 s from its time on the track"));
}
