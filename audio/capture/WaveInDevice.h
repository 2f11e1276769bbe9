// The list of capture devices present, from which the Custom Settings dialog lets the user pick
// one: one record per device holding a copy of its capabilities, in one process-wide list whose
// positions are the device ids. User-interface thread only.
#pragma once

#include <cstdint>

#include "audio/capture/CaptureBackend.h"

class CWaveInDevice {
public:
    CWaveInDevice() = default;
    explicit CWaveInDevice(const WaveInCaps& caps);
    virtual ~CWaveInDevice() = default;

    // Appends one record per capture device of the PortAudio backend, in its order. False when a
    // record cannot be made; the records made so far stay.
    static bool EnumerateDevices();
    // The same for any backend (tests, other platforms).
    static bool EnumerateDevices(ICaptureBackend& backend);
    static void RemoveAllDevices();
    // Throws std::out_of_range outside 0 to GetDeviceCount() - 1.
    static CWaveInDevice* GetDevice(int index);
    static int GetDeviceCount();

    uint16_t m_wMid = 0;
    uint16_t m_wPid = 0;
    uint32_t m_nDriverVersion = 0;
    char m_szPname[32] = {};  // always terminated
    uint32_t m_nFormats = 0;  // WAVE_FORMAT_1M08 ... bits of the standard formats offered
    uint16_t m_wChannels = 0;
};

// Standard format bits of WaveInCaps::dwFormats: rate (11.025, 22.05, 44.1, 48 kHz), mono or
// stereo, 8 or 16 bits.
constexpr uint32_t WAVE_FORMAT_1M08 = 0x00000001;
constexpr uint32_t WAVE_FORMAT_1S08 = 0x00000002;
constexpr uint32_t WAVE_FORMAT_1M16 = 0x00000004;
constexpr uint32_t WAVE_FORMAT_1S16 = 0x00000008;
constexpr uint32_t WAVE_FORMAT_2M08 = 0x00000010;
constexpr uint32_t WAVE_FORMAT_2S08 = 0x00000020;
constexpr uint32_t WAVE_FORMAT_2M16 = 0x00000040;
constexpr uint32_t WAVE_FORMAT_2S16 = 0x00000080;
constexpr uint32_t WAVE_FORMAT_4M08 = 0x00000100;
constexpr uint32_t WAVE_FORMAT_4S08 = 0x00000200;
constexpr uint32_t WAVE_FORMAT_4M16 = 0x00000400;
constexpr uint32_t WAVE_FORMAT_4S16 = 0x00000800;
constexpr uint32_t WAVE_FORMAT_48M08 = 0x00001000;
constexpr uint32_t WAVE_FORMAT_48S08 = 0x00002000;
constexpr uint32_t WAVE_FORMAT_48M16 = 0x00004000;
constexpr uint32_t WAVE_FORMAT_48S16 = 0x00008000;
