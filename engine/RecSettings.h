// One set of recording parameters as the user interface holds them: the four time and level
// parameters as (negative) trackbar positions, the two switches, the sample format and the
// capture device. The main window keeps the current one; every preset stores one.
#pragma once

#include <cstdint>

struct RecSettings {
    int32_t nGapSize = -1764;      // -(seconds x 1764)
    int32_t nGapLevel = -582;      // -trunc(32768 x 10^(dB/20))
    int32_t nMinSongSize = -5293;  // -(seconds x 176.4)
    int32_t nEndSize = -1236;      // -(seconds x 176.4)
    int32_t bDCBlock = 1;
    int32_t bIgnoreClicks = 1;  // Smart Gap
    uint32_t nSamplesPerSec = 44100;
    uint16_t wBitsPerSample = 16;  // 16, or 32 for float samples (offered to the user as "24")
    uint16_t wChannels = 2;
    int32_t nWaveInID = -1;  // position in the capture device list, -1 for the system default

    bool operator==(const RecSettings&) const = default;
};
