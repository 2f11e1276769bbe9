// The keep: a take re-cut at new cuts into new song files, the old ones replaced only once every
// new one is whole on the disk (a side WAV that was never split is left as it is). The samples are
// copied, never converted, so the new files' sample data, one after the other, is byte for byte the
// old take's but for the clicks the plan repairs.
//
// A small journal in the take's folder (take/KeepJournal.h) makes the replacement all or nothing:
// the new files are written under hidden temporary names and synced, then the journal turns to
// "commit", then the old files go and the new take its names, and the journal is removed last.
// OpenTake and KeepTake recover an interrupted keep first. A take of song files leaves its
// side's take list (take/TakeList.h) naming the kept files. Clicks repaired in the Review window
// are written by the keep: only the stretches that hold a repair are read and patched on the
// way, the rest is still copied as it is.
//
// Plain functions, any thread; one keep at a time in a folder (the journal is created
// exclusively and names its process, and a process knows its own keeps, so a second keep or a
// recovery while one runs is refused rather than mixed in).
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "take/ClickRepair.h"
#include "take/KeepJournal.h"
#include "take/Take.h"

enum class KeepFormat { Wav, Flac };

struct KeepPlan {
    std::vector<uint64_t> cuts;          // frames, ascending, each inside the take (0 < cut < end)
    std::vector<std::string> titles;     // one per song (cuts + 1), "" for none
    std::vector<std::string> fileNames;  // one per song: names in the take's folder, no "/"
    KeepFormat format = KeepFormat::Wav;
    std::string strAlbum, strArtist;  // FLAC tags
    // Written beside the songs (in the take's folder) when not empty: a label file (tab-separated
    // start, end and title in seconds) and a cue sheet of the side (a FILE for each song file
    // written, its track at INDEX 01 00:00:00). An existing file there is replaced only when it
    // is a label file or cue sheet of this take.
    std::string strLabelFile;
    std::string strCueSheet;
    // Clicks to repair, their frames the take's: their repaired samples are written in place of
    // the take's, every other sample is copied unchanged.
    std::vector<ClickRepair> repairs;
    // Called on the keeping thread as the songs are written (frames of the side done so far, of
    // all); returning false cancels the keep, which then changes nothing. Null: no reports.
    std::function<bool(uint64_t done, uint64_t total)> onProgress;
};

enum class KeepRefusal {
    None,
    Busy,            // another keep's journal is in the folder and could not be resolved
    Changed,         // a file of the take is gone or differs from what was opened
    Scattered,       // the take's files are not all in one folder
    BadCuts,         // not ascending, at 0, at or past the end, or cuts/titles/names disagree
    BadName,         // a file name is empty, ".", "..", holds "/" or a control character
    WrongExtension,  // a name does not end in the format's extension (strDetail: ".wav", ".flac")
    NameTaken,       // a new name is an existing file that is not one of the take's
    NamesCollide,    // two new names are equal (letter case ignored)
    SongTooLong,     // a song would pass the 4 GiB a WAV file holds
    FloatToFlac,     // FLAC holds integer samples: a float take is not kept as FLAC losslessly
    FlacFormat,      // FLAC output is not available for this take (strDetail)
    NotOurs,         // the label file or cue sheet path is outside the take's folder, a song, or
                     // a file that is not the take's own label file or cue sheet
    ReadFailed,      // reading the take failed (nErrno)
    WriteFailed,     // creating, writing or syncing a new file failed (nErrno); nothing replaced
    Cancelled,       // onProgress said to stop before the old songs were replaced; nothing changed
    ReplaceFailed,   // the replacement stopped (nErrno); the journal finishes it at the next open
};

// A song kept under a file name that holds only the beginning of its title, which is too long
// for a file name (SafeTitle).
struct ShortenedName {
    int nSong = 0;  // 0-based
    std::string strTitle;
    std::string strFileName;
    bool operator==(const ShortenedName&) const = default;
};

struct KeepOutcome {
    KeepRefusal refusal = KeepRefusal::None;
    std::string strPath;  // the file concerned
    std::string strDetail;
    int nErrno = 0;
    std::vector<std::string> files;        // the new take's files, in order, when kept
    std::vector<ShortenedName> shortened;  // when kept, in song order
    bool Ok() const { return refusal == KeepRefusal::None; }
};

KeepOutcome KeepTake(const Take& take, const KeepPlan& plan, const KeepStepHook& hook = {});

// Why a keep was refused or failed, in a sentence for the user.
std::string DescribeKeepOutcome(const KeepOutcome& outcome);
// Which kept songs' file names were shortened, in a sentence for the user; "" for none.
std::string DescribeShortenedNames(const KeepOutcome& outcome);
