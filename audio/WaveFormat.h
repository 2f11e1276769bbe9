// The sample format record written into a song file's "fmt " chunk and handed to the capture
// device, so that file header and captured bytes always agree. Little-endian, packed, 18 bytes.
#pragma once

#include <cstdint>

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;
};
#pragma pack(pop)
static_assert(sizeof(WAVEFORMATEX) == 18);

constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;

// Builds the record from the three numbers: tag 3 for 32 or 64 bits, tag 1 for 8, 16 or 24 bits
// and tag 1 for anything else, in which case *acceptable is set to false.
inline WAVEFORMATEX MakeWaveFormat(short bitsPerSample, unsigned long samplesPerSec, short channels,
                                   bool* acceptable = nullptr) {
    WAVEFORMATEX f{};
    bool ok = true;
    if (bitsPerSample == 32 || bitsPerSample == 64) {
        f.wFormatTag = WAVE_FORMAT_IEEE_FLOAT;
    } else {
        f.wFormatTag = WAVE_FORMAT_PCM;
        ok = bitsPerSample == 8 || bitsPerSample == 16 || bitsPerSample == 24;
    }
    f.nChannels = static_cast<uint16_t>(channels);
    f.nSamplesPerSec = static_cast<uint32_t>(samplesPerSec);
    f.nAvgBytesPerSec = static_cast<uint32_t>((bitsPerSample / 8) * channels * samplesPerSec);
    f.nBlockAlign = static_cast<uint16_t>((channels * bitsPerSample) / 8);
    f.wBitsPerSample = static_cast<uint16_t>(bitsPerSample);
    f.cbSize = 0;
    if (acceptable) *acceptable = ok;
    return f;
}
