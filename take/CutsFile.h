// Reads the cuts a person placed in an audio editor: a label file (one label a line, start, end
// and title separated by tabs, in seconds with a decimal point; a point label has start == end)
// or a cue sheet (TRACK, TITLE, PERFORMER, INDEX 01 at mm:ss:ff, 75 frames a second). Positions
// come back in frames at the audio's own rate, rounded to the nearest frame (half a frame up),
// so a split lands exactly where the editor showed it. A file that cannot be read whole is
// refused as a value naming the line, never half-used.
//
// Plain functions on values: any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

enum class CutsFormat { Labels, CueSheet };

struct CutMark {
    uint64_t nStart = 0;           // frame where the song begins
    std::optional<uint64_t> nEnd;  // a label region's last frame + 1; none for a point label or
                                   // a cue track (which lasts until the next)
    std::string strTitle;          // "" when the file gives none
    std::string strPerformer;      // cue sheet: the track's own PERFORMER
    int nLine = 0;                 // where the mark was read (1 = the first line)
};

struct CutsFile {
    CutsFormat format = CutsFormat::Labels;
    std::vector<CutMark> marks;  // in time order, each start after the one before
    // Cue sheet: the sheet's own TITLE and PERFORMER (album and artist) and the FILE it names.
    std::string strAlbum;
    std::string strArtist;
    std::string strFile;

    // Refusal: "" when the file was read whole; otherwise why, and the line (0: the file as a
    // whole).
    std::string strError;
    int nErrorLine = 0;
    bool Ok() const { return strError.empty(); }
    // "LINE: why" or just "why", for a message that names the file first.
    std::string ErrorText() const;
};

// Reads text as a cue sheet when its first statement is a cue sheet's (FILE, TRACK, TITLE,
// PERFORMER, REM, ...), as a label file otherwise. rate: the audio's frames a second.
CutsFile ParseCuts(std::string_view text, uint32_t rate);
// The same on a file's contents; a file that cannot be read, or that is too large to be either,
// is refused with the system's reason.
CutsFile ReadCutsFile(const std::string& path, uint32_t rate);
