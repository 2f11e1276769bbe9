// The settings kept between runs in the user's profile, section "Version 1": the settings
// record, the current preset name, the colour scheme, up to four base file names and the main
// window's position. LoadSettings runs while the main window initialises, before LoadPresets;
// SaveSettings at exit, after SavePresets. User-interface thread only, never while recording.
#pragma once

#include <cstdint>
#include <functional>

#include "engine/RecSettings.h"
#include "settings/BaseFileList.h"
#include "settings/ProfileStore.h"
#include "settings/WindowPlacement.h"

constexpr const char* kProfileSection = "Version 1";
constexpr const char* kDefaultPresetName = "Album/Tape";

// What the two operations read and write: the main window's members.
struct SettingsTargets {
    // The record its owner holds (the recording control's): its values stand in for keys the
    // profile lacks, and SaveSettings writes it.
    const RecSettings* pSettings = nullptr;
    // Hands the record read to its owner, which applies it (CRecordingControl::SetSettings).
    std::function<void(const RecSettings&)> setSettings;
    char* pszPreset = nullptr;  // m_szPreset, 260 bytes
    int* pbPurple = nullptr;    // m_bPurple
    IBaseFileList* pBaseFiles = nullptr;
    IWindowPlacement* pWindow = nullptr;
};

// Reads every value (missing ones give their defaults) and hands it on: base files through
// AddBaseFile, the record whole through setSettings, the preset name cut to 259 bytes, the
// scheme flag, and the window placement.
void LoadSettings(IProfileStore& profile, const SettingsTargets& targets);

// Writes every value; removes the selected base file from the list.
void SaveSettings(IProfileStore& profile, const SettingsTargets& targets);
