// One sequence of numbered song files: it opens the next file (named by its owner), is fed the
// sample bytes, and finishes each file; the container is the encoder's (SongEncoder.h). A song
// longer than one file can hold either goes on in the next numbered file, at a write boundary,
// before a write would pass the limit (the recorder, whose songs have no known length), or is
// refused: an owner that knows a song's length asks Fits before it writes any of it. A failure
// is a value: the step, the file, the system's error number and the encoder's text.
//
// The recorder, every mode of the splitter and the keep write their songs through it. It
// allocates nothing after its construction, so the recording thread opens the next file through
// it within its block loop. One thread at a time.
#pragma once

#include <climits>
#include <cstddef>
#include <cstdint>
#include <functional>

#include "audio/ErrorState.h"
#include "audio/SongEncoder.h"

enum class SongFileStep {
    None,
    Name,    // the owner could not name the file (szPath is empty)
    Open,    // creating the file or writing its header
    Write,   // appending samples, or a song too long for one file (bTooLong)
    Finish,  // completing or closing the file
};

struct SongFileFailure {
    SongFileStep step = SongFileStep::None;
    long nNumber = 0;  // of the file concerned
    int nErrno = 0;
    bool bTooLong = false;     // a refused song would pass the largest file
    bool bReadFailed = false;  // WriteFrom could not read its source
    char szPath[PATH_MAX] = {};
    char szText[CErrorState::kTextSize] = {};
};

class CSongFiles {
public:
    // Writes the path of song file `number` into out (size bytes); false when it does not fit.
    using Namer = std::function<bool(long number, char* out, size_t size)>;
    enum class Overflow {
        NextFile,  // a write that would pass the limit goes on in the next numbered file
        Refuse,    // it fails (the owner checks Fits before writing a song)
    };

    CSongFiles(ISongEncoder& encoder, Namer namer, Overflow overflow);
    CSongFiles(const CSongFiles&) = delete;
    CSongFiles& operator=(const CSongFiles&) = delete;

    // Sample bytes a file may hold: the encoder's limit unless lowered (tests lower it to reach
    // it without writing 4 GiB; the recorder keeps it at least one block).
    void SetMaxSongBytes(uint64_t bytes) { m_nMaxSongBytes = bytes; }
    uint64_t MaxSongBytes() const;
    // Would a song of this many sample bytes fit in one file?
    bool Fits(uint64_t bytes) const { return bytes <= MaxSongBytes(); }

    // Finishes the open file, if any, and opens file `number` (0: the one after the last).
    bool Open(long number = 0);
    // Appends count bytes to the open file; with NextFile, first goes on in the next file when
    // they would carry it past the limit.
    bool Write(const void* data, uint64_t count);
    // As Write, with the bytes read from the descriptor from at fromOffset (copied in the kernel
    // where the encoder and the system can).
    bool WriteFrom(int from, uint64_t fromOffset, uint64_t count);
    // Waits until the open file's bytes are written (an output that writes later).
    bool Sync();
    // Finishes the open file (none open: true).
    bool Finish();
    // Lets go of the open file unfinished.
    void Abandon();

    bool IsOpen() const { return m_encoder.IsOpen(); }
    bool IsFileRemoved() const { return m_encoder.IsOpen() && m_encoder.IsFileRemoved(); }
    long Number() const { return m_nNumber; }            // of the open (or last) file
    uint64_t SongBytes() const { return m_nSongBytes; }  // sample bytes in it
    const char* Path() const { return m_szPath; }
    bool Failed() const { return m_failure.step != SongFileStep::None; }
    const SongFileFailure& Failure() const { return m_failure; }

private:
    bool Fail(SongFileStep step, bool fromEncoder);
    // Before count more bytes: goes on in the next file, or refuses them, at the limit.
    bool Room(uint64_t count);

    ISongEncoder& m_encoder;
    Namer m_namer;
    Overflow m_overflow;
    uint64_t m_nMaxSongBytes = 0;  // 0: the encoder's
    long m_nNumber = 0;
    uint64_t m_nSongBytes = 0;
    char m_szPath[PATH_MAX] = {};
    SongFileFailure m_failure;
};
