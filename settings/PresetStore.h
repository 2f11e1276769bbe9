// The preset list of the main window with its file handling: LoadPresets at start-up (with the
// one-time migration of the "Single.pre" of this program's first versions and the completion of
// an interrupted save), WritePresets whenever the list changes and SavePresets at exit
// (atomically: "Temp.pre" written, synced and renamed over "Single1.pre"), filling a preset box and
// applying the selected preset. The files live in the user's data folder (PresetLocation.h); a
// first start takes over, by copying, the presets file that this program's earlier versions kept in
// the folder it was started from.
//
// Owned by the main window for the whole run; the Custom Settings dialog edits m_presets and
// m_strPreset through pointers. User-interface thread only.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/RecSettings.h"
#include "settings/PresetBox.h"
#include "settings/Presets.h"
#include "settings/PresetsFile.h"
#include "settings/Prompter.h"

// Bytes of a presets file's path buffer, terminator included: a working directory may
// legitimately be longer than 250 characters.
constexpr size_t kPresetPathSize = 4096;

class CPresetStore {
public:
    CPresetStore(IPresetBox& box, IPrompter& prompter);

    // Reads the presets from the user's data folder and fills the preset box; keeps the paths
    // for SavePresets. When the data folder holds no presets files yet, those of the current
    // directory are copied in first; when there are none there either, the list starts with
    // StartingPresets(). Tells the user (once per file) about a damaged presets file.
    void LoadPresets();
    // The same with the folders given: dataDir holds the presets, startDir is looked at for
    // presets to take over.
    void LoadPresets(const std::string& dataDir, const std::string& startDir);
    // Writes the list to the kept paths, unless it is what the presets file already gives (or,
    // without a file, the starting presets). False (with a message shown, and "Single1.pre" as
    // it was) when the file could not be written; a later call tries again.
    bool WritePresets();
    // WritePresets, then empties the list and the box: the program is ending.
    bool SavePresets();

    // Fills the main window's box and selects m_strPreset.
    void FillPresetCombo();
    // The same for any box (the Custom Settings dialog's).
    static void FillPresetCombo(IPresetBox& box, const std::vector<CPresets>& presets,
                                const std::string& currentName);

    // The main window's preset box changed its selection: makes that preset the current one and
    // gives its record, for the owner of the settings to apply. Nothing for a stale entry (a
    // preset deleted meanwhile).
    std::optional<RecSettings> OnSelChangePreset();

    // First preset of that name in list order, or null.
    CPresets* FindPreset(const std::string& name) { return FindPresetByName(m_presets, name); }

    // Makes a name the current one, cut to kMaxPresetName bytes.
    void SetCurrentPresetName(const std::string& name);

    // Test seam: called with a step name at each point where a crash during SavePresets would
    // leave a different state on disk. Null in the program.
    std::function<void(const char* step)> m_saveStepHook;

    std::vector<CPresets> m_presets;
    std::string m_strPreset = kDefaultPresetName;  // the current preset's name
    char m_szTempPresetPath[kPresetPathSize] = "";
    char m_szPresetPath[kPresetPathSize] = "";

private:
    void ReportDamage(const std::string& path, const PresetLoadReport& report);
    void SaveStep(const char* step);

    IPresetBox& m_box;
    IPrompter& m_prompter;
    // The presets file read at start-up was damaged or unreadable: the next save keeps it
    // under another name before replacing it.
    bool m_bKeepOldPresetFile = false;
    // What the next start would load if nothing were saved, and whether the list read at
    // start-up differs from it anyway (old presets added, a save completed only in memory).
    std::vector<CPresets> m_savedPresets;
    bool m_bMustWrite = false;
};
