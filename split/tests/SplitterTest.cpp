// Whole runs of the splitter on generated WAV files: where songs are cut, bad inputs and
// destinations, presets, output naming and the default mode's bytes. Runs are in process, except
// the one under a file-size limit.
#include <algorithm>

#include "settings/PresetsFile.h"
#include "split/tests/SplitTestSupport.h"

using namespace splittest;

TEST(SplitTest, CutsWhereGapSizeOfSilenceHasPassedAndLosesNothing) {
    // Mono cuts at the same frames as stereo: its thresholds count seconds, not samples.
    for (const Format format : {kStereo16, Format{32, kRate, 2}, Format{16, kRate, 1}}) {
        SCOPED_TRACE(std::to_string(format.nBits) + " bits, " + std::to_string(format.nChannels));
        CTempDir dir;
        const long song2 = 6 * kRate + 123;
        const std::vector<Segment> plan = {{5 * kRate, true}, {2 * kRate, false},
                                           {song2, true},     {3 * kRate, false},
                                           {4 * kRate, true}, {kRate / 2, false}};
        const auto data = MakeSamples(format, plan);
        WriteWav(dir / "SideA.wav", format, data);
        const SplitRun run = SplitOk(Exact({dir / "SideA.wav"}));
        const auto parts = SongData(dir, "SideA", format);
        ASSERT_EQ(parts.size(), 3u);
        EXPECT_EQ(Join(parts), data);
        const long frameBytes = format.FrameBytes();
        EXPECT_EQ(long(parts[0].size()), (5 * kRate + kCutInSilence) * frameBytes);
        EXPECT_EQ(long(parts[1].size()), (2 * kRate + song2) * frameBytes);
        EXPECT_THAT(run.strOut, HasSubstr((dir / "SideA2.wav").string() + "  00:08.0\n"));
        EXPECT_THAT(run.strOut, HasSubstr("3 song files, 00:20.5 in all"));
    }
}

TEST(SplitTest, HowTheRecordingEnds) {
    CTempDir dir;
    // The end of the input is a short block: the trailing file stays, however short, unless it
    // holds nothing above Gap Level.
    WriteSide(dir / "A.wav", {{5 * kRate, true}, {3 * kRate / 2, false}});
    SplitOk(Exact({dir / "A.wav"}));
    EXPECT_FALSE(fs::exists(dir / "A2.wav"));
    WriteSide(dir / "D.wav", {{5 * kRate, true}, {3 * kRate / 2, false}, {kRate / 10, true}});
    SplitOk(Exact({dir / "D.wav"}));
    EXPECT_EQ(ReadSongData(dir / "D2.wav", kStereo16).size(),
              (3 * kRate / 2 + kRate / 10 - kCutInSilence) * 4u);
}

TEST(SplitTest, BadInputsFailWithOneLineAndLeaveNothingBehind) {
    CTempDir dir;
    const Bytes loud = MakeSamples(kStereo16, {{2 * kRate, true}});
    Bytes float64 = MakeWav({64, kRate, 2}, Bytes(640, 1));
    float64[20] = 3;  // the float tag
    std::ofstream(dir / "text.wav") << "just some text, not audio\n";
    WriteFile(dir / "double.wav", float64);
    WriteWav(dir / "24bit.wav", {24, kRate, 2}, Bytes(600, 1));
    WriteWav(dir / "quad.wav", {16, kRate, 4}, loud);
    WriteWav(dir / "empty.wav", kStereo16, {});
    WriteWav(dir / "fast.wav", {16, 400000, 2}, loud);
    WriteWav(dir / "good.wav", kStereo16, loud);
    fs::create_directory(dir / "folder.wav");
    const std::vector<std::string> before = Files(dir);
    const std::string good = dir / "good.wav";

    const std::vector<std::tuple<std::vector<std::string>, int, std::string>> rows = {
        {{dir / "text.wav"}, 1, "is not a WAV file"},
        {{dir / "24bit.wav"}, 1, "24-bit PCM"},
        {{dir / "double.wav"}, 1, "64-bit float"},
        {{dir / "quad.wav"}, 1, "has 4 channels; only mono and stereo"},
        {{dir / "empty.wav"}, 1, "holds no audio"},
        {{dir / "missing.wav"}, 1, "missing.wav: No such file"},
        {{dir / "folder.wav"}, 1, "it is a folder"},
        {{good, "-o", dir / "text.wav/sub/x.wav"}, 1, "text.wav/sub: Not a directory"},
        {{good, "-o", dir / "text.wav/x.wav"}, 1, "text.wav: it is not a folder"},
        {{good, "--gap-size", "5.1"}, 2, "Gap size is not between 0.01 and 5 seconds.\n"},
        {{good, "--gap-level=nan"}, 2, "Gap level is not between -6 and -144 dB.\n"},
        {{good, "--dc-block", "maybe"}, 2, "expected on or off"},
        {{good, "--preset", ""}, 2, "a preset name is needed"},
        {{dir / "fast.wav"}, 1, "has 400000 samples per second; the recorder cannot record"},
        {{good, "--gap-size", "lots"}, 2, "gap-size"},
        {{}, 2, "input is required"},
    };
    for (const auto& [args, code, message] : rows) {
        SCOPED_TRACE(args.empty() ? "" : args.back());
        const SplitRun run = Split(args);
        EXPECT_EQ(run.nCode, code);
        EXPECT_THAT(run.strErr, HasSubstr(message));
        // One range per setting, the one the message names.
        if (message.find("between") != std::string::npos) {
            EXPECT_EQ(std::count(run.strErr.begin(), run.strErr.end(), '\n'), 1) << run.strErr;
        }
        EXPECT_EQ(run.strOut, "");
        EXPECT_EQ(Files(dir), before);
    }
}

TEST(SplitTest, ExistingSongFilesAndTheInputItselfAreNotOverwrittenUnasked) {
    CTempDir dir;
    WriteSide(dir / "SideA.wav", kTwoSongs);
    for (const char* existing : {"SideA1.wav", "SideA12.wav"}) {
        SCOPED_TRACE(existing);
        std::ofstream(dir / existing) << "keep me";
        const SplitRun run = Split(Exact({dir / "SideA.wav"}));
        EXPECT_EQ(run.nCode, 1);
        EXPECT_THAT(run.strErr, HasSubstr((dir / existing).string() + " exists"));
        EXPECT_THAT(run.strErr, HasSubstr("--force"));
        EXPECT_EQ(Files(dir), (std::vector<std::string>{"SideA.wav", existing}));
        EXPECT_EQ(ReadText(dir / existing), "keep me");
        fs::remove(dir / existing);
    }

    // --force replaces this run's songs, and only those: the run-out after the last song is
    // known to be no song before anything is put over SideT3.wav.
    WriteSide(dir / "SideT.wav",
              {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}, {3 * kRate, false}});
    for (const char* old : {"SideT1.wav", "SideT3.wav", "SideT4.wav"})
        std::ofstream(dir / old) << "old";
    const SplitRun forced = SplitOk(Exact({dir / "SideT.wav", "--force"}));
    EXPECT_NE(ReadText(dir / "SideT1.wav"), "old");
    EXPECT_NE(ReadText(dir / "SideT2.wav"), "");
    EXPECT_EQ(ReadText(dir / "SideT3.wav"), "old");
    EXPECT_THAT(forced.strErr, HasSubstr("did not write SideT3.wav (the file there is left"));
    EXPECT_THAT(forced.strErr, HasSubstr("SideT4.wav is left from an earlier run"));
    EXPECT_THAT(forced.strOut, Not(HasSubstr("SideT3")));

    // Song 1 of base "Side" would be the input: refused even with --force.
    fs::rename(dir / "SideA.wav", dir / "Side1.wav");
    const std::string input = ReadText(dir / "Side1.wav");
    const SplitRun self = Split({dir / "Side1.wav", "-o", dir / "Side.wav", "--force"});
    EXPECT_EQ(self.nCode, 2);
    EXPECT_THAT(self.strErr, HasSubstr("would overwrite the input"));
    EXPECT_EQ(ReadText(dir / "Side1.wav"), input);
    EXPECT_FALSE(fs::exists(dir / "Side2.wav"));

    // Side1.wav's songs would be Side11.wav, Side12.wav: another side of a set, which --force
    // would write over; -o is the way out.
    std::ofstream(dir / "Side11.wav") << "disc 11";
    const SplitRun digits = Split(Exact({dir / "Side1.wav"}));
    EXPECT_EQ(digits.nCode, 1);
    EXPECT_THAT(digits.strErr, HasSubstr("Side11.wav exists, and the song files of"));
    EXPECT_THAT(digits.strErr, HasSubstr("choose another with -o"));
    EXPECT_THAT(digits.strErr, Not(HasSubstr("--force")));
    const SplitRun forcedDigits = Split(Exact({dir / "Side1.wav", "--force"}));
    EXPECT_EQ(forcedDigits.nCode, 1);
    EXPECT_THAT(forcedDigits.strErr, HasSubstr("which --force does not write over"));
    EXPECT_EQ(ReadText(dir / "Side11.wav"), "disc 11");
    EXPECT_FALSE(fs::exists(dir / "Side12.wav"));
}

TEST(SplitTest, OutputNaming) {
    CTempDir dir;
    fs::create_directories(dir / "out.d/sub");
    WriteSide(dir / "Take1.wav", {{3 * kRate, true}});
    // Far beyond the recorder's 259 bytes, within the platform's limit.
    const fs::path deep =
        dir / std::string(200, 'd') / std::string(200, 'e') / std::string(200, 'f');
    const std::vector<std::pair<std::vector<std::string>, fs::path>> rows = {
        {{}, dir / "Take11.wav"},                                   // the input's folder and name
        {{"-o", dir / "out.d/sub"}, dir / "out.d/sub/Take11.wav"},  // a folder
        {{"-o", dir / "out.d/B-side"}, dir / "out.d/B-side1.wav"},  // no extension: .wav
        {{"-o", dir / "out.d/tape.flac.wav"}, dir / "out.d/tape.flac1.wav"},
        {{"-o", deep / "Take.wav"}, deep / "Take1.wav"},
    };
    for (const auto& [args, first] : rows) {
        SCOPED_TRACE(first);
        std::vector<std::string> all = {dir / "Take1.wav"};
        all.insert(all.end(), args.begin(), args.end());
        const SplitRun run = SplitOk(all);
        EXPECT_TRUE(fs::exists(first));
        EXPECT_THAT(run.strOut, StartsWith(first.string() + "  "));
    }
}

namespace {
RecSettings Preset(int gap, int minSong, int endGap) {
    RecSettings s;
    s.nGapSize = gap;
    s.nMinSongSize = minSong;
    s.nEndSize = endGap;
    s.bDCBlock = 0;
    s.bIgnoreClicks = 0;
    s.nSamplesPerSec = 48000;  // neither the format nor the device of a preset applies
    s.nWaveInID = 7;
    return s;
}
}  // namespace

TEST(SplitTest, PresetFromTheRecordersPresetsFile) {
    CTempDir dir;
    const fs::path old = fs::current_path();
    fs::current_path(dir.Path());
    ::setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);  // the recorder's file: ./Zelk/Vellistro
    fs::create_directories("Zelk/Vellistro");
    const auto data = WriteSide("In.wav", {{5 * kRate, true}, {kRate, false}, {5 * kRate, true}});
    // "Short gaps": 0.5 s gaps (position -882) and 2 s songs; the second of that name has 1 s.
    const std::vector<uint8_t> archive = WritePresetsArchive({
        CPresets("Album/Tape", RecSettings{}), CPresets("Short gaps", Preset(-882, -352, -1236)),
        CPresets("Bad end", Preset(-882, -352, -5293)),
        CPresets("Short gaps", Preset(-1764, -352, -1236)),
        CPresets("Caf\xe9 \x80", Preset(-882, -352, -1236)),  // Windows-1252
    });
    auto writePresets = [&](size_t bytes) {
        WriteFile("Zelk/Vellistro/Single1.pre",
                  Bytes(archive.begin(), archive.begin() + long(bytes)));
    };
    writePresets(archive.size());

    SplitRun run = SplitOk({"In.wav", "--preset", "Short gaps", "-o", "P.wav"});
    // A 0.5 s gap cuts 5512 frames into the silence.
    const auto p1 = ReadSongData("P1.wav", kStereo16);
    EXPECT_EQ(p1.size(), (5 * kRate + 5512) * 4u);
    EXPECT_EQ(Join({p1, ReadSongData("P2.wav", kStereo16)}), data);

    // A range error of the preset is reported with the analyser's message, unless an option
    // replaces the value.
    run = Split({"In.wav", "--preset", "Bad end", "-o", "Q.wav"});
    EXPECT_EQ(run.nCode, 2);
    EXPECT_THAT(run.strErr,
                HasSubstr("preset \"Bad end\": End gap is not between 1 and 30 seconds.\n"));
    EXPECT_FALSE(fs::exists("Q1.wav"));
    SplitOk({"In.wav", "--preset", "Bad end", "--end-gap", "10", "-o", "Q.wav"});

    // Typed and shown in UTF-8.
    SplitOk({"In.wav", "--preset", "Caf\xc3\xa9 \xe2\x82\xac", "-o", "C.wav"});

    // In any letter case, as the recorder's preset box picks one.
    SplitOk({"In.wav", "--preset", "CAF\xc3\xa9 \xe2\x82\xac", "-o", "K.wav"});
    run = Split({"In.wav", "--preset", "album tape"});
    EXPECT_EQ(run.nCode, 2);
    EXPECT_THAT(run.strErr,
                HasSubstr("no preset named \"album tape\" in \"" + dir.Path() +
                          "/Zelk/Vellistro/Single1.pre\" (it holds "
                          "\"Album/Tape\", \"Short gaps\", \"Bad end\", \"Short gaps\", "
                          "\"Caf\xc3\xa9 \xe2\x82\xac\")"));

    // A damaged file: the presets read whole still serve, with a notice; the lost ones fail.
    writePresets(archive.size() - 20);
    run = SplitOk({"In.wav", "--preset", "Short gaps", "-o", "R.wav"});
    EXPECT_THAT(run.strErr, HasSubstr("Single1.pre\" is damaged"));
    EXPECT_THAT(run.strErr, HasSubstr("4 of 5 presets"));
    writePresets(9);
    run = Split({"In.wav", "--preset", "Short gaps", "-o", "S.wav"});
    EXPECT_EQ(run.nCode, 1);
    EXPECT_THAT(run.strErr, HasSubstr("no preset named"));

    // Another presets file, named; one that is missing is an error.
    writePresets(archive.size());
    fs::rename("Zelk/Vellistro/Single1.pre", "Other.pre");
    run = Split({"In.wav", "--presets", "Other.pre", "--preset", "Bad end", "-o", "U.wav"});
    EXPECT_THAT(run.strErr, HasSubstr("End gap is not between"));
    run = Split({"In.wav", "--presets", "Missing.pre", "--preset", "Short gaps", "-o", "T.wav"});
    EXPECT_EQ(run.nCode, 1);
    EXPECT_THAT(run.strErr, HasSubstr("no presets file \"Missing.pre\""));
    EXPECT_FALSE(fs::exists("S1.wav") || fs::exists("T1.wav"));
    // Before the recorder has saved any presets, the starting presets serve.
    SplitOk({"In.wav", "--preset", "Album/Tape", "-o", "V.wav"});
    EXPECT_TRUE(fs::exists("V1.wav"));
    ::unsetenv("XDG_DATA_HOME");
    fs::current_path(old);
}

TEST(SplitTest, AFailedWriteKeepsTheFinishedSongsAndRemovesTheUnfinishedOne) {
    CTempDir dir;
    // Song 1 (0.3 MB) fits under the file-size limit, song 2 (1.8 MB) does not; ulimit -f
    // counts 512- or 1024-byte blocks, by shell, and the limit lies between the two either way.
    WriteSide(dir / "Big.wav", {{5 * kRate, true}, {2 * kRate, false}, {40 * kRate, true}});
    EXPECT_EQ(Shell("ulimit -f 1000; exec \"$S\" --dc-block off --smart-gap off Big.wav "
                    "--min-song 2",
                    dir),
              1)
        << "killed by a signal, or the wrong status";
    const std::string err = ReadText(dir / "err.txt");
    EXPECT_THAT(err, HasSubstr("Cannot write to Big2.wav"));
    // Once, with the system's reason.
    EXPECT_EQ(err.find("Cannot write to"), err.rfind("Cannot write to")) << err;
    EXPECT_THAT(err, HasSubstr("File too large"));
    EXPECT_THAT(err, HasSubstr("removed the unfinished song file Big2.wav"));
    EXPECT_FALSE(fs::exists(dir / "Big2.wav"));
    EXPECT_EQ(ReadSongData(dir / "Big1.wav", kStereo16).size(), (5 * kRate + kCutInSilence) * 4u);
    EXPECT_THAT(ReadText(dir / "out.txt"), StartsWith("Big1.wav  "));
}

// The song files of the default mode, recorded once before the splitter's pipeline was
// overlapped, as sizes and FNV-1a hashes: any drift of the engine or of the splitter's own
// writing shows here.
TEST(SplitTest, DefaultModeWritesTheSameBytesAsTheEarlierSplitter) {
    CTempDir dir;
    const Format cd{16, 44100, 2};
    const Format fl{32, 22050, 2};
    const std::vector<Segment> cdPlan = {
        {11 * 44100 + 17, true}, {2 * 44100, false}, {12 * 44100, true}, {44100 / 3, false},
        {11 * 44100, true},      {8 * 44100, false}, {5 * 44100, true}};
    const std::vector<Segment> flPlan = {{5 * 22050, true},
                                         {3 * 22050 / 2, false},
                                         {4 * 22050 + 999, true},
                                         {2 * 22050, false},
                                         {6 * 22050, true}};
    WriteWav(dir / "Cd.wav", cd, NoisySide(cd, cdPlan));
    WriteWav(dir / "Fl.wav", fl, NoisySide(fl, flPlan));
    ASSERT_EQ(Split({dir / "Cd.wav", "--min-song", "10"}).nCode, 1);  // music after End Gap
    SplitOk({dir / "Fl.wav", "--min-song", "4"});
    std::vector<std::string> got;
    for (const char* stem : {"Cd", "Fl"}) {
        for (const fs::path& song : SongFiles(dir, stem, ".wav")) {
            uint64_t hash = 14695981039346656037ull;
            const std::string bytes = ReadText(song);
            for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
            char row[96];
            std::snprintf(row, sizeof row, "%s %zu %016llx", song.filename().c_str(), bytes.size(),
                          static_cast<unsigned long long>(hash));
            got.push_back(row);
        }
    }
    EXPECT_EQ(got, (std::vector<std::string>{
                       "Cd1.wav 2116908 2e8f59fc14ef0545",
                       "Cd2.wav 4468852 e997b591e35a249b",
                       "Fl1.wav 1059102 1cee4bd21ec26d69",
                       "Fl2.wav 977622 df7950c4d9efd7d4",
                       "Fl3.wav 1234806 c3bd5589139fdc43",
                   }));
}

TEST(SplitTest, EachSwitchOfAPresetAndOfTheCommandLineReachesTheAnalyserByItself) {
    CTempDir dir;
    ::setenv("XDG_DATA_HOME", dir.Path().c_str(), 1);
    fs::create_directories(dir / "Zelk/Vellistro");
    // DC Block changes every byte of this side; Smart Gap where its quiet stretches end.
    const std::vector<Segment> plan = {{5 * kRate, true}, {2 * kRate, false}, {5 * kRate, true}};
    WriteWav(dir / "In.wav", kStereo16, NoisySide(kStereo16, plan));
    RecSettings dcOnly = Preset(-1764, -705, -1236), smartOnly = dcOnly;
    dcOnly.bDCBlock = 1;
    smartOnly.bIgnoreClicks = 1;
    const std::vector<uint8_t> archive =
        WritePresetsArchive({CPresets("DC only", dcOnly), CPresets("Smart only", smartOnly)});
    WriteFile(dir / "Zelk/Vellistro/Single1.pre", Bytes(archive.begin(), archive.end()));
    struct Row {
        std::vector<std::string> args;
        std::string strStem;
    };
    // The switches' values in any letter case.
    const Row rows[] = {
        {{"--preset", "DC only"}, "PresetDC"},
        {{"--min-song", "4", "--dc-block", "ON", "--smart-gap", "Off"}, "TypedDC"},
        {{"--preset", "Smart only"}, "PresetSmart"},
        {{"--min-song", "4", "--dc-block", "off", "--smart-gap", "oN"}, "TypedSmart"},
    };
    for (const Row& row : rows) {
        std::vector<std::string> args = row.args;
        args.insert(args.end(), {dir / "In.wav", "-o", dir / (row.strStem + ".wav")});
        const SplitRun run = Split(args);
        ASSERT_EQ(run.nCode, 0) << row.strStem << ": " << run.strErr;
    }
    for (int k = 1; k <= 2; ++k) {
        const std::string n = std::to_string(k) + ".wav";
        EXPECT_EQ(ReadText(dir / ("PresetDC" + n)), ReadText(dir / ("TypedDC" + n))) << k;
        EXPECT_EQ(ReadText(dir / ("PresetSmart" + n)), ReadText(dir / ("TypedSmart" + n))) << k;
        EXPECT_NE(ReadText(dir / ("PresetDC" + n)), ReadText(dir / ("PresetSmart" + n))) << k;
    }
    ::unsetenv("XDG_DATA_HOME");
}

TEST(SplitTest, SmallerFaultsOfTheCommandLine) {
    CTempDir dir;
    WriteSide(dir / "In.wav", {{5 * kRate, true}, {9 * kRate, false}});
    WriteSide(dir / "a\"b.wav", kTwoSongs);
    WriteSide(dir / "t\tb.wav", kTwoSongs);
    struct Row {
        std::vector<std::string> args;
        int nCode;
        std::string strSaid;
    };
    const Row rows[] = {
        {{dir / "In.wav", "--songs", "2.5"}, 2, "--songs expects a whole number, not 2.5"},
        {{dir / "In.wav", "-o", dir / "Tape.flac"}, 2, "name them .wav"},
        {{dir / "a\"b.wav", "--cue", dir / "x.cue"}, 2, "which a cue sheet cannot hold"},
        {{dir / "t\tb.wav", "--labels", dir / "x.txt"}, 2, "which a label file cannot hold"},
        {{"-", "-o", dir / "S.wav", "--cue", dir / "x.cue"}, 2, "standard input has no name"},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.args[1]);
        const SplitRun run = Split(row.args);
        EXPECT_EQ(run.nCode, row.nCode);
        EXPECT_THAT(run.strErr, HasSubstr(row.strSaid));
    }
    EXPECT_FALSE(fs::exists(dir / "Tape1.flac"));
    EXPECT_TRUE(SongFiles(dir, "a\"b", ".wav").empty());
    // -q: errors only. This side's End Gap notice and run-out notice are not errors.
    SplitRun run = Split(Exact({dir / "In.wav", "-q", "-o", dir / "Q.wav"}));
    EXPECT_EQ(run.nCode, 0);
    EXPECT_EQ(run.strErr, "");
    EXPECT_EQ(run.strOut, "");
    run = Split(Exact({dir / "In.wav", "-o", dir / "N.wav"}));
    EXPECT_THAT(run.strErr, HasSubstr("notice"));
    run = Split({dir / "missing.wav", "-q"});
    EXPECT_THAT(run.strErr, HasSubstr("missing.wav"));
}
