// A take list: which files one recording wrote, kept beside them, so that a take opened later is
// exactly those files and never a numbered file an earlier, longer recording of the same base
// name left behind. The recorder's window and the splitter write it when a side is done, a keep
// rewrites or removes it, and OpenTake follows it while the files still match it.
//
// The list of base /tapes/SideA.wav is the hidden file /tapes/.SideA.wav.take, plain UTF-8
// text of lines that each end in "\n":
//
//     vellisto take list 1
//     <frames>\t<file name>
//     ...
//
// The first line names the format and its version; then one line per song file in the order
// of the side: its sample frames in decimal and, after one tab, its name in the list's folder
// (no "/", no control character). Anything else is no list: a reader that meets a malformed or
// unreadable list opens the take by the song-file naming rule instead.
//
// Plain functions, any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct TakeListEntry {
    std::string strName;  // in the list's folder
    uint64_t nFrames = 0;
    bool operator==(const TakeListEntry&) const = default;
};

// Where base's take list is.
std::string TakeListPath(const std::string& base);
// The list's text; "" when a name cannot stand in one (a "/" or a control character, or empty).
std::string TakeListText(const std::vector<TakeListEntry>& entries);
// The entries of a list's text; false, entries empty, for anything malformed.
bool ParseTakeList(std::string_view text, std::vector<TakeListEntry>* entries);

struct TakeListFile {
    std::string strPath;  // in base's folder
    uint64_t nFrames = 0;
};
// Writes base's list of files (which must lie in base's folder), published whole under a
// temporary name and replacing the list there; false with errno set when it cannot be.
bool WriteTakeList(const std::string& base, const std::vector<TakeListFile>& files);
// Base's list; false when there is none, it is not a regular file, or it is malformed.
bool ReadTakeList(const std::string& base, std::vector<TakeListEntry>* entries);
// Removes base's list; true when none is left.
bool RemoveTakeList(const std::string& base);
// The base whose song file number path is (SideA12.wav and 12: SideA.wav); "" when path does
// not carry that number where the naming rule puts it.
std::string SongFileBase(const std::string& path, long number);
