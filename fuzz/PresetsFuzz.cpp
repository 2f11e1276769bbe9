// libFuzzer target for the presets reader: any bytes as a presets file. Beyond the sanitizers'
// checks it traps when the reader's report disagrees with what it returned, when a name is
// longer than the current-preset buffer allows, or when the recovered presets do not survive
// being written and read again unchanged.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "settings/PresetsFile.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<CPresets> presets;
    PresetLoadReport report;
    const bool whole = ReadPresetsArchive(data, size, presets, &report);
    if (whole == report.bDamaged || presets.size() != report.nRecovered) __builtin_trap();
    for (const CPresets& preset : presets) {
        if (preset.GetName().size() > kMaxPresetName) __builtin_trap();
    }
    const std::vector<uint8_t> bytes = WritePresetsArchive(presets);
    std::vector<CPresets> again;
    if (!ReadPresetsArchive(bytes.data(), bytes.size(), again, nullptr) || again != presets) {
        __builtin_trap();
    }
    return 0;
}
