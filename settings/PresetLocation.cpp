#include "settings/PresetLocation.h"

#include <cstdlib>

namespace {

std::string Environment(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

}  // namespace

std::string UserDataFolder() {
    // The same rules as Qt's: $XDG_DATA_HOME taken as it is when set and not empty, else the
    // home folder without trailing slashes (the root when $HOME is empty) and .local/share.
    std::string base = Environment("XDG_DATA_HOME");
    if (base.empty()) {
        std::string home = Environment("HOME");
        const std::size_t last = home.find_last_not_of('/');
        home.resize(last == std::string::npos ? 0 : last + 1);
        base = (home.empty() ? std::string("/") : home) + "/.local/share";
    }
    return base + "/" + kProfileOrganisation + "/" + kProfileApplication;
}

std::string UserPresetsFile() { return UserDataFolder() + "/" + kPresetFileName; }

std::vector<CPresets> StartingPresets() {
    // Positions as the trackbars give them: gap size -(s x 1764), gap level
    // -trunc(32768 x 10^(dB/20)), song sizes -(s x 176.4).
    RecSettings quiet;
    quiet.nGapSize = -3528;       // 2.00 secs: a pause inside a movement is not a gap
    quiet.nGapLevel = -104;       // -50.0 dB: soft passages stay above it
    quiet.nMinSongSize = -10584;  // 60 secs
    quiet.nEndSize = -3528;       // 20 secs: a long quiet ending does not end the side

    RecSettings noisy;
    noisy.nGapLevel = -1036;  // -30.0 dB: surface noise between songs counts as silence
    noisy.bIgnoreClicks = 1;  // Smart Gap: clicks do not break a gap

    RecSettings live;
    live.nMinSongSize = -21168;  // 120 secs, the longest: applause and talk never split

    return {CPresets("Album/Tape", RecSettings{}), CPresets("Quiet Classical", quiet),
            CPresets("Noisy Record", noisy), CPresets("Live Concert", live)};
}
