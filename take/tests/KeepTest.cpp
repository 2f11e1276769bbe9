#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>

#include "take/CutsFile.h"
#include "take/FileSteps.h"
#include "take/Keep.h"
#include "take/SongNames.h"
#include "take/TakeList.h"
#include "take/tests/TakeTestSupport.h"

using namespace taketest;

namespace {

// Every entry of the folder, hidden ones too, with its bytes.
std::map<std::string, Bytes> Folder(const CTempDir& dir) {
    std::map<std::string, Bytes> files;
    for (const auto& entry : fs::directory_iterator(dir.Path())) {
        files[entry.path().filename().string()] = ReadFile(entry.path());
    }
    return files;
}

std::vector<std::string> In(const CTempDir& dir, const std::vector<std::string>& names) {
    std::vector<std::string> paths;
    for (const std::string& n : names) paths.push_back((dir / n).string());
    return paths;
}

KeepPlan Plan(std::vector<uint64_t> cuts, const std::string& pattern) {
    KeepPlan plan;
    plan.cuts = std::move(cuts);
    for (size_t k = 0; k <= plan.cuts.size(); ++k)
        plan.titles.push_back("Song " + std::to_string(k + 1));
    plan.fileNames = BuildSongNames(pattern, plan.titles, {}).names;
    return plan;
}

TEST(KeepTest, ARecutTakeHoldsTheSameSampleBytesInEveryFormat) {
    const WavFormat formats[] = {{16, 44100, 2}, {16, 8000, 1}, {32, 48000, 2}, {32, 11025, 1}};
    for (const WavFormat& format : formats) {
        SCOPED_TRACE(format.nBits * 10 + format.nChannels);
        CTempDir dir;
        const Bytes side = WriteTake((dir / "Side.wav").string(), format, {900, 333, 1201});
        // Moved and added cuts under the same numbered names (Side3 goes), then joined under
        // names from a pattern, the kept take kept again.
        const struct {
            std::vector<uint64_t> cuts;
            const char* szPattern;
        } keeps[] = {{{1, 600, 1233, 2433}, "Side{n}.wav"}, {{1000}, "{n:02} {title}.wav"}};
        TakeOpening o = OpenTake((dir / "Side.wav").string());
        for (const auto& keep : keeps) {
            ASSERT_TRUE(o.Ok()) << DescribeTakeRefusal(o);
            const KeepPlan plan = Plan(keep.cuts, keep.szPattern);
            const KeepOutcome kept = KeepTake(o.take, plan);
            ASSERT_TRUE(kept.Ok()) << DescribeKeepOutcome(kept);
            EXPECT_EQ(kept.files, In(dir, plan.fileNames));
            EXPECT_TRUE(Concatenated(kept.files) == side);
            std::set<std::string> expected(plan.fileNames.begin(), plan.fileNames.end());
            expected.insert(".Side.wav.take");
            std::set<std::string> present;
            for (const auto& [name, bytes] : Folder(dir)) present.insert(name);
            EXPECT_EQ(present, expected);
            std::vector<TakeListEntry> listed;
            ASSERT_TRUE(ReadTakeList((dir / "Side.wav").string(), &listed));
            for (size_t k = 0; k < listed.size(); ++k)
                EXPECT_EQ(listed[k].strName, plan.fileNames[k]);
            EXPECT_EQ(listed.size(), plan.fileNames.size());
            for (size_t k = 0; k < kept.files.size(); ++k) {
                EXPECT_EQ(ReadWav(kept.files[k]).szProblem, "");
                const SndfileView view = ReadWithSndfile(kept.files[k]);
                EXPECT_EQ(view.szError, "");
                EXPECT_EQ(view.bFloat, format.nBits == 32);
                const uint64_t end = k < plan.cuts.size() ? plan.cuts[k] : 2434;
                EXPECT_EQ(uint64_t(view.nFrames), end - (k ? plan.cuts[k - 1] : 0));
            }
            o = OpenTakeFiles(kept.files, (dir / "Side.wav").string());
            EXPECT_EQ(o.take.cuts, plan.cuts);
        }
    }
}

// Repairs given to a keep land where they lie, also across a file's end, a cut and the take's
// end, in every format; every other sample is the take's, copied or not. The take passes the
// keep's copy piece, so pieces without a repair take the copy's own path.
TEST(KeepTest, RepairsAreWrittenWhereTheyLieAndNothingElseChanges) {
    const struct {
        WavFormat format;
        KeepFormat keep;
        const char* szPattern;
    } cases[] = {{{16, 44100, 2}, KeepFormat::Wav, "New{n}.wav"},
                 {{32, 11025, 1}, KeepFormat::Wav, "New{n}.wav"},
                 {{16, 8000, 2}, KeepFormat::Flac, "New{n}.flac"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.szPattern + std::to_string(c.format.nBits));
        CTempDir dir;
        const Bytes side = WriteTake((dir / "Side.wav").string(), c.format, {3000, 2000, 800000});
        KeepPlan plan = Plan({2500, 6000}, c.szPattern);
        plan.format = c.keep;
        const int channels = c.format.nChannels;
        const size_t sampleBytes = size_t(c.format.nBits / 8);
        Bytes expected = side;
        const struct {
            uint64_t nFrame;
            uint32_t nLength;
        } spans[] = {{10, 3}, {2998, 4}, {2499, 1}, {804990, 10}};
        for (const auto& span : spans) {
            ClickRepair r;
            r.nFrame = span.nFrame;
            r.nLength = span.nLength;
            r.nChannel = channels - 1;
            for (uint32_t i = 0; i < span.nLength; ++i) {
                const size_t at =
                    (size_t(span.nFrame + i) * size_t(channels) + size_t(r.nChannel)) * sampleBytes;
                // Whole multiples of 1 / 32768, exact in either format.
                const float value = float(1000 + 7 * int(i)) / 32768;
                float original;
                if (sampleBytes == 2) {
                    int16_t s;
                    std::memcpy(&s, &side[at], 2);
                    original = float(s) / 32768;
                    const int16_t v = int16_t(1000 + 7 * int(i));
                    std::memcpy(&expected[at], &v, 2);
                } else {
                    std::memcpy(&original, &side[at], 4);
                    std::memcpy(&expected[at], &value, 4);
                }
                r.original.push_back(original);
                r.repaired.push_back(value);
            }
            plan.repairs.push_back(r);
        }
        const KeepOutcome kept = KeepTake(OpenTake((dir / "Side.wav").string()).take, plan);
        ASSERT_TRUE(kept.Ok()) << DescribeKeepOutcome(kept);
        Bytes written;
        for (const std::string& f : kept.files) {
            const SndfileView view = ReadWithSndfile(f);
            ASSERT_EQ(view.szError, "");
            written.insert(written.end(), view.samples.begin(), view.samples.end());
        }
        ASSERT_EQ(written.size(), expected.size());
        EXPECT_TRUE(written == expected);
    }
}

// The child keeps and ends itself at step `stop`; 42 when it stopped there, 0 when the keep
// was over before.
int KeepInChild(const Take& take, const KeepPlan& plan, int stop) {
    const pid_t pid = ::fork();
    if (pid == 0) {
        const KeepOutcome o = KeepTake(take, plan, [stop](int step) {
            if (step == stop) ::_exit(42);
        });
        ::_exit(o.Ok() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(KeepTest, AKeepKilledAtAnyStepLeavesTheOldOrTheNewTakeWholeOnceOpenedAgain) {
    const WavFormat format{16, 11025, 2};
    int oldWhole = 0, newWhole = 0, stop = 1;
    for (;; ++stop) {
        SCOPED_TRACE(stop);
        CTempDir dir;
        const Bytes side = WriteTake((dir / "Side.wav").string(), format, {400, 300, 500});
        KeepPlan plan = Plan({250, 700, 1000}, "New{n}.wav");
        plan.fileNames[0] = "Side1.wav";  // one name kept, one in other letter case, two new
        plan.fileNames[1] = "SIDE2.wav";
        plan.strLabelFile = (dir / "Side.txt").string();
        plan.strCueSheet = (dir / "Side.cue").string();
        const std::map<std::string, Bytes> before = Folder(dir);
        const TakeOpening o = OpenTake((dir / "Side.wav").string());
        ASSERT_TRUE(o.Ok());
        const int code = KeepInChild(o.take, plan, stop);
        if (code == 0) break;
        ASSERT_EQ(code, 42);
        // Until the journal commits, the old take is there as it was.
        const Bytes journal = ReadFile(dir / ".vellisto-keep");
        const bool committed =
            std::string(journal.begin(), journal.end()).find("phase commit") != std::string::npos;
        std::map<std::string, Bytes> now = Folder(dir);
        for (const auto& [name, bytes] : before) EXPECT_TRUE(committed || now[name] == bytes);
        // The next open or keep finishes or undoes it; both recover the same way.
        if (stop % 2) {
            EXPECT_TRUE(OpenTake((dir / "Side.wav").string()).Ok());
        } else {
            EXPECT_NE(RecoverKeep(dir.Path()), Recovery::Failed);
        }
        const std::map<std::string, Bytes> after = Folder(dir);
        if (after == before) {
            ++oldWhole;
            continue;
        }
        std::set<std::string> names;
        for (const auto& [name, bytes] : after) names.insert(name);
        EXPECT_EQ(names, (std::set<std::string>{"Side1.wav", "SIDE2.wav", "New3.wav", "New4.wav",
                                                "Side.txt", "Side.cue"}));
        EXPECT_TRUE(Concatenated(In(dir, plan.fileNames)) == side);
        ++newWhole;
    }
    EXPECT_GT(stop, 10);
    EXPECT_GT(oldWhole, 0);
    EXPECT_GT(newWhole, 0);
}

TEST(KeepTest, AKeepUnderWayIsNeitherUndoneNorJoinedByAnOpenOrKeepOfTheSameProcess) {
    CTempDir dir;
    const Bytes side = WriteTake((dir / "Side.wav").string(), {16, 8000, 2}, {400, 600});
    const Take take = OpenTake((dir / "Side.wav").string()).take;
    const KeepPlan plan = Plan({300}, "{n}.wav");
    TakeRefusal opened = TakeRefusal::None;
    KeepRefusal second = KeepRefusal::None;
    // The hook runs inside the keep, between writing its files, as another thread's call could.
    const KeepOutcome kept = KeepTake(take, plan, [&](int step) {
        if (step != 3) return;
        opened = OpenTake((dir / "Side.wav").string()).refusal;
        second = KeepTake(take, Plan({200}, "x{n}.wav")).refusal;
    });
    EXPECT_TRUE(kept.Ok()) << DescribeKeepOutcome(kept);
    EXPECT_EQ(opened, TakeRefusal::Recovery);
    EXPECT_EQ(second, KeepRefusal::Busy);
    EXPECT_TRUE(Concatenated(kept.files) == side);
}

struct RefusalRow {
    const char* szWhat;
    void (*change)(KeepPlan&, const CTempDir&);
    KeepRefusal refusal;
};

const RefusalRow kRefusals[] = {
    {"cut at 0", [](KeepPlan& p, const CTempDir&) { p.cuts[0] = 0; }, KeepRefusal::BadCuts},
    {"cut at the end", [](KeepPlan& p, const CTempDir&) { p.cuts[0] = 1000; },
     KeepRefusal::BadCuts},
    {"cuts out of order",
     [](KeepPlan& p, const CTempDir&) {
         p.cuts = {600, 500};
         p.titles.push_back("");
         p.fileNames.push_back("c.wav");
     },
     KeepRefusal::BadCuts},
    {"a title missing", [](KeepPlan& p, const CTempDir&) { p.titles.pop_back(); },
     KeepRefusal::BadCuts},
    {"names equal but for case",
     [](KeepPlan& p, const CTempDir&) {
         p.fileNames = {"a.wav", "A.WAV"};
     },
     KeepRefusal::NamesCollide},
    {"a name leaving the folder", [](KeepPlan& p, const CTempDir&) { p.fileNames[0] = "../a.wav"; },
     KeepRefusal::BadName},
    {"a name of another file", [](KeepPlan& p, const CTempDir&) { p.fileNames[1] = "other.WAV"; },
     KeepRefusal::NameTaken},
    {"a take opened before its songs changed",
     [](KeepPlan&, const CTempDir& d) {
         WriteWav(d / "Side2.wav", {16, 8000, 1}, Bytes(1000));
     },
     KeepRefusal::Changed},
    {"cancelled as it reports progress",
     [](KeepPlan& p, const CTempDir&) {
         p.onProgress = [](uint64_t done, uint64_t total) { return done < total / 2; };
     },
     KeepRefusal::Cancelled},
    {"a label file over notes",
     [](KeepPlan& p, const CTempDir& d) { p.strLabelFile = (d / "notes.txt").string(); },
     KeepRefusal::NotOurs},
    {"a label file over a song",
     [](KeepPlan& p, const CTempDir& d) { p.strLabelFile = (d / "Side2.wav").string(); },
     KeepRefusal::NotOurs},
    {"a new cue sheet named as a song",
     [](KeepPlan& p, const CTempDir& d) { p.strCueSheet = (d / "Side.WAV").string(); },
     KeepRefusal::NotOurs},
    {"a cue sheet of another side",
     [](KeepPlan& p, const CTempDir& d) { p.strCueSheet = (d / "other.cue").string(); },
     KeepRefusal::NotOurs},
    {"FLAC under WAV names", [](KeepPlan& p, const CTempDir&) { p.format = KeepFormat::Flac; },
     KeepRefusal::WrongExtension},
};

TEST(KeepTest, RefusesAPlanThatWouldHarmAFileAndChangesNothing) {
    for (const RefusalRow& row : kRefusals) {
        SCOPED_TRACE(row.szWhat);
        CTempDir dir;
        WriteTake((dir / "Side.wav").string(), {16, 8000, 1}, {400, 600});
        WriteFile(dir / "notes.txt", Bytes{'h', 'i', '\n'});
        WriteFile(dir / "Other.wav", Bytes{'h', 'i', '\n'});
        const std::string cue = "FILE \"Other.wav\" WAVE\n  TRACK 01 AUDIO\n";
        WriteFile(dir / "other.cue", Bytes(cue.begin(), cue.end()));
        KeepPlan plan = Plan({500}, "{n}.wav");
        const Take take = OpenTake((dir / "Side.wav").string()).take;
        row.change(plan, dir);
        const std::map<std::string, Bytes> before = Folder(dir);
        const KeepOutcome o = KeepTake(take, plan);
        EXPECT_EQ(o.refusal, row.refusal) << DescribeKeepOutcome(o);
        EXPECT_FALSE(DescribeKeepOutcome(o).empty());
        EXPECT_TRUE(Folder(dir) == before);
    }
    CTempDir dir;
    WriteTake((dir / "Side.wav").string(), {32, 8000, 2}, {400, 600});
    KeepPlan plan = Plan({500}, "{n}.wav");
    plan.format = KeepFormat::Flac;
    EXPECT_EQ(KeepTake(OpenTake((dir / "Side.wav").string()).take, plan).refusal,
              KeepRefusal::FloatToFlac);
}

TEST(KeepTest, ASideThatWasNeverSplitStaysBesideItsSongs) {
    CTempDir dir;
    const WavFormat format{16, 8000, 2};
    const Bytes side = MakeSamples(format, {{1000, true}});
    WriteWav(dir / "Tape.wav", format, side);
    // Spelled otherwise than the names the keep builds: still the same folder and files.
    const TakeOpening o = OpenTake(dir.Path() + "//./Tape.wav");
    ASSERT_TRUE(o.Ok());
    KeepPlan plan = Plan({300}, "Tape{n}.wav");
    EXPECT_EQ(KeepTake(o.take, Plan({300}, "Tape {n}.WAV")).refusal, KeepRefusal::None);
    plan.fileNames[1] = "Tape.wav";
    EXPECT_EQ(KeepTake(o.take, plan).refusal, KeepRefusal::NameTaken);
    EXPECT_TRUE(ReadFile(dir / "Tape.wav") == MakeWav(format, side));
    EXPECT_TRUE(Concatenated(In(dir, {"Tape 1.WAV", "Tape 2.WAV"})) == side);
}

// A title too long for a file name: the keep names the song whose name holds only its
// beginning, and only when the name was made from the title.
TEST(KeepTest, TellsWhichFileNamesHoldOnlyTheBeginningOfTheirTitle) {
    CTempDir dir;
    WriteTake((dir / "Side.wav").string(), {16, 8000, 2}, {500, 500});
    const std::string title(300, 't');
    TakeOpening o = OpenTake((dir / "Side.wav").string());
    for (const char* pattern : {"{n:02} {title}.wav", "Side{n}.wav"}) {
        SCOPED_TRACE(pattern);
        ASSERT_TRUE(o.Ok()) << DescribeTakeRefusal(o);
        KeepPlan plan = Plan({500}, pattern);
        plan.titles[1] = title;
        plan.fileNames = BuildSongNames(pattern, plan.titles, {}).names;
        const KeepOutcome kept = KeepTake(o.take, plan);
        ASSERT_TRUE(kept.Ok()) << DescribeKeepOutcome(kept);
        const bool titled = std::string(pattern).find("{title}") != std::string::npos;
        std::vector<ShortenedName> shortened;
        if (titled) shortened.push_back({1, title, plan.fileNames[1]});
        EXPECT_EQ(kept.shortened, shortened);
        EXPECT_LE(fs::path(kept.files[1]).filename().string().size(), 255u);
        o = OpenTakeFiles(kept.files, (dir / "Side.wav").string());
    }
}

TEST(KeepTest, WritesTheLabelFileAndCueSheetOfTheKeptCutsAndReplacesItsOwn) {
    CTempDir dir;
    WriteTake((dir / "Side.wav").string(), {16, 11025, 2}, {20000, 20000});
    KeepPlan plan = Plan({11099}, "{n}.wav");
    plan.titles = {"Tab\there", "Say \"hi\""};
    plan.strArtist = "Me";
    plan.strLabelFile = (dir / "Side.txt").string();
    plan.strCueSheet = (dir / "Side.cue").string();
    for (int round = 0; round < 2; ++round) {
        const TakeOpening o =
            round == 0 ? OpenTake((dir / "Side.wav").string())
                       : OpenTakeFiles(In(dir, {"1.wav", "2.wav"}), (dir / "Side.wav").string());
        const KeepOutcome kept = KeepTake(o.take, plan);
        ASSERT_TRUE(kept.Ok()) << DescribeKeepOutcome(kept);
    }
    const Bytes labels = ReadFile(dir / "Side.txt"), cue = ReadFile(dir / "Side.cue");
    EXPECT_EQ(std::string(labels.begin(), labels.end()),
              "0.000000\t1.006712\tTab here\n1.006712\t3.628118\tSay \"hi\"\n");
    // The sheet names the song files the keep wrote (the side itself is gone), each track at
    // the start of its own file.
    EXPECT_EQ(std::string(cue.begin(), cue.end()),
              "PERFORMER \"Me\"\nFILE \"1.wav\" WAVE\n  TRACK 01 AUDIO\n    TITLE \"Tab here\"\n"
              "    INDEX 01 00:00:00\nFILE \"2.wav\" WAVE\n  TRACK 02 AUDIO\n"
              "    TITLE \"Say 'hi'\"\n    INDEX 01 00:00:00\n");
    // The sheet read back as an editor's cuts, to the frame: its files measured on disk. (The
    // label text above reads back as written: the side files' own test.)
    const CutsFile fromCue = ReadCutsFile((dir / "Side.cue").string(), 11025);
    ASSERT_TRUE(fromCue.Ok()) << fromCue.strError;
    ASSERT_EQ(fromCue.marks.size(), 2u);
    EXPECT_EQ(fromCue.marks[1].nStart, 11099u);
    EXPECT_EQ(fromCue.files, (std::vector<std::string>{"1.wav", "2.wav"}));
    EXPECT_EQ(fromCue.strArtist, "Me");
}

TEST(KeepTest, FlacSongsDecodeToTheSamplesOfTheWavSongsAndCarryTheirTags) {
    for (const char* tool : {"flac", "metaflac"}) {
        if (!ToolInstalled(tool)) GTEST_SKIP() << tool << " is not installed";
    }
    for (const WavFormat& format : {WavFormat{16, 44100, 2}, WavFormat{16, 8000, 1}}) {
        CTempDir dir;
        const Bytes side = WriteTake((dir / "Side.wav").string(), format, {5000, 7001});
        KeepPlan plan = Plan({3000, 9000}, "{n:02} {title}.flac");
        plan.format = KeepFormat::Flac;
        uint64_t reached = 0;
        plan.onProgress = [&reached](uint64_t done, uint64_t) { return (reached = done), true; };
        plan.strAlbum = "Album";
        plan.strArtist = "Artist";
        const KeepOutcome kept = KeepTake(OpenTake((dir / "Side.wav").string()).take, plan);
        ASSERT_TRUE(kept.Ok()) << DescribeKeepOutcome(kept);
        EXPECT_EQ(reached, 12001u);
        std::vector<std::string> byFlac;
        for (size_t k = 0; k < kept.files.size(); ++k) {
            const std::string& f = kept.files[k];
            byFlac.push_back(f + ".flac.wav");
            EXPECT_EQ(RunTool("flac -s -d -o '" + byFlac.back() + "' '" + f + "'").nStatus, 0);
            EXPECT_EQ(RunTool("metaflac --export-tags-to=- '" + f + "'").szOut,
                      "title=Song " + std::to_string(k + 1) + "\ntracknumber=" +
                          std::to_string(k + 1) + "\nalbum=Album\nartist=Artist\n");
        }
        EXPECT_TRUE(Concatenated(byFlac) == side);
    }
}

}  // namespace

// The one rule every finished file is put in place by: a name is taken only while it is free,
// or over the very file the caller chose to replace; whatever came there since stays.
TEST(KeepTest, APublishedFileReplacesOnlyTheFileItWasMeantToReplace) {
    CTempDir dir;
    const std::string final = dir / "song.wav", temp = dir / ".song.wav.part";
    auto write = [](const std::string& path, const char* text) { std::ofstream(path) << text; };
    auto Text = [](const std::string& path) {
        std::ifstream in(path);
        return std::string(std::istreambuf_iterator<char>(in), {});
    };
    write(final, "mine");
    const FileIdentity seen = IdentityAt(final);
    write(temp, "new");
    EXPECT_FALSE(PublishFile(temp, final, {}));
    EXPECT_EQ(errno, EEXIST);
    // Another program's file at the name since: it stays, and so does the new one's copy.
    write(dir / "other", "another run's");
    fs::rename(dir / "other", final);
    EXPECT_FALSE(PublishFile(temp, final, seen));
    EXPECT_EQ(errno, EEXIST);
    EXPECT_EQ(Text(final), "another run's");
    EXPECT_EQ(Text(temp), "new");
    EXPECT_TRUE(PublishFile(temp, final, IdentityAt(final)));
    EXPECT_EQ(Text(final), "new");
    EXPECT_FALSE(fs::exists(temp));
    // A file seen and gone since: its free name is taken.
    write(temp, "newer");
    const FileIdentity gone = IdentityAt(final);
    fs::remove(final);
    EXPECT_TRUE(PublishFile(temp, final, gone));
    EXPECT_EQ(Text(final), "newer");
}
