// The recording thread: waits for each filled capture buffer, takes it from the capture
// device, runs it through the analyser, appends it to the current song file and, at every gap
// the analyser reports, closes the file at the split point and opens the next numbered one.
// It posts a progress message after every block, hands the block's levels to the LED meters and,
// once it has closed the last song file, posts a done message when it ends.
//
// The recording control fills RecordingThreadParams on its owner's thread, keeps it and every
// object it points to alive until the thread has ended, and reads the outcome once it has joined
// the thread. The thread holds the recording lock (see the lock map in RecordingControl.h) while
// it handles a block; no other thread of the program waits on it. The block loop allocates nothing;
// the file names of the next song are built in fixed fields of nPathSize bytes.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "audio/WaveFormat.h"
#include "engine/RecordingOutcome.h"
#include "engine/SongFileName.h"

class CSignalAnalyzer;
class CSongFiles;
class CWaveFileWriter;
class CWaveIn;
class CEvent;
class CCriticalSection;
class IRecordingSink;
class CMeterLevels;

struct RecordingThreadParams {
    IRecordingSink* pSink = nullptr;  // receiver of the posted messages
    CSignalAnalyzer* pAnalyzer = nullptr;
    CWaveFileWriter* pWriter = nullptr;  // the WAV writer behind the song files
    // The song files: the first is open with its header written; the thread opens the next ones
    // through it (naming them into the two fields below, under the lock), goes on in the next
    // file before a song would pass the largest file, and closes the last at its end.
    CSongFiles* pSongFiles = nullptr;
    const WAVEFORMATEX* pFormat = nullptr;  // the song files' (and the capture device's)
    CWaveIn* pWaveIn = nullptr;             // open and capturing
    void* pBlockBuffer = nullptr;           // *pBufferSize bytes
    long* pBufferSize = nullptr;            // capture buffer size, bytes
    char* pszDisplayName = nullptr;         // nPathSize bytes, shown after "Cur File: "
    char* pszFilePath = nullptr;            // nPathSize bytes, the current file's full path
    size_t nPathSize = kPathSize;           // at most kLongestPathSize
    CEvent* pEvent = nullptr;               // auto-reset, signalled by the capture notification
    CCriticalSection* pLock = nullptr;      // the recording lock
    const std::atomic<int>* pStopFlag = nullptr;  // 1 once Stop was pressed
    // How the song files are named: their paths and their names as shown. Owned by the
    // recording control, unchanged while the thread runs.
    const CSongFileName* pPathNames = nullptr;
    const CSongFileName* pDisplayNames = nullptr;

    RecordingOutcome* pOutcome = nullptr;
    // Where the LED meters find each block's levels (null: nowhere). The thread deposits them
    // itself, once it has let go of the recording lock, so that the meters move whatever the
    // owner's thread is doing (a box is up, say).
    CMeterLevels* pMeterLevels = nullptr;
    // The wait for a buffer is cut into slices of this many ms, so Stop is seen even when no
    // buffer comes.
    int nWaitSliceMs = 250;
    // No buffer for this many ms ends the recording with an error; 0 means max(10 s, three
    // buffer times).
    int nNoAudioTimeoutMs = 0;
};

// The thread's entry function; param points to RecordingThreadParams. Returns 1.
unsigned int RecordingThreadProc(void* param);
