// A take: the song files one side was cut into, read as the side they came from. Song files
// are contiguous pieces of one side in one sample format, so their sample data, one file after
// the other, is the side; a cut is where a file begins. A single side WAV is a take of one file
// without cuts.
//
// OpenTake finds the files (by the take list the recording left beside them, take/TakeList.h,
// else by the song-file naming rule), checks them and describes them; a take is a plain value.
// CTakeReader reads frames anywhere in the take as if it were one file, with pread on descriptors
// it holds open: ReadFrames may be called from several threads at once.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/WaveFormat.h"

struct TakeFile {
    std::string strPath;
    uint64_t nDataOffset = 0;  // bytes from the file's start to its first sample
    uint64_t nFrames = 0;
};

struct Take {
    WAVEFORMATEX format{};
    // The name the side goes by (SideA.wav for SideA1.wav, SideA2.wav, ...; the file itself
    // for a single side WAV or a list of files); label files and cue sheets name it.
    std::string strSide;
    std::vector<TakeFile> files;  // in the order of the side
    uint64_t nFrames = 0;         // of all files
    std::vector<uint64_t> cuts;   // frame where each file after the first begins, ascending
    // Song files, which a keep replaces; false for a side WAV that was never split, which a
    // keep leaves as it is.
    bool bSongFiles = true;

    uint32_t FrameBytes() const { return format.nBlockAlign; }
    std::vector<std::string> Paths() const;
};

enum class TakeRefusal {
    None,
    NotFound,       // no such file, and no song files of that base
    Unreadable,     // a file cannot be opened or read (nErrno)
    NotWav,         // a file is no WAV the splitter reads (strDetail says why)
    Stream,         // a pipe or other file that cannot be read at any position
    FormatDiffers,  // a file's format differs from the first file's
    NumberMissing,  // numbered song files with a number missing (nNumber)
    Empty,          // no audio at all
    Recovery,       // an interrupted keep in the folder could not be finished or undone
};

// Why numbered files beside a take were left out of it: each names files an earlier, longer
// recording of the same base name left behind.
enum class LeftOutReason {
    None,
    NotListed,      // the take list does not name them
    FormatDiffers,  // (no list) the first holds another sample format than the take
    Older,          // (no list) the first is older than the take's first song file
};

struct TakeOpening {
    TakeRefusal refusal = TakeRefusal::None;
    std::string strPath;    // the file concerned
    std::string strDetail;  // the reader's or the system's words
    int nErrno = 0;
    long nNumber = 0;
    Take take;
    // Numbered files of the take's base that were not taken, in number order, and why.
    std::vector<std::string> leftOut;
    LeftOutReason leftOutReason = LeftOutReason::None;
    // The take list that no longer matched the files (one gone or changed since), "" when the
    // list was followed or there is none; the take was then opened by the naming rule.
    std::string strStaleList;
    bool Ok() const { return refusal == TakeRefusal::None; }
};

// path: a base name (SideA.wav: its song files SideA1.wav, SideA2.wav, ...), one numbered song
// file (SideA2.wav: the take it belongs to), or a side WAV that is none of these. Song files
// take precedence over a base file of the same name. The base's take list, while its files are
// there with the frames it says, gives the files; without one they go by number, up to one in
// another sample format or older than the first (a recording writes its songs in order). A keep
// interrupted in the folder is finished or undone first.
TakeOpening OpenTake(const std::string& path);
// The files given, in this order, as song files (what a keep wrote under names of the user's
// choosing); side: the name the side goes by. A keep interrupted in their folder is finished
// or undone first.
TakeOpening OpenTakeFiles(const std::vector<std::string>& paths, const std::string& side);

// Why a take was refused, in a sentence for the user.
std::string DescribeTakeRefusal(const TakeOpening& opening);
// Which files beside the take were left out of it and why, and a take list that no longer
// matched, in sentences for the user; "" when there is nothing to say.
std::string DescribeLeftOut(const TakeOpening& opening);

class CTakeReader {
public:
    // Opens every file of take; Ok() tells whether all could be opened.
    explicit CTakeReader(const Take& take);
    ~CTakeReader();
    CTakeReader(const CTakeReader&) = delete;
    CTakeReader& operator=(const CTakeReader&) = delete;

    bool Ok() const { return m_nErrno == 0; }
    int Errno() const { return m_nErrno; }
    const Take& GetTake() const { return m_take; }

    // Copies up to count frames from frame first on into dst (count x FrameBytes bytes); the
    // frames copied, fewer at the take's end or when a read fails. Any thread, concurrently.
    size_t ReadFrames(uint64_t first, size_t count, void* dst) const;

private:
    Take m_take;
    std::vector<int> m_fds;
    std::vector<uint64_t> m_starts;  // first frame of each file
    int m_nErrno = 0;
};
