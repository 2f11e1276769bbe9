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

namespace {
std::string FileText(const std::string& path) {
    const auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}
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
        EXPECT_EQ(profile.GetProfileString("Version 1", "Preset", ""), "Caf\xC3\xA9");
        profile.WriteProfileString("Version 1", "Preset", every);
        profile.WriteProfileString("Version 1", "OutfileName0",
                                   "/home/\xC4\x8C"
                                   "ajovna/A.wav");
    }
    CQSettingsProfileStore profile(path);
    EXPECT_EQ(profile.GetProfileString("Version 1", "Preset", ""), every);
    EXPECT_EQ(profile.GetProfileString("Version 1", "OutfileName0", ""),
              "/home/\xC4\x8C"
              "ajovna/A.wav");
    // A name in UTF-8 is stored as it is: readable by hand.
    EXPECT_NE(FileText(path).find("OutfileName0=/home/\xC4\x8C"
                                  "ajovna/A.wav\n"),
              std::string::npos);
}

// An earlier version kept each byte as a Latin-1 character (UTF-8 twice over in the file); its
// names still read right, and the first string written turns every one into plain UTF-8. A
// name edited by hand into a profile of either form is read as the text it is.
TEST(QSettingsProfile, EarlierProfilesReadAndTurnIntoPlainUtf8) {
    const std::string path = g_configHome + "/earlier.ini";
    const std::string ini =
        "[Version%201]\nOutfileName0=/m/\xC3\x84\xC2\x8C"
        "ajovna/SideA.wav\n"
        "OutfileName1=/m/\xC4\x8C"
        "ajovna/SideB.wav\nPreset=Loud\n";
    WriteBytes(path, std::vector<uint8_t>(ini.begin(), ini.end()));
    {
        CQSettingsProfileStore profile(path);
        EXPECT_EQ(profile.GetProfileString("Version 1", "OutfileName0", ""),
                  "/m/\xC4\x8C"
                  "ajovna/SideA.wav");
        EXPECT_EQ(profile.GetProfileString("Version 1", "OutfileName1", ""),
                  "/m/\xC4\x8C"
                  "ajovna/SideB.wav");
        EXPECT_EQ(FileText(path), ini);  // reading changes nothing
        profile.WriteProfileString("Version 1", "Preset", "Quiet");
    }
    const std::string written = FileText(path);
    EXPECT_NE(written.find("Text=UTF-8"), std::string::npos) << written;
    EXPECT_NE(written.find("OutfileName0=/m/\xC4\x8C"
                           "ajovna/SideA.wav\n"),
              std::string::npos);
    EXPECT_NE(written.find("OutfileName1=/m/\xC4\x8C"
                           "ajovna/SideB.wav\n"),
              std::string::npos);
    EXPECT_EQ(written.find("\xC3\x84"), std::string::npos) << written;

    // Edited by hand in the present form: a Latin-1 letter is UTF-8 text as well. (Another
    // file: Qt keeps what it read of a path and reads it again only when its time or size
    // changed, which an edit of the same size within the same second does not.)
    std::string edited = written;
    edited.replace(edited.find("Preset=Quiet"), 12, "Preset=Caf\xC3\xA9");
    const std::string editedPath = g_configHome + "/edited.ini";
    WriteBytes(editedPath, std::vector<uint8_t>(edited.begin(), edited.end()));
    CQSettingsProfileStore profile(editedPath);
    EXPECT_EQ(profile.GetProfileString("Version 1", "Preset", ""), "Caf\xC3\xA9");
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
