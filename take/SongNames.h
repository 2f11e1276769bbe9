// Song file names from a pattern and the songs' titles, and the numbers songs go by: 1, 2, 3, or
// the record's sides, A1, A2, B1, ... A pattern is refused when the names it gives could not
// all be written side by side in one folder: equal names (letter case ignored, for the file
// systems that ignore it; ASCII letters), an empty or hidden name, ".", "..", a "/" or a
// control character. Titles are
// made safe for file names before they go in. Plain functions: any thread.
//
// Fields: {n} the number (as "1", or "A1" when numbered by sides), {n:02} the same with at
// least two digits ("01", "A01"), {track} the running number 1, 2, 3 whatever the numbering,
// {side} the side's letter ("" when numbered 1, 2, 3), {title}, {album}, {artist}; "{{" and "}}"
// stand for braces.
#pragma once

#include <string>
#include <vector>

struct SongNumbering {
    // 0: 1, 2, 3, ...; otherwise the first song of each side after A, as a 1-based song index
    // (A1, A2, B1 for {3}), ascending.
    std::vector<int> sideStarts;
    // The first song's side, 'A' to 'Z', numbering by sides even without a side start (a take
    // of side B alone: B1, B2, ...); 0: side A, and only when there are side starts.
    char cFirstSide = 0;
};

enum class NamesRefusal {
    None,
    UnknownField,  // strDetail: the field
    Unbalanced,    // a lone "{" or "}"
    Empty,         // a name is empty
    Dots,          // a name is "." or ".."
    Hidden,        // a name begins with "." (a file the folder's listing hides)
    Slash,         // a name holds "/" (it would leave the folder or name another one)
    Control,       // a name holds a control character
    Collide,       // two names are equal, letter case ignored (nFirst, nSecond)
    TooLong,       // a name is longer than a folder entry may be (255 bytes)
    BadSides,      // side starts not ascending or outside the songs, or sides past Z
};

struct SongNames {
    NamesRefusal refusal = NamesRefusal::None;
    std::string strDetail;
    int nFirst = -1, nSecond = -1;  // 0-based songs concerned
    std::vector<std::string> names;
    bool Ok() const { return refusal == NamesRefusal::None; }
};

struct SongTags {
    std::string strAlbum;
    std::string strArtist;
};

// What a title becomes in a file name: control characters and "/" as spaces, runs of spaces as
// one, no leading or trailing spaces or dots (a hidden file, a name ending in dots), at most
// 200 bytes (cut between characters).
std::string SafeTitle(const std::string& title);
// Whether SafeTitle cuts the title short, and a name made with it holds only its beginning.
bool TitleShortened(const std::string& title);
// The number song (0-based) goes by.
std::string SongNumber(int song, const SongNumbering& numbering);

// One name per title.
SongNames BuildSongNames(const std::string& pattern, const std::vector<std::string>& titles,
                         const SongNumbering& numbering, const SongTags& tags = {});

// Why a pattern was refused, in a sentence for the user.
std::string DescribeNamesRefusal(const SongNames& names);
