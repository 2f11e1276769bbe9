// The recording thread: waits for each filled capture buffer, takes it from the capture
// device, runs it through the analyser, appends it to the current song file and, at every gap
// the analyser reports, closes the file at the split point and opens the next numbered one.
// It posts a progress message after every block and a done message when it ends.
//
// The recording control fills RecordingThreadParams on the user-interface thread, keeps it and
// every object it points to alive until the thread has ended, and reads the outcome under the
// recording lock after the done message. The block loop allocates nothing; the file names of
// the next song are built in fixed fields of nPathSize bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ErrorState.h"
#include "SongFileName.h"

class CSignalAnalyzer;
class CWaveFileWriter;
class CWaveIn;
class CEvent;
class CCriticalSection;
class IRecorderWindow;

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

// Written by the recording thread under the recording lock; read by the recording control
// after the done message.
struct RecordingOutcome {
    RecordingEnd end = RecordingEnd::None;
    // The message the thread ends with ("ERROR" box), shown first by the finish.
    int bError = 0;
    char szError[CErrorState::kTextSize] = {};
    // 1 when the writer failed while opening the next song file: that file holds no audio.
    int bNextFileFailed = 0;
    int nSongNumber = 1;        // number of the song file current at the end
    int64_t nSongBytes = 0;     // bytes in that file
    int64_t nTotalBytes = 0;    // bytes recorded
    int64_t nClippedTotal = 0;  // clipped samples of the recording
    // Frames the capture side lost during the recording, and the song files (numbers) that
    // were current when the loss was seen.
    uint64_t nLostFrames = 0;
    uint64_t nOverflows = 0;  // overruns the host reported without a frame count
    static constexpr int kMaxLostSongs = 16;
    int nLostSongs[kMaxLostSongs] = {};
    int nLostSongCount = 0;
    int bLostSongsMore = 0;  // more files than nLostSongs holds
};

struct RecordingThreadParams {
    IRecorderWindow* pWindow = nullptr;  // receiver of the posted messages
    CSignalAnalyzer* pAnalyzer = nullptr;
    CWaveFileWriter* pWriter = nullptr;  // holds the open first file with its header written
    CWaveIn* pWaveIn = nullptr;          // open and capturing
    void* pBlockBuffer = nullptr;        // *pBufferSize bytes
    long* pBufferSize = nullptr;         // capture buffer size, bytes
    char* pszDisplayName = nullptr;      // nPathSize bytes, shown after "Cur File: "
    char* pszFilePath = nullptr;         // nPathSize bytes, the current file's full path
    size_t nPathSize = kPathSize;        // at most kLongestPathSize
    CEvent* pEvent = nullptr;            // auto-reset, signalled by the capture notification
    CCriticalSection* pLock = nullptr;   // the recording lock
    int* pStopFlag = nullptr;            // 1 once Stop was pressed; read under the lock
    // How the song files are named: their paths and their names as shown. Owned by the
    // recording control, unchanged while the thread runs.
    const CSongFileName* pPathNames = nullptr;
    const CSongFileName* pDisplayNames = nullptr;

    RecordingOutcome* pOutcome = nullptr;
    // Largest number of sample bytes a song file may hold; the thread goes on in the next
    // numbered file, at a block boundary, before a block would pass it. The default keeps the
    // RIFF and data size fields of a WAV file within 32 bits.
    uint64_t nMaxSongBytes = 0xFFFFFFFFull - 64;
    // The wait for a buffer is cut into slices of this many ms, so Stop is seen even when no
    // buffer comes.
    int nWaitSliceMs = 250;
    // No buffer for this many ms ends the recording with an error; 0 means max(10 s, three
    // buffer times).
    int nNoAudioTimeoutMs = 0;
};

// The thread's entry function; param points to RecordingThreadParams. Returns 1.
unsigned int RecordingThreadProc(void* param);
