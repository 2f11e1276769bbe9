// libFuzzer target for the cut-list and track-list readers: any text as a label file or cue
// sheet at a rate taken from its first bytes, and as a pasted track list. Beyond the
// sanitizers' checks it traps when an accepted cut list is out of order or a region ends before
// it starts, when a refusal keeps cuts, and when a track list gives an untrimmed or empty title.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "take/CutsFile.h"
#include "take/TrackList.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t rate = 44100;
    if (size >= 4) {
        std::memcpy(&rate, data, 4);
        rate = rate % 4000000000u + 1;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CutsFile cuts = ParseCuts(text, rate);
    if (!cuts.Ok() && !cuts.marks.empty()) __builtin_trap();
    for (size_t k = 0; k < cuts.marks.size(); ++k) {
        const CutMark& m = cuts.marks[k];
        if (k > 0 && m.nStart <= cuts.marks[k - 1].nStart) __builtin_trap();
        if (m.nEnd && *m.nEnd <= m.nStart) __builtin_trap();
    }
    for (const TrackListEntry& entry : ParseTrackListEntries(text)) {
        const std::string& t = entry.strTitle;
        if (t.empty() || t.front() == ' ' || t.back() == ' ' || t.find('\n') != std::string::npos) {
            __builtin_trap();
        }
    }
    return 0;
}
