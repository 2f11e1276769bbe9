// libFuzzer target for the cut-list, track-list and take-list readers: any text as a label file
// or cue sheet at a rate taken from its first bytes (a cue sheet's FILEs measured by their
// names' lengths), as a pasted track list and as a take list. Beyond the sanitizers' checks it
// traps when an accepted cut list is out of order or a region ends before it starts, when a
// refusal keeps cuts, when a title read is not UTF-8 or the writers' rule leaves a character
// that would end its field, when a track list gives an untrimmed or empty title, and when an
// accepted take list, written again, reads back otherwise. The titles read, and the whole text
// taken as an option's album, go into a FLAC file's tags as the splitter puts them there: no
// text may crash the tag writer's library.
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

#include "audio/FlacFileWriter.h"
#include "settings/Windows1252.h"
#include "take/CutsFile.h"
#include "take/TakeList.h"
#include "take/TrackList.h"

namespace {

bool Holds(const std::string& title) {
    for (char c : title) {
        if (static_cast<unsigned char>(c) < 0x20 || c == '"') return false;
    }
    return IsUtf8(title);
}

// A FLAC file of a few silent frames with these tags, in memory.
void WriteTagged(const FlacTags& tags) {
    const int fd = memfd_create("tags", MFD_CLOEXEC);
    if (fd < 0) return;
    WAVEFORMATEX format{};
    format.wFormatTag = 1;
    format.nChannels = 2;
    format.nSamplesPerSec = 44100;
    format.wBitsPerSample = 16;
    format.nBlockAlign = 4;
    format.nAvgBytesPerSec = 44100 * 4;
    const char silence[64] = {};
    // Refusing a tag (libsndfile limits their length) is a failure the splitter tells; only a
    // crash or a leak is a fault here.
    CFlacFileWriter writer;
    if (writer.Begin(fd, "tags.flac", format, tags) && writer.Write(silence, sizeof silence)) {
        writer.Finish();
    }
    ::close(fd);
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
    const std::vector<TrackListEntry> tracks = ParseTrackListEntries(text);
    for (const TrackListEntry& entry : tracks) {
        const std::string& t = entry.strTitle;
        if (t.empty() || t.front() == ' ' || t.back() == ' ' || t.find('\n') != std::string::npos ||
            !IsUtf8(t)) {
            __builtin_trap();
        }
    }
    std::vector<TakeListEntry> listed, again;
    if (ParseTakeList(text, &listed) &&
        (!ParseTakeList(TakeListText(listed), &again) || again != listed)) {
        __builtin_trap();
    }
    FlacTags tags;
    tags.strTitle = !cuts.marks.empty() ? cuts.marks.front().strTitle
                    : !tracks.empty()   ? tracks.front().strTitle
                                        : std::string();
    tags.strAlbum = Utf8OrWindows1252(text.substr(0, 512));
    tags.strArtist = TextFileToUtf8(text.substr(0, 512));
    tags.nTrack = 1;
    WriteTagged(tags);
    return 0;
}
