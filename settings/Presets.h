// One named preset: a name and the settings record it recalls. The name is bytes in the 8-bit
// code page (Windows-1252), kept exactly as read; no preset name is longer than
// kMaxPresetName bytes.
//
// Owned by the preset list (CPresetStore, or the splitter's own list); user-interface thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "engine/RecSettings.h"

class CArchiveReader;
class CArchiveWriter;

// The longest preset name the program keeps, in bytes: in a presets file, in the profile as the
// current preset, and in the preset lists. Longer names are cut to it wherever they come from.
constexpr size_t kMaxPresetName = 259;

// The current preset of a fresh profile, and the first of the starting presets.
constexpr const char* kDefaultPresetName = "Album/Tape";

class CPresets {
public:
    static constexpr uint16_t kSchema = 11;    // written, read
    static constexpr uint16_t kOldSchema = 1;  // the program's first presets files, read only
    static constexpr const char* kClassName = "CPresets";
    static constexpr const char* kOldSuffix = " [Beta]";

    CPresets() = default;
    CPresets(std::string name, const RecSettings& settings);

    std::string GetName() const { return m_strName; }
    // Names longer than kMaxPresetName bytes are cut to it.
    void SetName(std::string name);

    // Writes a schema-11 body: name, then 36 bytes of fields (bits before rate).
    void Serialize(CArchiveWriter& ar) const;
    // Reads a body of the given schema (11, or 1 with " [Beta]" and its defaults). False on a
    // short read or an unknown schema; the object is then left unchanged.
    bool Serialize(CArchiveReader& ar, uint16_t schema);

    bool operator==(const CPresets&) const = default;

    std::string m_strName;
    RecSettings m_settings;
};

// Cuts a byte string to kMaxPresetName bytes.
std::string CutPresetName(std::string name);
