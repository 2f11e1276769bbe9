// What the splitter must never do to the user's files, tried as a careless shell and a killed
// run would: write a cue sheet over a recording, let two inputs' songs collide, leave half a
// song under a song's name.
#include <signal.h>
#include <sys/stat.h>

#include <future>
#include <thread>

#include "split/tests/SplitTestSupport.h"

using namespace splittest;

namespace {

// Every file under a folder with its size and a hash of its bytes.
std::map<std::string, std::string> Snapshot(const fs::path& folder) {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(folder)) {
        if (e.is_directory()) continue;
        const std::string bytes = ReadText(e.path());
        files[e.path().string()] =
            std::to_string(bytes.size()) + ":" + std::to_string(std::hash<std::string>{}(bytes));
    }
    return files;
}

}  // namespace

TEST(SplitFiles, LabelsAndCueNeverWriteOverAnInputOrARecording) {
    CTempDir dir;
    WriteSide(dir / "SideA.wav", kTwoSongs);
    WriteSide(dir / "SideB.wav", kTwoSongs);
    fs::create_symlink(dir / "SideB.wav", dir / "link.cue");
    std::ofstream(dir / "old.txt") << "keep me";
    std::ofstream(dir / "cuts.txt") << "0\t3\tOne\n";
    const auto before = Snapshot(dir.Path());
    // What the shell makes of --cue Side*.wav, and its likes: each refused before any work.
    const std::vector<std::vector<std::string>> refused = {
        {"--list", "--cue", dir / "SideA.wav", dir / "SideB.wav"},
        {"--labels", dir / "SideA.wav", dir / "SideB.wav", "--force"},
        {"--cue", dir / "link.cue", dir / "SideB.wav", "--force"},
        {"--labels", dir / "old.txt", dir / "SideB.wav"},
        {"--cue", dir / "new.wav", dir / "SideB.wav", "--force"},
        {"-o", dir / "SideB.wav", dir / "SideB.wav"},
        {"--labels", dir / "nope" / "l.txt", dir / "SideB.wav"},
        // Another role of this run's own songs, whatever their format.
        {"--labels", dir / "SideB2.flac", dir / "SideB.wav", "--force", "--format", "flac"},
        {"--cue", dir / "SideB3.flac", dir / "SideB.wav", "--force"},
        // What the run reads.
        {"--cue", dir / "old.txt", dir / "SideB.wav", "--force", "--names", dir / "old.txt"},
        {"--cue", dir / "cuts.txt", dir / "SideB.wav", "--force", "--cuts", dir / "cuts.txt"},
    };
    for (const auto& args : refused) {
        SCOPED_TRACE(testing::PrintToString(args));
        const bool cuts = std::find(args.begin(), args.end(), "--cuts") != args.end();
        const SplitRun run = Split(cuts ? args : Exact(args));
        EXPECT_EQ(run.nCode, 2) << run.strErr;
        EXPECT_THAT(run.strErr, HasSubstr(args[args[0] == "--list" ? 2 : 1]));
        EXPECT_EQ(Snapshot(dir.Path()), before);
    }
    EXPECT_THAT(Split(Exact(refused[3])).strErr, HasSubstr("exists; use --force"));
    // Standard input that is a song file's name is an input too, --force or not.
    fs::copy_file(dir / "SideB.wav", dir / "Side1.wav");
    EXPECT_EQ(Shell("\"$S\" -f -o Side.wav - < Side1.wav", dir), 2);
    EXPECT_EQ(ReadText(dir / "Side1.wav"), ReadText(dir / "SideB.wav"));
    fs::remove(dir / "Side1.wav");
    // A full disk leaves the old label file as it was. (Not under the thread sanitizer, whose
    // runtime faults under a file-size limit.)
#if !defined(__SANITIZE_THREAD__)
    EXPECT_EQ(Shell("ulimit -f 0; \"$S\" -f --list --labels old.txt SideB.wav", dir), 1);
#endif
    EXPECT_EQ(ReadText(dir / "old.txt"), "keep me");
    // --force lets an old label file go, never a recording.
    SplitOk(Exact({"--list", "--labels", dir / "old.txt", dir / "SideB.wav", "--force"}));
    EXPECT_THAT(ReadText(dir / "old.txt"), StartsWith("0.000000\t"));
}

// A label file or cue sheet may go to a FIFO (or a pipe, /dev/stdout): it is written to, never
// opened for reading to see whether it is a recording, which would wait for a writer for ever.
TEST(SplitFiles, LabelsAndCueGoToAFifo) {
    CTempDir dir;
    WriteSide(dir / "SideA.wav", kTwoSongs);
    for (const char* option : {"--labels", "--cue"}) {
        SCOPED_TRACE(option);
        const fs::path fifo = dir / (std::string(option + 2) + ".fifo");
        ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
        std::string got;
        std::thread reader([&] {
            std::ifstream in(fifo);
            got.assign(std::istreambuf_iterator<char>(in), {});
        });
        auto run = std::async(std::launch::async, [&] {
            return Split(Exact({"--list", option, fifo, dir / "SideA.wav"}));
        });
        ASSERT_EQ(run.wait_for(std::chrono::minutes(2)), std::future_status::ready);
        const SplitRun done = run.get();
        reader.join();
        EXPECT_EQ(done.nCode, 0) << done.strErr;
        EXPECT_THAT(got, HasSubstr(option == std::string("--cue") ? "INDEX 01" : "\t"));
    }
}

TEST(SplitFiles, InputsWhoseSongNamesMeetAreRefusedBeforeAnythingIsWritten) {
    CTempDir dir;
    fs::create_directories(dir / "a");
    fs::create_directories(dir / "b");
    fs::create_directories(dir / "out");
    for (const char* name : {"a/Side.wav", "b/Side.wav", "X.wav", "X1.wav", "X0.wav", "Y.wav"})
        WriteSide(dir / name, kTwoSongs);
    const auto before = Snapshot(dir.Path());
    struct Row {
        std::vector<std::string> args;
        std::string strShared;  // a song file both would write; "" when they may run together
    };
    const Row rows[] = {
        {{dir / "a/Side.wav", dir / "b/Side.wav", "-o", dir / "out/"}, dir / "out/Side1.wav"},
        {{dir / "X.wav", dir / "X1.wav", "--force"}, dir / "X11.wav"},
        {{dir / "Y.wav", dir / "X1.wav", dir / "X.wav", "-j", "1"}, dir / "X11.wav"},
        {{dir / "Y.wav", dir.Path() + "/./Y.wav"}, dir / "Y1.wav"},
        {{dir / "X.wav", dir / "X0.wav", dir / "Y.wav", "-o", dir / "out"}, ""},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(testing::PrintToString(row.args));
        const SplitRun run = Split(Exact(row.args));
        if (!row.strShared.empty()) {
            EXPECT_EQ(run.nCode, 2);
            EXPECT_THAT(run.strErr, HasSubstr(fs::path(row.strShared).filename().string()));
            EXPECT_EQ(Snapshot(dir.Path()), before);
        } else {
            EXPECT_EQ(run.nCode, 0) << run.strErr;
            EXPECT_TRUE(fs::exists(dir / "out/X02.wav"));
        }
    }
    // A song name of one input that is the other input, through a link: refused even with
    // --force.
    fs::remove_all(dir / "out");
    fs::create_directory(dir / "out");
    fs::create_symlink(dir / "a/Side.wav", dir / "out/Y1.wav");
    const auto linked = Snapshot(dir.Path());
    const SplitRun run = Split(Exact({dir / "a/Side.wav", dir / "Y.wav", "-o", dir / "out", "-f"}));
    EXPECT_EQ(run.nCode, 2);
    EXPECT_THAT(run.strErr,
                HasSubstr("would overwrite the input " + (dir / "a/Side.wav").string()));
    EXPECT_EQ(Snapshot(dir.Path()), linked);
}

TEST(SplitFiles, AKilledSplitLeavesOnlyFinishedSongsUnderSongNames) {
    CTempDir dir;
    const Bytes side = MakeSamples(kStereo16, kThreeSongs);
    // Up to 3 s into song 2, well past the block that holds the cut.
    const size_t fed = (9 * kRate + 1) * 4;
    Spawned split = SpawnSplit(dir, Exact({"-", "-o", dir / "S.wav"}));
    Bytes wav = StreamedWav(kStereo16, side);
    wav.resize(44 + fed);
    ASSERT_TRUE(split.Feed(wav));
    // Until song 2 is being written: song 1 is done then.
    EXPECT_TRUE(WaitUntil([&] { return Files(dir).size() >= 4; }))
        << testing::PrintToString(Files(dir));
    ::kill(split.nPid, SIGKILL);
    EXPECT_EQ(split.Wait(), 128 + SIGKILL);
    EXPECT_FALSE(fs::exists(dir / "S2.wav"));
    const Bytes first(side.begin(), side.begin() + (5 * kRate + kCutInSilence) * 4);
    EXPECT_EQ(ReadSongData(dir / "S1.wav", kStereo16), first);
}

TEST(SplitFiles, TheOutputFolderIsMadeAndEachErrorNamesItsInput) {
    CTempDir dir;
    WriteSide(dir / "A.wav", kTwoSongs);
    WriteSide(dir / "B.wav", kTwoSongs);
    std::ofstream(dir / "file") << "not a folder";
    SplitRun run = SplitOk(Exact({dir / "A.wav", "-o", dir / "new/deep/Tape.wav"}));
    EXPECT_EQ(SongFiles(dir, "new/deep/Tape", ".wav").size(), 2u);
    run = SplitOk(Exact({dir / "A.wav", dir / "B.wav", "-o", dir / "two/"}));
    EXPECT_EQ(SongFiles(dir, "two/B", ".wav").size(), 2u);

    run = Split(Exact({dir / "A.wav", dir / "B.wav", "-o", dir / "file/sub/", "-f"}));
    EXPECT_EQ(run.nCode, 1);
    for (const char* input : {"A.wav", "B.wav"}) {
        EXPECT_THAT(run.strErr, HasSubstr("vellisto-split: " + (dir / input).string() +
                                          ": cannot write the song files to " +
                                          (dir / "file/sub").string() + ": Not a directory"));
    }
}
