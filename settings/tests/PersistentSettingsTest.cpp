// Loading and saving the persistent settings through an in-memory profile: defaults, the key
// names, values taken as stored and the window placement.
#include <gtest/gtest.h>

#include <climits>
#include <set>
#include <string>

#include "settings/PersistentSettings.h"

namespace {
const char* const kSection = "Version 1";
}

TEST(PersistentSettings, FreshProfileGivesTheDefaults) {
    CMemoryProfileStore profile;
    const PersistentSettings loaded = LoadSettings(profile, RecSettings{});
    EXPECT_EQ(loaded.settings, (RecSettings{-1764, -582, -5293, -1236, 1, 1, 44100, 16, 2, -1}));
    EXPECT_EQ(loaded.strPreset, "Album/Tape");
    EXPECT_TRUE(loaded.bPurple);
    EXPECT_TRUE(loaded.baseFiles.empty());
    EXPECT_EQ(loaded.nSelectedBaseFile, -1);
    // No placement: the window stays where its template puts it.
    EXPECT_EQ(loaded.placement.flags, kNoPlacement);
}

TEST(PersistentSettings, SaveWritesEveryValueAndLoadTakesThemAsTheyAre) {
    CMemoryProfileStore profile;
    PersistentSettings saved;
    saved.settings = {-20000, -3, -1800, -900, 0, 0, 48000, 32, 0xFFFF, 3};
    saved.strPreset = "Live \xE9";
    saved.bPurple = false;
    saved.placement = {2, kShowMinimized, -5, 7};
    SaveSettings(profile, saved);

    // The key names profiles already hold, whatever the order they are written in.
    std::set<std::string> keys;
    for (const auto& entry : profile.m_writeLog) keys.insert(entry.first);
    EXPECT_EQ(
        keys,
        (std::set<std::string>{
            "OutfileName0",    "OutfileName1",    "OutfileName2", "OutfileName3", "Gap Size",
            "Gap Level",       "Min Song Size",   "End Size",     "DC Block",     "Ignore Clicks",
            "Bits Per Sample", "Samples Per Sec", "Channels",     "WaveInID",     "Preset",
            "Background",      "flags",           "showCmd",      "left",         "top"}));
    EXPECT_EQ(profile.GetProfileInt(kSection, "Channels", 0), -1);  // widened as signed 16-bit

    // A gap size of 11.34 seconds is out of range, and 65535 channels cannot be recorded: the
    // record is handed on as stored, for its owner to check.
    PersistentSettings loaded = LoadSettings(profile, RecSettings{});
    EXPECT_EQ(loaded.settings, saved.settings);
    EXPECT_EQ(loaded.strPreset, "Live \xE9");
    EXPECT_FALSE(loaded.bPurple);
    // A minimised window opens normally.
    EXPECT_EQ(loaded.placement, (StoredPlacement{2, kShowNormal, -5, 7}));

    profile.WriteProfileString(kSection, "Preset", std::string(300, 'p'));
    loaded = LoadSettings(profile, RecSettings{});
    EXPECT_EQ(loaded.strPreset, std::string(259, 'p'));
}

TEST(WindowPlacementRestore, PositionsBeyondTheScreenArePulledBackAndMinusOneMeansNone) {
    const WindowPlacement current{0, kShowMaximized, {100, 50, 500, 350}};
    WindowPlacement out;
    EXPECT_FALSE(RestorePlacement(current, -1, 10, 10, 1920, 1080, 32, 32, out));
    EXPECT_FALSE(RestorePlacement(current, 0, -1, 10, 1920, 1080, 32, 32, out));
    EXPECT_FALSE(RestorePlacement(current, 0, 10, -1, 1920, 1080, 32, 32, out));
    const int32_t cases[][4] = {
        // stored left, top -> applied left, top
        {5000, 20, 1888, 20},
        {1888, 1048, 1888, 1048},
        {1887, 1047, 1887, 1047},
        {30, 99999, 30, 1048},
        {-40, -2, -40, -2},  // off the left and top edges: kept
        {INT32_MAX, INT32_MAX, 1888, 1048},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c[0]);
        ASSERT_TRUE(RestorePlacement(current, 2, c[0], c[1], 1920, 1080, 32, 32, out));
        EXPECT_EQ(out, (WindowPlacement{2, kShowNormal, {c[2], c[3], c[2] + 400, c[3] + 300}}));
    }
}
