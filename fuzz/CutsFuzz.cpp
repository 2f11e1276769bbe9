// libFuzzer target for the cut-list and track-list readers: any text as a label file or cue
// sheet at a rate taken from its first bytes (a cue sheet's FILEs measured by their names'
// lengths), and as a pasted track list. Beyond the sanitizers' checks it traps when an accepted
// cut list is out of order or a region ends before it starts, when a refusal keeps cuts, when a
// title read is not UTF-8 or the writers' rule leaves a character that would end its field, and
// when a track list gives an untrimmed or empty title.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "settings/Windows1252.h"
#include "take/CutsFile.h"
#include "take/TrackList.h"

namespace {

bool Holds(const std::string& title) {
    for (char c : title) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"') return false;
    }
    return IsUtf8(title);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    uint32_t rate = 44100;
    if (size >= 4) {
        std::memcpy(&rate, data, 4);
        rate = rate % 4000000000u + 1;
    }
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const CutsFile cuts = ParseCuts(text, rate, [](const std::string& name) {
        return name.empty() ? std::nullopt : std::optional<uint64_t>(name.size() * 1000);
    });
    if (!cuts.Ok() && !cuts.marks.empty()) __builtin_trap();
    for (size_t k = 0; k < cuts.marks.size(); ++k) {
        const CutMark& m = cuts.marks[k];
        if (k > 0 && m.nStart <= cuts.marks[k - 1].nStart) __builtin_trap();
        if (m.nEnd && *m.nEnd <= m.nStart) __builtin_trap();
        if (!IsUtf8(m.strTitle) || !Holds(SideTitle(m.strTitle, CutsFormat::CueSheet))) {
            __builtin_trap();
        }
    }
    for (const std::string& file : CueSheetFiles(text)) {
        if (!IsUtf8(file)) __builtin_trap();
    }
    for (const TrackListEntry& entry : ParseTrackListEntries(text)) {
        const std::string& t = entry.strTitle;
        if (t.empty() || t.front() == ' ' || t.back() == ' ' || t.find('\n') != std::string::npos ||
            !IsUtf8(t)) {
            __builtin_trap();
        }
    }
    return 0;
}
