#include "settings/Presets.h"

#include "settings/Archive.h"

std::string CutPresetName(std::string name) {
    if (name.size() > kMaxPresetName) name.resize(kMaxPresetName);
    return name;
}

CPresets::CPresets(std::string name, const RecSettings& settings)
    : m_strName(CutPresetName(std::move(name))), m_settings(settings) {}

void CPresets::SetName(std::string name) { m_strName = CutPresetName(std::move(name)); }

void CPresets::Serialize(CArchiveWriter& ar) const {
    ar.WriteString(m_strName);
    ar.WriteI32(m_settings.nGapSize);
    ar.WriteI32(m_settings.nGapLevel);
    ar.WriteI32(m_settings.nMinSongSize);
    ar.WriteI32(m_settings.nEndSize);
    ar.WriteI32(m_settings.bDCBlock);
    ar.WriteI32(m_settings.bIgnoreClicks);
    ar.WriteU16(m_settings.wBitsPerSample);
    ar.WriteU32(m_settings.nSamplesPerSec);
    ar.WriteU16(m_settings.wChannels);
    ar.WriteI32(m_settings.nWaveInID);
}

bool CPresets::Serialize(CArchiveReader& ar, uint16_t schema) {
    if (schema != kSchema && schema != kOldSchema) return false;
    std::string name;
    RecSettings s;
    if (!ar.ReadString(name)) return false;
    bool ok = ar.ReadI32(s.nGapSize) && ar.ReadI32(s.nGapLevel) && ar.ReadI32(s.nMinSongSize) &&
              ar.ReadI32(s.nEndSize) && ar.ReadI32(s.bDCBlock);
    if (schema == kSchema) {
        ok = ok && ar.ReadI32(s.bIgnoreClicks) && ar.ReadU16(s.wBitsPerSample) &&
             ar.ReadU32(s.nSamplesPerSec) && ar.ReadU16(s.wChannels) && ar.ReadI32(s.nWaveInID);
        if (!ok) return false;
        m_strName = CutPresetName(std::move(name));
    } else {
        ok = ok && ar.ReadI32(s.nWaveInID);
        if (!ok) return false;
        s.bIgnoreClicks = 0;
        s.wBitsPerSample = 16;
        s.nSamplesPerSec = 44100;
        s.wChannels = 2;
        // The marker must survive the cut: it is how the user tells migrated presets apart.
        const std::string suffix = kOldSuffix;
        if (name.size() > kMaxPresetName - suffix.size()) {
            name.resize(kMaxPresetName - suffix.size());
        }
        m_strName = name + suffix;
    }
    m_settings = s;
    return true;
}
