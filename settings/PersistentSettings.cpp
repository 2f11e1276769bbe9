#include "settings/PersistentSettings.h"

#include <cstdint>
#include <string>
#include <utility>

namespace {

constexpr int kBaseFileEntries = 4;

std::string OutfileName(int n) { return "OutfileName" + std::to_string(n); }

}  // namespace

PersistentSettings LoadSettings(IProfileStore& profile, const RecSettings& current) {
    const std::string section = kProfileSection;
    PersistentSettings v;
    for (int n = 0; n < kBaseFileEntries; ++n) {
        std::string path = profile.GetProfileString(section, OutfileName(n), "");
        if (!path.empty()) v.baseFiles.push_back(std::move(path));
    }
    v.nSelectedBaseFile = v.baseFiles.empty() ? -1 : 0;

    RecSettings& s = v.settings;
    s = current;
    s.nGapSize = profile.GetProfileInt(section, "Gap Size", s.nGapSize);
    s.nGapLevel = profile.GetProfileInt(section, "Gap Level", s.nGapLevel);
    s.nMinSongSize = profile.GetProfileInt(section, "Min Song Size", s.nMinSongSize);
    s.nEndSize = profile.GetProfileInt(section, "End Size", s.nEndSize);
    s.bDCBlock = profile.GetProfileInt(section, "DC Block", s.bDCBlock);
    s.bIgnoreClicks = profile.GetProfileInt(section, "Ignore Clicks", s.bIgnoreClicks);
    // Bits and channels are stored widened as signed 16-bit values and cut back to 16 bits.
    s.wBitsPerSample = static_cast<uint16_t>(
        profile.GetProfileInt(section, "Bits Per Sample", static_cast<int16_t>(s.wBitsPerSample)));
    s.nSamplesPerSec = static_cast<uint32_t>(
        profile.GetProfileInt(section, "Samples Per Sec", static_cast<int32_t>(s.nSamplesPerSec)));
    s.wChannels = static_cast<uint16_t>(
        profile.GetProfileInt(section, "Channels", static_cast<int16_t>(s.wChannels)));
    s.nWaveInID = profile.GetProfileInt(section, "WaveInID", -1);

    v.strPreset = CutPresetName(profile.GetProfileString(section, "Preset", kDefaultPresetName));
    v.bPurple = profile.GetProfileInt(section, "Background", 1) != 0;

    v.placement.flags = profile.GetProfileInt(section, "flags", kNoPlacement);
    v.placement.left = profile.GetProfileInt(section, "left", kNoPlacement);
    v.placement.top = profile.GetProfileInt(section, "top", kNoPlacement);
    return v;
}

void SaveSettings(IProfileStore& profile, const PersistentSettings& v) {
    const std::string section = kProfileSection;
    const RecSettings& s = v.settings;

    // The selected entry becomes entry 0; the first three of the rest follow in list order.
    std::vector<std::string> entries = v.baseFiles;
    std::string selected;
    if (v.nSelectedBaseFile >= 0 && static_cast<size_t>(v.nSelectedBaseFile) < entries.size()) {
        selected = std::move(entries[static_cast<size_t>(v.nSelectedBaseFile)]);
        entries.erase(entries.begin() + v.nSelectedBaseFile);
    }
    profile.WriteProfileString(section, OutfileName(0), selected);
    for (int n = 1; n < kBaseFileEntries; ++n) {
        const size_t index = static_cast<size_t>(n - 1);
        profile.WriteProfileString(section, OutfileName(n),
                                   index < entries.size() ? entries[index] : "");
    }

    profile.WriteProfileInt(section, "Gap Size", s.nGapSize);
    profile.WriteProfileInt(section, "Gap Level", s.nGapLevel);
    profile.WriteProfileInt(section, "Min Song Size", s.nMinSongSize);
    profile.WriteProfileInt(section, "End Size", s.nEndSize);
    profile.WriteProfileInt(section, "DC Block", s.bDCBlock);
    profile.WriteProfileInt(section, "Ignore Clicks", s.bIgnoreClicks);
    profile.WriteProfileInt(section, "Bits Per Sample", static_cast<int16_t>(s.wBitsPerSample));
    profile.WriteProfileInt(section, "Samples Per Sec", static_cast<int32_t>(s.nSamplesPerSec));
    profile.WriteProfileInt(section, "Channels", static_cast<int16_t>(s.wChannels));
    profile.WriteProfileInt(section, "WaveInID", s.nWaveInID);

    profile.WriteProfileString(section, "Preset", CutPresetName(v.strPreset));
    profile.WriteProfileInt(section, "Background", v.bPurple ? 1 : 0);

    profile.WriteProfileInt(section, "flags", v.placement.flags);
    profile.WriteProfileInt(section, "showCmd", v.placement.showCmd);
    profile.WriteProfileInt(section, "left", v.placement.left);
    profile.WriteProfileInt(section, "top", v.placement.top);
}
