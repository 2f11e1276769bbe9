// What the recording engine tells its fronts, as values: why Record did not start, what the
// recording thread reports after each block, the failures it ends with and how a finished
// recording turned out (its song files and their sizes, lost audio, the file removed as
// silence). The fronts (the window's presenter, the splitter's terminal, the soak) decide how to
// show them; their texts are made in one place, RecordingTexts.
//
// Plain values. RecordingProgress and RecordingFailure are filled by the recording thread and
// hold no heap memory; the rest are made on the thread that owns the recording control.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/ErrorState.h"
#include "engine/RecSettings.h"
#include "engine/SongFileName.h"

// What the recording thread reports after a block. It carries everything the window shows, as
// it was when the block had been written, so that the window never reads live state to show it
// and the labels always describe the bytes on disk, however late the message is handled. The
// counters run from Record on, so a later report supersedes an earlier one: a window may merge
// reports that wait (Absorb) and handle only the result.
struct RecordingProgress {
    long nByteCount = 0;        // bytes of the block (of all merged blocks)
    int nNewFiles = 0;          // song files begun within it (a split and a size roll-over: two)
    int nSongNumber = 1;        // the song file the last bytes went into
    int64_t nSongBytes = 0;     // bytes in that song file so far
    int64_t nTotalBytes = 0;    // bytes recorded since Record
    int64_t nClippedTotal = 0;  // clipped samples since Record, each sample counted once
    // What is worth a warning while recording. bNoSoundYet: the first NoSoundWarningFrames of
    // audio after Record brought nothing that reached Gap Level, and nothing has since.
    // nRecentClips: clipped samples in the last kClipWindowSeconds of audio. Both are measured in
    // audio time, so they mean the same however late the report is handled.
    static constexpr int kNoSoundSeconds = 15;
    static constexpr int kClipWindowSeconds = 3;
    // The no-sound warning is worth showing only while there is time to read it: End Gap of
    // silence ends the recording by itself, by default long before kNoSoundSeconds. When it
    // would end within kReadSeconds of the warning, the warning comes kReadSeconds before End
    // Gap, but not before half of it. Frames of audio after Record.
    static constexpr int kReadSeconds = 5;
    static int64_t NoSoundWarningFrames(int64_t endGapFrames, int64_t rate) {
        const int64_t latest = kNoSoundSeconds * rate;
        const int64_t early = endGapFrames - kReadSeconds * rate;
        const int64_t beforeEnd = early > endGapFrames / 2 ? early : endGapFrames / 2;
        return beforeEnd < latest ? beforeEnd : latest;
    }
    int32_t bNoSoundYet = 0;
    int64_t nRecentClips = 0;

    // Folds a later report into this one.
    void Absorb(const RecordingProgress& later) {
        nByteCount += later.nByteCount;
        nNewFiles += later.nNewFiles;
        nSongNumber = later.nSongNumber;
        nSongBytes = later.nSongBytes;
        nTotalBytes = later.nTotalBytes;
        nClippedTotal = later.nClippedTotal;
        bNoSoundYet = later.bNoSoundYet;
        nRecentClips = later.nRecentClips;
    }
};

// Why Record did not start. Each check runs before anything is created, in this order.
enum class StartRefusal {
    None,               // started (or, after Prepare, ready to start)
    NoBaseName,         // no base file chosen
    NoMemory,           // the block buffer could not be had
    NameTooLong,        // the base name leaves no room for song numbers (strPath)
    Declined,           // the overwrite question was answered No, or the user left meanwhile
    FormatUnsupported,  // the settings' format is one the analyser would misread (setting, and
                        // nRate, nBits, nChannels)
    NoDevice,           // no capture device at all (strDetail: the device's own message)
    DeviceFormat,       // the device does not take the format (nRate, nBits; strDetail: the
                        // device's own message)
    DeviceOpen,         // the device did not open (strDetail)
    DeviceBuffers,      // its buffers could not be prepared (strDetail)
    DeviceStart,        // it did not start (strDetail)
    FileNotCreatable,   // the first song file (strPath) could not be made (strDetail: the
                        // writer's message with the system's reason)
    ThreadNotStarted,   // the recording thread could not be started (strDetail: the system's)
};

// Numbered song files of the base name that exist already: a recording would overwrite them.
struct ExistingSongs {
    long nLowest = 0;           // the lowest number found, 0 for none
    std::string strLowest;      // its path
    std::vector<long> numbers;  // every number found, ascending
    // The names as the window shows them of the first few found, for the question.
    static constexpr size_t kShownNames = 5;
    std::vector<std::string> shown;
};

// The answer of Record's checks (CRecordingControl::Prepare) and of the start itself.
struct StartOutcome {
    StartRefusal refusal = StartRefusal::None;
    std::string strPath;
    std::string strDetail;
    uint32_t nRate = 0;
    uint16_t nBits = 0;
    uint16_t nChannels = 0;
    RecSetting setting = RecSetting::SamplesPerSec;  // FormatUnsupported: the field refused
    ExistingSongs existing;                          // after Prepare: what Start would overwrite

    bool Refused() const { return refusal != StartRefusal::None; }
};

// How a recording ended.
enum class RecordingEnd {
    None,         // still running
    Stop,         // the stop flag
    EndGap,       // the analyser reported End Gap of silence
    ShortBlock,   // the device delivered less than a full buffer (end of input, read failure)
    WriterError,  // a write, a close at a split or opening the next file failed
    NoAudio,      // no buffer arrived for the no-audio timeout
    DeviceError,  // the device failed (a sound card pulled out)
    FileRemoved,  // the song file (or its folder) was deleted during the recording
};

// A failure the recording thread ended with (or met while ending).
enum class FailureKind {
    Writer,           // the writer failed: szPath the file, szText the writer's message
    NextNameTooLong,  // the next song's name does not fit: nNumber, szText the name
    FileRemoved,      // szPath was deleted (or its folder) while it was written
    NoAudio,          // no buffer for nNumber seconds
    DeviceFailed,     // the device failed: szText its description
    DeviceStop,       // stopping the device failed: szText the device's message
};

struct RecordingFailure {
    FailureKind kind = FailureKind::Writer;
    int nNumber = 0;
    char szPath[kPathSize] = {};
    char szText[CErrorState::kTextSize] = {};
};

// Written by the recording thread under the recording lock; read by the recording control
// after the done message. Fixed size: the thread fills it without allocating.
struct RecordingOutcome {
    RecordingEnd end = RecordingEnd::None;
    // The failures, first one first (a failed Stop can follow a writer failure).
    static constexpr int kMaxFailures = 3;
    RecordingFailure failures[kMaxFailures];
    int nFailures = 0;
    // 1 when the writer failed while opening the next song file: that file holds no audio.
    int bNextFileFailed = 0;
    int nSongNumber = 1;        // number of the song file current at the end
    int64_t nSongBytes = 0;     // bytes in that file
    int64_t nTotalBytes = 0;    // bytes recorded
    int64_t nClippedTotal = 0;  // clipped samples of the recording
    // Sample bytes of each song file, by number - 1, for the first kMaxListedSongs files.
    static constexpr int kMaxListedSongs = 999;
    int64_t nFileBytes[kMaxListedSongs] = {};
    // Frames the capture side lost during the recording, and the song files (numbers) that
    // were current when the loss was seen.
    uint64_t nLostFrames = 0;
    uint64_t nOverflows = 0;  // overruns the host reported without a frame count
    static constexpr int kMaxLostSongs = 16;
    int nLostSongs[kMaxLostSongs] = {};
    int nLostSongCount = 0;
    int bLostSongsMore = 0;  // more files than nLostSongs holds
    // The thread closes the last song file before its done message: 1 when that close failed,
    // with the writer's message (the file is let go even so).
    int bLastCloseFailed = 0;
    char szLastCloseError[CErrorState::kTextSize] = {};
};

// One song file of a finished recording.
struct SongFileRecord {
    int nNumber = 0;
    std::string strPath;
    std::string strShown;  // its name as the window shows it
    int64_t nBytes = 0;    // sample bytes
    int64_t nFrames = 0;
    bool bRemoved = false;  // the trailing file of nothing but silence, deleted
};

// The first of a recording's files (in order) that begins at or after frame runOutFrame (from the
// recording's first frame), where the side's run-out began; files.size() when none does, or when
// runOutFrame is negative. The first file never counts: it is the recording itself.
std::size_t FirstRunOutFile(const std::vector<SongFileRecord>& files, int64_t runOutFrame);

// How a finished recording turned out (CRecordingControl::Finish).
struct RecordingReport {
    bool bValid = false;  // false: no recording was running
    RecordingEnd end = RecordingEnd::None;
    bool bStopPressed = false;
    std::vector<RecordingFailure> failures;  // the thread's, in order
    std::string strDeviceCloseError;         // the device's message when closing it failed
    // The writer's message when closing the last file failed (not repeated when the writer had
    // failed during the recording already).
    std::string strWriterCloseError;
    uint64_t nLostFrames = 0;
    uint64_t nOverflows = 0;
    std::vector<std::string> lostIn;  // names as shown of the song files that lost audio
    bool bLostInMore = false;
    uint32_t nRate = 0;
    // Every song file the recording began, in number order; a next file that failed to open
    // is left out, since it holds no audio.
    std::vector<SongFileRecord> files;
    bool bNextFileFailed = false;
    int nSongNumber = 1;     // the file current at the end
    int nLastAudioSong = 1;  // the last file that holds audio (0: none)
    int64_t nSongBytes = 0;  // bytes of the file current at the end
    int64_t nTotalBytes = 0;
    int64_t nClippedTotal = 0;
    // The trailing file of silence that should have been deleted and could not be: its path and
    // the system's reason.
    std::string strRemoveFailedPath;
    std::string strRemoveFailedReason;
    // End Gap ended a recording that never heard anything above Gap Level: the input is
    // probably not connected or far too low. End Gap in whole seconds for the words.
    bool bNothingHeard = false;
    int nEndGapSeconds = 0;
    // Numbered files of an earlier take beyond this take's last song: the first few names as
    // shown, and how many in all.
    std::vector<std::string> earlierLeft;
    size_t nEarlierLeft = 0;
};
