#include "settings/PersistentSettings.h"

#include <cstdio>
#include <cstring>
#include <string>

#include "settings/Presets.h"

namespace {

constexpr int kBaseFileEntries = 4;

std::string OutfileName(int n) { return "OutfileName" + std::to_string(n); }

}  // namespace

void LoadSettings(IProfileStore& profile, const SettingsTargets& t) {
    const std::string section = kProfileSection;
    // Entry 0 is added last, so it ends on top and selected.
    for (int n = kBaseFileEntries - 1; n >= 0; --n) {
        const std::string path = profile.GetProfileString(section, OutfileName(n), "");
        if (!path.empty()) t.pBaseFiles->AddBaseFile(path);
    }

    // The defaults are the record held now: at start-up the analyser's construction defaults
    // as positions.
    RecSettings s = *t.pSettings;
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
    t.setSettings(s);

    // 259 bytes and the terminator; a longer stored name is cut.
    const std::string preset = profile.GetProfileString(section, "Preset", kDefaultPresetName);
    const std::string cut = CutPresetName(preset);
    std::memcpy(t.pszPreset, cut.c_str(), cut.size() + 1);

    *t.pbPurple = profile.GetProfileInt(section, "Background", 1);

    IWindowPlacement& window = *t.pWindow;
    const WindowPlacement current = window.GetWindowPlacement();
    const int32_t flags = profile.GetProfileInt(section, "flags", kNoPlacement);
    if (flags == kNoPlacement) return;
    const int32_t left = profile.GetProfileInt(section, "left", kNoPlacement);
    const int32_t top = profile.GetProfileInt(section, "top", kNoPlacement);
    WindowPlacement placement;
    if (RestorePlacement(current, flags, left, top, window.GetScreenWidth(),
                         window.GetScreenHeight(), window.GetIconWidth(), window.GetIconHeight(),
                         placement)) {
        window.SetWindowPlacement(placement);
    }
}

void SaveSettings(IProfileStore& profile, const SettingsTargets& t) {
    const std::string section = kProfileSection;
    const RecSettings& s = *t.pSettings;
    IBaseFileList& files = *t.pBaseFiles;

    // The selected entry becomes entry 0 and leaves the list; the first three of the rest
    // follow in list order.
    const int selected = files.GetCurSel();
    if (selected >= 0 && selected < files.GetCount()) {
        profile.WriteProfileString(section, OutfileName(0), files.GetFullPath(selected));
        files.DeleteEntry(selected);
    } else {
        profile.WriteProfileString(section, OutfileName(0), "");
    }
    for (int n = 1; n < kBaseFileEntries; ++n) {
        const int index = n - 1;
        profile.WriteProfileString(section, OutfileName(n),
                                   index < files.GetCount() ? files.GetFullPath(index) : "");
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

    char preset[260];
    std::snprintf(preset, sizeof(preset), "%s", t.pszPreset);
    profile.WriteProfileString(section, "Preset", preset);
    profile.WriteProfileInt(section, "Background", *t.pbPurple);

    const WindowPlacement placement = t.pWindow->GetWindowPlacement();
    profile.WriteProfileInt(section, "flags", placement.flags);
    profile.WriteProfileInt(section, "showCmd", placement.showCmd);
    profile.WriteProfileInt(section, "left", placement.normal.left);
    profile.WriteProfileInt(section, "top", placement.normal.top);
}
