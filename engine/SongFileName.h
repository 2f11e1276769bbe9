// How song files are named: the base file name with the song number, in decimal and without a
// leading zero, in front of its extension. SideA.wav gives SideA1.wav, SideA2.wav, ...,
// SideA10.wav. The recording control, the recording thread, the window and the splitter all name,
// recognise and look for song files through this one module, so that the overwrite question, the
// files a recording writes and the splitter's clean-up can never disagree.
//
// Plain functions and a value type: any thread. NameInto allocates nothing and is what the
// recording thread uses at a split.
#pragma once

#include <climits>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

// Bytes of a path field, terminator included: the recorder's limit, which the file lists and
// the settings it shares with other systems keep; and the platform's own, which the splitter
// allows.
constexpr int kPathSize = 260;
constexpr int kLongestPathSize = PATH_MAX;

// Song numbers that are recognised in names found on disk: at most this many digits, so that
// every number found also fits a long and the thread's int counter.
constexpr size_t kMaxSongNumberDigits = 9;

// The file-name part of a path: what follows its last "/".
std::string_view FileNamePart(std::string_view path);
// The folder part of a path: "." when it has none, "/" for a file in the root.
std::string FolderPart(std::string_view path);

// Where the number goes: at the last "." of the file-name part; at the end when the file name has
// no "."; a dot in a folder name never counts.
size_t SongNumberPosition(std::string_view name);

class CSongFileName {
public:
    // base: the base file's path (or its name as the window shows it), e.g. /tapes/SideA.wav.
    explicit CSongFileName(std::string_view base = {});

    std::string Name(long number) const;
    // out (size bytes) = the name of song number; false, out unchanged, when it does not fit.
    // Allocates nothing.
    bool NameInto(char* out, size_t size, long number) const;
    // The song number when name is one of this base's song files, else 0. A name with a folder
    // is compared with the whole base, a file name alone with the base's file name.
    long NumberOf(std::string_view name) const;
    // The lowest number whose song file exists in the base's folder, 0 when none does.
    long LowestExisting() const;
    // Every number whose song file exists in the base's folder, ascending.
    std::vector<long> ExistingNumbers() const;

    const std::string& Stem() const { return m_strStem; }
    const std::string& Extension() const { return m_strExtension; }

private:
    std::string m_strStem;       // the base up to the number: /tapes/SideA
    std::string m_strExtension;  // from the number on: .wav
};
