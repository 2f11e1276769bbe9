// The settings kept between runs in the user's profile, section "Version 1": the settings
// record, the current preset name, the colour scheme, up to four base file names and the main
// window's position. The main window loads them while it initialises, before LoadPresets, and
// applies the value in one place; at exit, after SavePresets, it gathers them into one value and
// saves it. User-interface thread only, never while recording.
#pragma once

#include <string>
#include <vector>

#include "engine/RecSettings.h"
#include "settings/Presets.h"
#include "settings/ProfileStore.h"
#include "settings/WindowPlacement.h"

constexpr const char* kProfileSection = "Version 1";

// Everything the profile keeps between runs, as one value: LoadSettings gives it, SaveSettings
// takes it.
struct PersistentSettings {
    // Taken as stored: the recording control checks it when the window hands it on.
    RecSettings settings;
    std::string strPreset = kDefaultPresetName;  // at most kMaxPresetName bytes
    bool bPurple = true;
    // The base-file-name list from the top, and the index of its selected entry (-1 for none).
    // Loading gives the stored names in order, the first selected.
    std::vector<std::string> baseFiles;
    int nSelectedBaseFile = -1;
    StoredPlacement placement;

    bool operator==(const PersistentSettings&) const = default;
};

// Reads every value; a missing one gives its default. The record's defaults are `current`
// (at start-up the analyser's construction defaults as positions), but the device is the
// system default (-1) unless one is stored.
PersistentSettings LoadSettings(IProfileStore& profile, const RecSettings& current);

// Writes every value. The selected base file is kept as entry 0, followed by the first three
// of the others in list order; with none selected entry 0 is empty.
void SaveSettings(IProfileStore& profile, const PersistentSettings& values);
