// Start-up and exit of the preset list on real files in a scratch data folder: the first start,
// migration, interrupted and failing saves, damaged files, and applying a preset.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>
#include <vector>

#include "settings/PresetLocation.h"
#include "settings/PresetStore.h"
#include "settings/tests/SettingsTestSupport.h"

namespace fs = std::filesystem;

namespace {

// Two presets in the program's first format (schema 1): Album/Tape and Live.
const Bytes kOldFile = Bytes{0x02, 0x00} + ClassDefinition(1) +
                       OldBody("Album/Tape", {-1764, -582, -5293, -1236, 1, 1}) +
                       Bytes{0x01, 0x80} + OldBody("Live", {-900, -300, -2000, -900, 0, -1});

struct Session {
    CFakePresetBox box;
    CScriptedPrompter prompter;
    CPresetStore store{box, prompter};
};

// While set, every fsync and rename of this program is noted with the paths it names. The
// program is linked with -Wl,--wrap for both, so the presets code calls the wrappers below.
std::vector<std::string>* g_pDiskLog = nullptr;

std::string PathOf(int fd) {
    char path[4096];
    const ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), path, sizeof path);
    return n > 0 ? std::string(path, static_cast<size_t>(n)) : "?";
}

// A start-up in a new session: the presets it loads and what it showed.
std::vector<CPresets> LoadFresh(std::vector<ShownPrompt>* shown = nullptr) {
    Session s;
    s.store.LoadPresets();
    if (shown) *shown = s.prompter.m_shown;
    return s.store.m_presets;
}

}  // namespace

extern "C" {
int __real_fsync(int fd);
int __real_rename(const char* from, const char* to);

int __wrap_fsync(int fd) {
    if (g_pDiskLog) g_pDiskLog->push_back("fsync " + PathOf(fd));
    return __real_fsync(fd);
}

int __wrap_rename(const char* from, const char* to) {
    if (g_pDiskLog) g_pDiskLog->push_back(std::string("rename ") + from + " " + to);
    return __real_rename(from, to);
}
}

// Started from a folder without presets: the starting presets, and nothing written until the
// user changes them; then the file goes to the data folder, wherever the program runs by then.
TEST(PresetStartUp, FirstStartOffersStartingPresetsAndWritesOnlyChanges) {
    CScratchDir dir;
    const std::string startFolder = dir.EnterStartFolder();
    fs::remove(dir.Path());
    {
        Session s;
        s.store.LoadPresets();
        EXPECT_EQ(s.store.m_presets, StartingPresets());
        EXPECT_EQ(s.box.m_nSel, 0);  // "Album/Tape", the current preset of a fresh profile
        ASSERT_TRUE(s.store.SavePresets());
        EXPECT_FALSE(fs::exists(dir.Path()));
        EXPECT_TRUE(fs::is_empty(startFolder));
    }
    Session s;
    s.store.LoadPresets();
    s.store.m_presets.emplace_back("Mine", MakeSettings(3));
    fs::current_path(dir.Root());
    std::vector<CPresets> expected = StartingPresets();
    expected.emplace_back("Mine", MakeSettings(3));
    // Written as soon as it changes, and still the list of the running program.
    ASSERT_TRUE(s.store.WritePresets());
    EXPECT_EQ(ReadBytes(dir.File("Single1.pre")), WritePresetsArchive(expected));
    EXPECT_EQ(s.store.m_presets, expected);
    ASSERT_TRUE(s.store.SavePresets());
    EXPECT_EQ(ReadBytes(dir.File("Single1.pre")), WritePresetsArchive(expected));
    EXPECT_TRUE(fs::is_empty(startFolder));
}

// The presets of one of the program's earlier versions in the start folder are copied into an empty
// data folder, once; the originals stay as they were.
TEST(PresetStartUp, PresetsOfTheStartFolderAreTakenOverOnce) {
    CScratchDir dir;
    const std::string startFolder = dir.EnterStartFolder();
    const Bytes mine = WritePresetsArchive({CPresets("Mine", MakeSettings(1))});
    WriteBytes(startFolder + "/Single1.pre", mine);
    WriteBytes(startFolder + "/Single.pre", kOldFile);
    Session s;
    s.prompter.m_answers = {true};
    s.store.LoadPresets();
    ASSERT_EQ(s.store.m_presets.size(), 3u);  // Mine, then the old file's two
    EXPECT_EQ(s.store.m_presets[0].GetName(), "Mine");
    EXPECT_EQ(ReadBytes(startFolder + "/Single1.pre"), mine);
    EXPECT_EQ(ReadBytes(startFolder + "/Single.pre"), kOldFile);
    EXPECT_EQ(ReadBytes(dir.File("SingleOld.pre")), kOldFile);
    ASSERT_TRUE(s.store.SavePresets());

    // The data folder has presets now: the start folder's are not looked at again.
    WriteBytes(startFolder + "/Single1.pre", WritePresetsArchive(MakePresets(2, "Other ")));
    std::vector<ShownPrompt> shown;
    EXPECT_EQ(LoadFresh(&shown).size(), 3u);
    EXPECT_TRUE(shown.empty());
}

TEST(PresetStartUp, TempFileTakesThePlaceOfAMissingPresetsFileOnlyWhenWhole) {
    {
        CScratchDir dir;
        WriteBytes(dir.File("Temp.pre"), WritePresetsArchive(MakePresets(2)));
        EXPECT_EQ(LoadFresh(), MakePresets(2));
        EXPECT_FALSE(fs::exists(dir.File("Temp.pre")));
        EXPECT_EQ(ReadBytes(dir.File("Single1.pre")), WritePresetsArchive(MakePresets(2)));
    }
    {
        CScratchDir dir;
        Bytes partial = WritePresetsArchive(MakePresets(5));
        partial.resize(partial.size() - 10);
        WriteBytes(dir.File("Temp.pre"), partial);
        EXPECT_EQ(LoadFresh(), StartingPresets());  // no whole presets file anywhere
        EXPECT_FALSE(fs::exists(dir.File("Single1.pre")));
        EXPECT_EQ(ReadBytes(dir.File("Temp.pre.damaged")), partial);
    }
    {
        // Both present: the presets file wins and the stale Temp.pre goes at once, so that a
        // later start without the presets file cannot bring its presets back.
        CScratchDir dir;
        WriteBytes(dir.File("Single1.pre"), WritePresetsArchive(MakePresets(2, "Kept ")));
        WriteBytes(dir.File("Temp.pre"), WritePresetsArchive(MakePresets(4, "Stale ")));
        Session s;
        s.store.LoadPresets();
        EXPECT_EQ(s.store.m_presets, MakePresets(2, "Kept "));
        EXPECT_FALSE(fs::exists(dir.File("Temp.pre")));
        ASSERT_TRUE(s.store.SavePresets());  // nothing changed: nothing written
        fs::remove(dir.File("Single1.pre"));
        EXPECT_EQ(LoadFresh(), StartingPresets());
    }
    {
        // A damaged presets file loads nothing: Temp.pre may be all that is left, so it stays.
        CScratchDir dir;
        WriteBytes(dir.File("Single1.pre"), Bytes{0x05, 0x00, 0xFF});
        WriteBytes(dir.File("Temp.pre"), WritePresetsArchive(MakePresets(4, "Stale ")));
        Session s;
        s.store.LoadPresets();
        EXPECT_TRUE(fs::exists(dir.File("Temp.pre")));
    }
}

// With No, an existing "SingleOld.pre" is in the way: it is never replaced.
TEST(PresetStartUp, OldPresetsAreAddedOnYesAndTheOldFileRenamedEitherWay) {
    for (bool yes : {true, false}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        CScratchDir dir;
        WriteBytes(dir.File("Single.pre"), kOldFile);
        if (!yes) WriteBytes(dir.File("SingleOld.pre"), {0x00, 0x00});
        WriteBytes(dir.File("Single1.pre"), WritePresetsArchive({CPresets("Mine", {})}));
        Session s;
        s.prompter.m_answers = {yes};
        s.store.LoadPresets();

        ASSERT_EQ(s.prompter.m_shown.size(), 1u);
        EXPECT_EQ(s.prompter.m_shown[0].text,
                  "Do you want to add your old presets to the new ones?\n\nIf you have not "
                  "changed your presets, we recommend choosing No.\n\nIf you have changed or "
                  "added presets, we recommend choosing Yes,\nand your old presets will be "
                  "saved with the word '[Beta]' after them.\n\n");
        EXPECT_EQ(s.prompter.m_shown[0].title, "Save Old Presets?");
        EXPECT_EQ(s.prompter.m_shown[0].icon, PromptIcon::Question);
        EXPECT_FALSE(fs::exists(dir.File("Single.pre")));
        EXPECT_EQ(ReadBytes(dir.File("SingleOld.pre")), yes ? kOldFile : Bytes(2, 0));
        EXPECT_EQ(ReadBytes(dir.File("SingleOld1.pre")), yes ? Bytes{} : kOldFile);
        std::vector<std::string> names;
        for (const CPresets& p : s.store.m_presets) names.push_back(p.GetName());
        const std::vector<std::string> all = {"Mine", "Album/Tape [Beta]", "Live [Beta]"};
        EXPECT_EQ(names, yes ? all : std::vector<std::string>{"Mine"});

        // The next start neither asks nor adds them again.
        ASSERT_TRUE(s.store.SavePresets());
        std::vector<ShownPrompt> shown;
        EXPECT_EQ(LoadFresh(&shown).size(), names.size());
        EXPECT_TRUE(shown.empty());
    }
}

TEST(PresetStartUp, DamagedFilesAreReportedOnceAndKeptBeforeTheyAreReplaced) {
    CScratchDir dir;
    Bytes damaged = WritePresetsArchive(MakePresets(5));
    damaged.resize(damaged.size() - 3);
    WriteBytes(dir.File("Single1.pre"), damaged);
    Bytes old = kOldFile;
    old.pop_back();
    WriteBytes(dir.File("Single.pre"), old);

    Session s;
    s.prompter.m_answers = {true};
    s.store.LoadPresets();
    std::vector<CPresets> expected = MakePresets(4);
    expected.emplace_back("Album/Tape [Beta]",
                          RecSettings{-1764, -582, -5293, -1236, 1, 0, 44100, 16, 2, 1});
    EXPECT_EQ(s.store.m_presets, expected);
    ASSERT_EQ(s.prompter.m_shown.size(), 3u);  // the question, then one notice per file
    for (int i : {1, 2}) {
        EXPECT_EQ(s.prompter.m_shown[i].title, "Preset Error");
        EXPECT_FALSE(s.prompter.m_shown[i].question);
    }
    EXPECT_THAT(s.prompter.m_shown[1].text, HasSubstr(dir.File("Single1.pre") + " is damaged"));
    EXPECT_THAT(s.prompter.m_shown[1].text, HasSubstr("4 preset(s) could be read"));
    EXPECT_THAT(s.prompter.m_shown[2].text, HasSubstr(dir.File("Single.pre") + " is damaged"));
    // Untouched until the save, so a crash before it loses nothing either.
    EXPECT_EQ(ReadBytes(dir.File("Single1.pre")), damaged);

    WriteBytes(dir.File("Single1.pre.damaged"), {0x01});  // an earlier one stays too
    ASSERT_TRUE(s.store.SavePresets());
    EXPECT_EQ(ReadBytes(dir.File("Single1.pre.damaged")), Bytes{0x01});
    EXPECT_EQ(ReadBytes(dir.File("Single1.pre.damaged1")), damaged);
    std::vector<ShownPrompt> shown;
    EXPECT_EQ(LoadFresh(&shown), expected);
    EXPECT_TRUE(shown.empty());
}

// Failures that hold even for root, where permission bits stop nothing: a directory in the
// way of "Temp.pre", and a file size limit (the disk-full path, in a child process).
TEST(PresetSave, FailureLeavesThePresetsFileByteIdenticalAndTellsTheUser) {
    const Bytes original = WritePresetsArchive(MakePresets(3, "Original "));
    for (bool sizeLimit : {false, true}) {
        SCOPED_TRACE(sizeLimit ? "file size limit" : "directory in the way");
        CScratchDir dir;
        WriteBytes(dir.File("Single1.pre"), original);
        if (!sizeLimit) fs::create_directories(dir.File("Temp.pre/inside"));
        const pid_t pid = fork();
        if (pid == 0) {
            if (sizeLimit) {
                std::signal(SIGXFSZ, SIG_IGN);
                const struct rlimit limit = {5000, 5000};
                setrlimit(RLIMIT_FSIZE, &limit);
            }
            Session s;
            s.store.LoadPresets();
            s.store.m_presets = MakePresets(400);
            const bool saved = s.store.SavePresets();
            const auto& shown = s.prompter.m_shown;
            _exit(!saved && shown.size() == 1 && shown[0].icon == PromptIcon::Stop &&
                          shown[0].text.find("has not been changed") != std::string::npos
                      ? 0
                      : 1);
        }
        int status = 0;
        waitpid(pid, &status, 0);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
        EXPECT_EQ(ReadBytes(dir.File("Single1.pre")), original);
        EXPECT_FALSE(fs::is_regular_file(dir.File("Temp.pre")));
    }
}

// A power cut after a save must find the old file or the whole new one: the new file's bytes
// reach the disk before it replaces the old one, and the folder after, so the rename holds.
TEST(PresetSave, TheNewFileIsSyncedBeforeItReplacesTheOldAndTheFolderAfter) {
    CScratchDir dir;
    WriteBytes(dir.File("Single1.pre"), WritePresetsArchive(MakePresets(2)));
    Session s;
    s.store.LoadPresets();
    s.store.m_presets.emplace_back("New", MakeSettings(9));
    std::vector<std::string> log;
    g_pDiskLog = &log;
    const bool saved = s.store.SavePresets();
    g_pDiskLog = nullptr;
    ASSERT_TRUE(saved);
    const std::string folder = fs::canonical(dir.Path()).string();
    const std::string temp = dir.File("Temp.pre"), presets = dir.File("Single1.pre");
    EXPECT_EQ(log, (std::vector<std::string>{"fsync " + folder + "/Temp.pre",
                                             "rename " + temp + " " + presets, "fsync " + folder}));
}

TEST(PresetSave, KilledAtAnyStepLeavesTheOldOrTheNewPresets) {
    const std::vector<CPresets> oldList = MakePresets(20, "Old ");
    const std::vector<CPresets> newList = MakePresets(300, "New ");  // several 4096-byte blocks
    for (bool hadFile : {true, false}) {
        SCOPED_TRACE(hadFile ? "replacing a presets file" : "first save");
        const std::vector<CPresets> before = hadFile ? oldList : StartingPresets();
        int sawOld = 0, sawNew = 0;
        for (int n = 0;; ++n) {
            SCOPED_TRACE(n);
            CScratchDir dir;
            if (hadFile) WriteBytes(dir.File("Single1.pre"), WritePresetsArchive(oldList));
            const pid_t pid = fork();
            if (pid == 0) {
                Session s;
                s.store.LoadPresets();
                s.store.m_presets = newList;
                int step = 0;
                s.store.m_saveStepHook = [&](const char*) {
                    if (step++ == n) raise(SIGKILL);
                };
                s.store.SavePresets();
                _exit(0);
            }
            int status = 0;
            waitpid(pid, &status, 0);
            std::vector<ShownPrompt> shown;
            const auto list = LoadFresh(&shown);
            EXPECT_TRUE(list == before || list == newList) << list.size() << " presets";
            EXPECT_TRUE(shown.empty());
            sawOld += list == before;
            sawNew += list == newList;
            if (!WIFSIGNALED(status)) break;
        }
        EXPECT_GT(sawOld, 0);
        EXPECT_GT(sawNew, 1);
    }
}

// The store only picks: whatever the record holds reaches the owner, which checks it.
TEST(PresetApply, SelectedPresetBecomesCurrentAndGivesItsRecordAsStored) {
    CScratchDir dir;
    RecSettings odd = MakeSettings(5);
    odd.nGapLevel = 3;  // above 0: no level at all
    odd.nWaveInID = 1;
    WriteBytes(dir.File("Single1.pre"),
               WritePresetsArchive({CPresets("Album/Tape", {}), CPresets("Odd", odd)}));
    Session s;
    s.store.LoadPresets();
    EXPECT_EQ(s.box.m_nSel, 0);  // the stored current name
    ASSERT_EQ(s.box.SelectStringExact("odd"), 1);

    EXPECT_EQ(s.store.OnSelChangePreset(), odd);
    EXPECT_EQ(s.store.m_strPreset, "Odd");
    EXPECT_TRUE(s.prompter.m_shown.empty());

    // An entry whose preset is gone gives nothing.
    s.store.m_presets.pop_back();
    EXPECT_EQ(s.store.OnSelChangePreset(), std::nullopt);
    EXPECT_EQ(s.store.m_strPreset, "Odd");
}
