// A recording, without any front: Record's checks and start-up, Stop, the counters fed by the
// recording thread's messages, the finish that closes the device and looks at the song files the
// thread finished, and the hand-over of levels to the LED meters. It answers in values
// (RecordingOutcome.h) and shows nothing; the window's presenter, the splitter and the soak tell
// those values their own way.
//
// Its owner (the main window, the splitter, the soak) keeps one for its whole run. The control
// owns every object of a recording: the analyser, the writer with the song files' write queue
// and its thread, the capture device, the recording event, the recording lock, the recording
// thread and its parameter block. The thread's two messages go to the IRecordingSink given at
// construction. Everything runs on the owner's thread except GetMeterLevels (LED meter thread)
// and WaveInNotify (the capture backend's thread).
//
// Locks of a recording, in the order they may nest (a lock is never taken while one below it
// is held):
//
//   lock                      guards                          taken by
//   ------------------------  ------------------------------  ---------------------------------
//   CLevelMonitor's m_mutex   what the monitor is asked to    owner's thread (never across a
//   (LevelMonitor.h)          do, its state and failure text  device call), monitor's thread
//   g_meterSourceMutex        the source the LED meters read  LED meter thread, owner's thread
//   (MeterLevels.cpp)         (a recording or the monitor)    (SetMeterLevelSource)
//   CMeterLevels' mutex       the meter values of a           recording thread (after each
//                             recording or of the monitor     block, the recording lock let
//                                                             go), monitor's thread, LED meter
//                                                             thread, owner's thread (the
//                                                             finish, once the thread ended)
//   m_lock (recording lock)   the analyser, the writer, the   recording thread only, around
//                             capture device, the outcome     each block and its ending
//                             and the path fields while the   (tests hold it to hold the
//                             thread runs                     thread up)
//   CQueuedFileOutput's       the song files' write queue:    recording thread (queues writes;
//   m_mutex (the writer's     its place in the ring, the      waits there for room, and at a
//   lock)                     writes waiting, a failed        file's end for its bytes), the
//                             write's error number            writer thread (never across a
//                                                             write)
//   CQueuedCaptureBackend's   the capture queue               the device's caller, the
//   lock                                                      backend's device thread
//   CRecordingMailbox's and   a waiting message; a signal     recording thread (post), owner's
//   CEvent's mutexes                                          thread (deliver); any thread
//
// The owner's thread never takes the recording lock: it touches the analyser, the writer and
// the device only before Start and after Finish has joined the thread, and the stop request is
// an atomic flag. So a capture device that does not answer holds up the recording thread alone;
// the window, its meters and Stop keep working. A song file's write that stalls holds up only
// the writer thread: the recording thread queues each block in the write ring and goes on
// (clock and meters move) until the ring is full, or until a song file ends (its close waits for
// its bytes, the next file's header for the disk); from then on the capture queue holds the
// audio. The thread closes the last song file itself, so the done message comes once its bytes
// are written, and the window never waits for the disk: when it leaves, it waits a bounded time
// (StopAndWait) and goes, and the process finishes the recording without it. What crosses between
// the threads is a copy (a report in the mailbox, the levels in CMeterLevels, the outcome after the
// join). The meters' levels go from the recording thread straight to the LED meter thread, so they
// keep moving while the owner's thread is busy (a modal box is up) and its messages wait. The level
// monitor's device is its own thread's: the owner's thread only asks it to open or let go and
// waits, bounded, for the release (LevelMonitor.h).
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "audio/QueuedFileOutput.h"
#include "audio/SongEncoder.h"
#include "audio/SongFiles.h"
#include "audio/WaveFileWriter.h"
#include "audio/capture/WaveIn.h"
#include "engine/MeterLevels.h"
#include "engine/RecSettings.h"
#include "engine/RecordingOutcome.h"
#include "engine/RecordingSink.h"
#include "engine/RecordingThread.h"
#include "engine/SignalAnalyzer.h"
#include "engine/SongFileName.h"
#include "engine/Sync.h"

// The base file Record starts from, as the front's Base File Name box holds it.
struct RecordRequest {
    bool bHasBaseFile = true;  // an entry is selected
    std::string strShown;      // its name as shown; song files are shown under this name
    std::string strPath;       // its full path
};

class CRecordingControl : public IMeterLevelSource {
public:
    // The capture device is built on the given backend (PortAudio in the recorder, the file or
    // test backend in tests and the splitter). pathSize: the bytes a song file's path may take,
    // terminator included, from kPathSize (the recorder's) to kLongestPathSize.
    CRecordingControl(IRecordingSink* sink, std::unique_ptr<ICaptureBackend> backend,
                      size_t pathSize = kPathSize);
    virtual ~CRecordingControl();
    CRecordingControl(const CRecordingControl&) = delete;
    CRecordingControl& operator=(const CRecordingControl&) = delete;

    // Owner's thread. Record in two steps, so that a front can ask before overwriting: Prepare
    // runs the checks that need no device (a base name, a format the analyser reads right, the
    // block buffer, room for song numbers) and finds the numbered files a recording would overwrite
    // (outcome.existing); it creates nothing. After a None answer, Start opens and starts the
    // device, creates the first song file and starts the thread, or Abandon lets the prepared start
    // go. A refusal of either leaves nothing open or allocated. Both refuse (Declined) while
    // recording.
    StartOutcome Prepare(const RecordRequest& request);
    StartOutcome Start();
    void Abandon();
    // Asks the recording thread to stop; returns at once. Its done message follows.
    void OnStop();
    // The owner is leaving: asks the recording thread to stop and waits for it, at most
    // timeoutMs. True once it has ended (Finish then waits no more); false while it still waits
    // for the disk to take the last bytes, which Finish, called later, waits for without limit.
    bool StopAndWait(int timeoutMs);
    // A progress report taken from the sink: the counters follow it. The meters do not wait for
    // it: the recording thread hands them each block's levels itself.
    void OnRecordingProgress(const RecordingProgress& progress);
    // After the done message (or directly, after OnStop, when the owner leaves): waits for the
    // thread (which has closed the last song file), closes the device, removes a trailing file of
    // nothing but silence and says how the recording went. bValid is false when no recording was
    // running (the done message of a recording finished directly).
    RecordingReport Finish();
    // Removes every song file that holds only the side's run-out (the files from the first split
    // after which nothing rose above Gap Level), marking them in the report, which it keeps
    // true. Finish does it after an End Gap ending; an owner whose source ends where the side
    // does (a file read to its end) does it after Finish. The first file is the recording itself
    // and stays. Until the next recording.
    void RemoveRunOut(RecordingReport& report) const;

    // LED meter thread (and any other): channel 0 left, any other value right. Takes the meter
    // levels' lock only.
    void GetMeterLevels(int channel, int* power, int* peak, int* clips) override;

    // Capture backend's thread: signals the recording event passed as instance.
    static void WaveInNotify(void* handle, unsigned message, void* instance, uintptr_t param1,
                             uintptr_t param2);

    // Accessors for the owner's thread. The analyser, the writer and the capture device belong
    // to the recording thread while a recording runs: use them only while none does.
    CSignalAnalyzer& GetAnalyzer() { return m_analyzer; }
    CWaveFileWriter& GetWriter() { return m_writer; }
    // The songs' container: null (the default) is WAV through GetWriter(); an owner may hand an
    // encoder of another format, which must outlive the recordings.
    void SetEncoder(ISongEncoder* encoder) { m_pEncoder = encoder; }
    // The WAV encoder the songs go through by default, for an encoder that stands in front of it.
    ISongEncoder& GetWavEncoder() { return m_wavEncoder; }
    CWaveIn& GetWaveIn() { return m_waveIn; }
    CCriticalSection& GetLock() { return m_lock; }
    bool IsRecording() const { return m_bRecording; }
    // The current song file's full path (the last report's, or the finish's).
    std::string GetFilePath() const { return m_pathNames.Name(m_nSongNumber); }
    // A song file's name as shown.
    std::string ShownName(int number) const { return m_displayNames.Name(number); }
    // The counters as the last handled report (or the finish) gave them: 64-bit, so long float
    // recordings do not wrap.
    int64_t GetTotalBytes() const { return m_nTotalBytes; }
    int64_t GetSongBytes() const { return m_nSongBytes; }
    int64_t GetClippedTotal() const { return m_nClippedTotal; }
    int GetSongNumber() const { return m_nSongNumber; }
    // How the last recording ended (valid after Finish).
    RecordingEnd GetLastEnd() const { return m_lastEnd; }
    bool HasBlockBuffer() const { return m_pBlockBuffer != nullptr; }

    // The settings Record reads: sample rate, bits per sample, channels and capture device id;
    // the time display uses the same. Changed through SetSettings, only while no recording runs.
    RecSettings m_settings;
    // Takes a record (from the profile, a preset or Custom Settings) and applies it to the
    // analyser and the capture device. A position the analyser rejects falls back to the
    // default after onRejected has been told (ApplySettings). User-interface thread.
    void SetSettings(const RecSettings& settings, const OnRejectedSetting& onRejected = {});

    // Capture buffer and block size in bytes.
    long m_nBufferSize = 65536;
    // Seconds of audio the capture buffers hold together (at least two buffers): how long a
    // stalled disk may hold the recording thread up before the device loses audio. Tests that
    // want the device to run out of buffers at once make it 0.
    double m_fCaptureQueueSeconds = 6.0;
    // The song files' write ring in bytes: 5.4 s of audio at the largest format (48,000 frames
    // of two 32-bit samples a second), 11.9 s at 44,100 16-bit stereo; the capture queue's
    // m_fCaptureQueueSeconds come on top. Each 64 KiB of audio is one write and a header update.
    static constexpr size_t kWriteRingBytes = size_t(2) << 20;
    static constexpr size_t kWriteQueueWrites = 256;

    // Limits of the recording thread (see RecordingThreadParams); tests make them small. A song
    // file's sample bytes: 0 is the encoder's limit (4 GiB for WAV).
    uint64_t m_nMaxSongBytes = 0;
    int m_nWaitSliceMs = 250;
    int m_nNoAudioTimeoutMs = 0;

private:
    void FreeBlockBuffer();
    // Undoes a start that failed at the given step.
    StartOutcome Refuse(StartRefusal refusal, std::string detail = {});
    RecordingReport MakeReport(const RecordingOutcome& outcome, bool stopPressed) const;

    IRecordingSink* m_pSink;
    CSignalAnalyzer m_analyzer;
    // Where the writer's files go unless the owner hands it an output of its own; made by the
    // first Prepare, and outlives the writer's files.
    std::unique_ptr<CQueuedFileOutput> m_pFileOutput;
    CWaveFileWriter m_writer;
    CWavSongEncoder m_wavEncoder{m_writer, WAVEFORMATEX{}, 0};
    ISongEncoder* m_pEncoder = nullptr;  // null: m_wavEncoder
    // The recording's song files, made by Start with the recording's encoder; the recording
    // thread's while it runs.
    std::optional<CSongFiles> m_songFiles;
    WAVEFORMATEX m_format{};  // the recording's
    CWaveIn m_waveIn;
    CEvent m_recordingEvent;
    CCriticalSection m_lock;
    std::thread m_thread;
    CEvent m_threadEnded;
    RecordingThreadParams m_params;
    RecordingOutcome m_outcome;

    bool m_bRecording = false;        // owner's thread
    bool m_bPrepared = false;         // between a None answer of Prepare and Start or Abandon
    std::atomic<int> m_bStopFlag{0};  // set by the owner's thread, read by the recording thread
    char* m_pBlockBuffer = nullptr;
    int m_nSongNumber = 1;
    int64_t m_nTotalBytes = 0;
    int64_t m_nSongBytes = 0;
    int64_t m_nClippedTotal = 0;
    // The current song file's name as shown and its path: the recording thread's while it runs.
    size_t m_nPathSize;  // bytes of the two fields that are used
    char m_szDisplayName[kLongestPathSize] = {};
    char m_szFilePath[kLongestPathSize] = {};
    // How this recording's song files are named: full paths and names as shown. Set by
    // Prepare, read by the recording thread while it runs.
    CSongFileName m_pathNames;
    CSongFileName m_displayNames;
    std::vector<long> m_earlierNumbers;  // the numbered files that existed before the take
    RecordingEnd m_lastEnd = RecordingEnd::None;

    CMeterLevels m_meterLevels;
};
