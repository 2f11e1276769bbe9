// Reads a track list pasted from a record's sleeve, a shop or a catalogue page: one title a
// line, with or without a position in front ("A1", "B2.", "1.", "03 -", "1)") and a time at the
// end ("3:45", "(3:45)", "[03:45]", "- 3:45"); a disc and track ("1-01") is a position too.
// Blank lines and headings ("Tracklist", "Side A", "A-Side", "Disc 1", "CD1", "Face A",
// "Side A (18:30)") are skipped; titles are trimmed, and a title that is only a time keeps it. A
// bare number and a space ("99 Luftballons") counts as a position only where the lines count up one
// by one, so a title that begins with a number keeps it. Text that is not UTF-8 is read as
// Windows-1252; UTF-16 with a byte-order mark is read.
//
// Plain functions on values: any thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

struct TrackListEntry {
    std::string strTitle;
    std::string strPosition;  // as written without its punctuation ("A1", "03"), "" when none
    int nSeconds = -1;        // the time given at the end of the line, -1 when none
};

std::vector<TrackListEntry> ParseTrackListEntries(std::string_view text);
// The titles alone, in order.
std::vector<std::string> ParseTrackList(std::string_view text);
