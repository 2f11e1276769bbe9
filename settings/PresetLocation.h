// Where the presets live and what a first start begins with. The presets file is kept in the
// user's data folder, the folder Qt names QStandardPaths::AppDataLocation for organisation
// "Zelk" and application "Vellistro": $XDG_DATA_HOME/Zelk/Vellistro, or
// ~/.local/share/Zelk/Vellistro. Computed here without Qt, so that the splitter finds the same
// file. No state; any thread.
#pragma once

#include <string>
#include <vector>

#include "settings/Presets.h"

// The names the user's profile and data folder are filed under (the profile is "Vellistro",
// one letter off the product name the captions show).
constexpr const char* kProfileOrganisation = "Zelk";
constexpr const char* kProfileApplication = "Vellistro";

constexpr const char* kPresetFileName = "Single1.pre";

// The user's data folder of the program, without a trailing slash. It may not exist yet.
std::string UserDataFolder();

// UserDataFolder() + "/Single1.pre".
std::string UserPresetsFile();

// The presets a user starts with when no presets file exists anywhere: "Album/Tape" (the
// defaults), "Quiet Classical", "Noisy Record" and "Live Concert", each explained in the help.
std::vector<CPresets> StartingPresets();
