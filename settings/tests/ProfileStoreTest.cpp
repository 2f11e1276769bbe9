// The QSettings profile on disk: the user's configuration file under a scratch
// XDG_CONFIG_HOME, values that a fresh process reads back as text, and byte strings; the data
// folder that holds the presets.
#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QStandardPaths>

#include "settings/PresetLocation.h"
#include "settings/QSettingsProfileStore.h"
#include "settings/tests/SettingsTestSupport.h"

namespace {

// QSettings fixes its folders at first use, so the scratch home is set before any test runs.
const testsupport::CTempDir g_configDir;
const bool g_bConfigHomeSet = ::setenv("XDG_CONFIG_HOME", g_configDir.Path().c_str(), 1) == 0;
const std::string g_configHome = g_configDir.Path();

}  // namespace

TEST(QSettingsProfile, NumbersReadAsSigned32BitAndStringsComeBackByteForByte) {
    const std::string path = g_configHome + "/by-hand.ini";
    const std::string ini =
        "[Version%201]\nGap%20Size=-20000\nWaveInID=4294967295\nChannels=-1\n"
        "DC%20Block=yes\nPreset=Caf\xC3\xA9\n";
    WriteBytes(path, std::vector<uint8_t>(ini.begin(), ini.end()));
    std::string every;
    for (int c = 1; c < 256; ++c) every += static_cast<char>(c);
    {
        CQSettingsProfileStore profile(path);
        EXPECT_EQ(profile.GetProfileInt("Version 1", "Gap Size", 0), -20000);
        EXPECT_EQ(profile.GetProfileInt("Version 1", "WaveInID", 0), -1);
        EXPECT_EQ(profile.GetProfileInt("Version 1", "Channels", 0), -1);
        EXPECT_EQ(profile.GetProfileInt("Version 1", "DC Block", 7), 7);  // not a number
        EXPECT_EQ(profile.GetProfileString("Version 1", "Preset", ""), "Caf\xE9");
        profile.WriteProfileString("Version 1", "Preset", every);
        profile.WriteProfileString("Version 1", "OutfileName0", "/home/m\xC3\xBCller/A.wav");
    }
    CQSettingsProfileStore profile(path);
    EXPECT_EQ(profile.GetProfileString("Version 1", "Preset", ""), every);
    EXPECT_EQ(profile.GetProfileString("Version 1", "OutfileName0", ""),
              "/home/m\xC3\xBCller/A.wav");
}

// The splitter finds the presets without Qt; the recorder's folder must be the one Qt names.
TEST(UserDataFolder, IsQtsAppDataLocation) {
    int argc = 1;
    char name[] = "settings_profile_tests";
    char* argv[] = {name, nullptr};
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(kProfileOrganisation);
    QCoreApplication::setApplicationName(kProfileApplication);
    const std::string home = std::getenv("HOME");
    for (const char* xdg : {"/tmp/data-home", ""}) {
        ::setenv("XDG_DATA_HOME", xdg, 1);
        ::setenv("HOME", "/home/someone/", 1);
        EXPECT_EQ(UserDataFolder(),
                  QStandardPaths::writableLocation(QStandardPaths::AppDataLocation).toStdString());
    }
    ::setenv("HOME", home.c_str(), 1);
    ::unsetenv("XDG_DATA_HOME");
}
