// The side's files beside the audio: label files (one label a line, start, end and title
// separated by tabs, in seconds with a decimal point; a point label has start == end) and cue
// sheets (FILE, TRACK, TITLE, PERFORMER, INDEX 01 at mm:ss:ff, 75 frames a second), read from
// an editor's or our own, and written by the splitter and the keep. One rule for the titles
// (SideTitle) serves every writer, so what is written reads back to the same frames (labels) or
// the same INDEX frames (cue sheets) and the titles as written.
//
// Reading: positions come back in frames at the audio's own rate, rounded to the nearest frame
// (half a frame up), so a split lands exactly where the editor showed it. A cue sheet of several
// FILEs reads as one side, each FILE's tracks placed after the files before it, which are
// measured for it. Text that is not UTF-8 is read as Windows-1252; UTF-16 with a byte-order mark
// is read. A file that cannot be read whole is refused as a value naming the line, never
// half-used.
//
// Plain functions on values: any thread.
#pragma once

#include <cstdint>
#include <functional>
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
    // Cue sheet: the sheet's own TITLE and PERFORMER (album and artist) and the FILEs it names.
    std::string strAlbum;
    std::string strArtist;
    std::vector<std::string> files;

    // Refusal: "" when the file was read whole; otherwise why, and the line (0: the file as a
    // whole).
    std::string strError;
    int nErrorLine = 0;
    bool Ok() const { return strError.empty(); }
    // "LINE: why" or just "why", for a message that names the file first.
    std::string ErrorText() const;
};

// The frames (at the rate read at) of a file a cue sheet names, as the FILE line gives it;
// nullopt when it cannot be measured.
using CueFileFrames = std::function<std::optional<uint64_t>(const std::string& name)>;

// Reads text as a cue sheet when its first statement is a cue sheet's (FILE, TRACK, TITLE,
// PERFORMER, REM, ...), as a label file otherwise. rate: the audio's frames a second.
// fileFrames measures each FILE that another follows; without it such a sheet is refused.
CutsFile ParseCuts(std::string_view text, uint32_t rate, const CueFileFrames& fileFrames = {});
// The same on a file's contents; a file that cannot be read, or that is too large to be either,
// is refused with the system's reason. A cue sheet's FILEs are WAV files found from the sheet's
// folder, measured by their headers.
CutsFile ReadCutsFile(const std::string& path, uint32_t rate);
// The files a cue sheet's FILE lines name, in order, whether or not it reads whole; none for
// text that is no cue sheet.
std::vector<std::string> CueSheetFiles(std::string_view text);

// What the writers put for a title, album or artist. Text that is not UTF-8 is taken as
// Windows-1252. Control characters (tab and line ends among them) would end a field or a line:
// each becomes a space, and the ends are trimmed, as a reader trims them. In a cue sheet the
// value is quoted and a quotation mark cannot be held inside, so there it becomes an apostrophe;
// a label file has no quoting and keeps it.
std::string SideTitle(std::string_view title, CutsFormat format);

struct SideSong {
    uint64_t nStart = 0;  // frames on the side
    uint64_t nEnd = 0;
    std::string strTitle;  // "" (or nothing SideTitle keeps) for none: the song's file name
                           // without its extension stands in
    std::string strPath;   // the song's file
};

// A file a cue sheet names, and the frame of the side where it begins.
struct SideFile {
    std::string strName;
    uint64_t nStart = 0;
};

// The label file of songs: start and end in seconds to six places, and the title.
std::string LabelFileText(const std::vector<SideSong>& songs, uint32_t rate);
// The cue sheet of songs in files (ascending nStart, the first at 0): PERFORMER and TITLE when
// given, then each FILE, each followed by the tracks that start in it, their INDEX 01 counted
// from the file's start and rounded to the nearest 75th of a second.
std::string CueSheetText(const std::vector<SideSong>& songs, const std::vector<SideFile>& files,
                         uint32_t rate, std::string_view album = {}, std::string_view artist = {});
