// Reading and writing a whole presets file: the count, the class definition of the first
// preset, the class references of the others, and the bodies. Reading is tolerant: a damaged
// file (truncated, unknown tag or schema, wrong class name, a count larger than the file can
// hold) yields the presets read completely before the damage and says so in the report.
//
// Used by CPresetStore (user-interface thread) and by the splitter (its main thread); no state.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/Presets.h"

struct PresetLoadReport {
    bool bOpened = false;    // the file existed and could be read
    bool bDamaged = false;   // reading stopped before the counted presets were all read
    uint32_t nCounted = 0;   // presets the file's count announced
    size_t nRecovered = 0;   // presets read completely (all of them when not damaged)
    int nErrno = 0;          // why the file could not be opened or read, when !bOpened
    std::string strProblem;  // what was wrong, in a few words, when bDamaged
};

// Appends the presets of an archive in memory to out. True when the archive was read whole.
bool ReadPresetsArchive(const uint8_t* data, size_t size, std::vector<CPresets>& out,
                        PresetLoadReport* report);

// The archive bytes of a list, exactly as SavePresets writes them.
std::vector<uint8_t> WritePresetsArchive(const std::vector<CPresets>& presets);
// Writes the archive through a 4096-byte buffer to a sink; false when the sink failed.
bool WritePresetsArchive(const std::vector<CPresets>& presets, CArchiveWriter& ar);

// Reads a presets file and appends its presets to out. False when the file could not be opened
// or read (report->bOpened false, nothing appended) or was damaged (the presets read completely
// are appended). A missing file gives report->nErrno == ENOENT.
bool LoadPresetsFile(const std::string& path, std::vector<CPresets>& out, PresetLoadReport* report);

// The first preset in list order whose name equals name byte for byte, or null.
const CPresets* FindPresetByName(const std::vector<CPresets>& presets, const std::string& name);
CPresets* FindPresetByName(std::vector<CPresets>& presets, const std::string& name);
