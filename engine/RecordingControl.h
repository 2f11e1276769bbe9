// The main window's recording side, without the window: Record's checks and start-up, Stop,
// the progress display fed by the recording thread's messages, the finish that closes the
// device and the last song file, and the hand-over of levels to the LED meters.
//
// The main window owns one for its whole run and talks to the screen through IRecorderWindow.
// The control owns every object of a recording: the analyser, the writer, the capture device,
// the recording event, the recording lock, the recording thread and its parameter block.
// Everything runs on the user-interface thread except GetMeterLevels (LED meter thread) and
// WaveInNotify (the capture backend's thread).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <thread>

#include "RecSettings.h"
#include "RecorderWindow.h"
#include "RecordingThread.h"
#include "SignalAnalyzer.h"
#include "SongFileName.h"
#include "Sync.h"
#include "WaveFileWriter.h"
#include "WaveIn.h"

class CRecordingControl {
public:
    // The capture device is built on the given backend (PortAudio in the recorder, the file or
    // test backend in tests and the splitter). pathSize: the bytes a song file's path may take,
    // terminator included, from kPathSize (the recorder's) to kLongestPathSize.
    CRecordingControl(IRecorderWindow* window, std::unique_ptr<ICaptureBackend> backend,
                      size_t pathSize = kPathSize);
    virtual ~CRecordingControl();
    CRecordingControl(const CRecordingControl&) = delete;
    CRecordingControl& operator=(const CRecordingControl&) = delete;

    // User-interface thread.
    void OnRecord();
    void OnStop();
    long OnRecordingProgress(const RecordingProgress& progress);  // returns 1
    long OnRecordingDone();                                       // returns 1

    // LED meter thread (and any other): channel 0 left, any other value right. Takes the lock.
    void GetMeterLevels(int channel, int* power, int* peak, int* clips);

    // Capture backend's thread: signals the recording event passed as instance.
    static void WaveInNotify(void* handle, unsigned message, void* instance, uintptr_t param1,
                             uintptr_t param2);

    // Accessors for the window (user-interface thread). The analyser, the writer and the
    // capture device are shared with the recording thread while a recording runs: take the
    // recording lock to read them then.
    CSignalAnalyzer& GetAnalyzer() { return m_analyzer; }
    CWaveFileWriter& GetWriter() { return m_writer; }
    CWaveIn& GetWaveIn() { return m_waveIn; }
    CCriticalSection& GetLock() { return m_lock; }
    bool IsRecording();  // takes the lock
    const std::string& GetCurFileText() const { return m_strCurFileText; }
    // A copy of the current song file's full path (takes the lock).
    std::string GetFilePath();
    int64_t GetTotalBytes() const { return m_nTotalBytes; }
    int64_t GetSongBytes() const { return m_nSongBytes; }
    int64_t GetClippedTotal() const { return m_nClippedTotal; }
    // The number of the song file the last handled report named.
    int GetSongNumber() const { return m_nSongNumber; }
    // How the last recording ended (valid after OnRecordingDone).
    RecordingEnd GetLastEnd() const { return m_lastEnd; }
    // What the last recording's thread reported at its end (valid after OnRecordingDone).
    RecordingOutcome GetLastOutcome();  // takes the lock
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
    // Limits of the recording thread (see RecordingThreadParams); tests make them small.
    uint64_t m_nMaxSongBytes = 0xFFFFFFFFull - 64;
    int m_nWaitSliceMs = 250;
    int m_nNoAudioTimeoutMs = 0;

private:
    void FreeBlockBuffer();
    void EnableRecordingControls(bool recording);
    void ShowError(const std::string& text);
    void UpdateMeter(int channel, const RecordingProgress& progress);
    // Shows the current file, the clipped points and the two times from the counters below.
    void ShowProgress();
    void FormatTime(int64_t bytes, char* out, size_t outSize, const char* label);
    std::string DescribeLostAudio(const RecordingOutcome& outcome);

    IRecorderWindow* m_pWindow;
    CSignalAnalyzer m_analyzer;
    CWaveFileWriter m_writer;
    CWaveIn m_waveIn;
    CEvent m_recordingEvent;
    CCriticalSection m_lock;
    std::thread m_thread;
    CEvent m_threadEnded;
    RecordingThreadParams m_params;
    RecordingOutcome m_outcome;

    int m_bRecording = 0;  // under the lock
    int m_bStopFlag = 0;   // under the lock
    char* m_pBlockBuffer = nullptr;
    // The progress display, as the last report (or the finish) gave it: 64-bit, so long float
    // recordings do not wrap.
    int m_nSongNumber = 1;
    int64_t m_nTotalBytes = 0;
    int64_t m_nSongBytes = 0;
    int64_t m_nClippedTotal = 0;
    size_t m_nPathSize;                           // bytes of the two fields that are used
    char m_szDisplayName[kLongestPathSize] = {};  // under the lock while recording
    char m_szFilePath[kLongestPathSize] = {};     // under the lock while recording
    std::string m_strCurFileText;
    // How this recording's song files are named: full paths and names as shown. Set by Record,
    // read by the recording thread while it runs.
    CSongFileName m_pathNames;
    CSongFileName m_displayNames;
    RecordingEnd m_lastEnd = RecordingEnd::None;

    // Meter values in dB, per channel; under the lock.
    int32_t m_nMeterPeak[2] = {-100, -100};
    int32_t m_nMeterPower[2] = {-100, -100};
    int32_t m_nMeterClips[2] = {0, 0};
    int m_bMeterTaken[2] = {0, 0};

    // Flips the recording picture on every progress message, for the whole run.
    uint64_t m_nPictureCounter = 0;
};

// A readout (peak magnitude or root of the power, 1.0 full scale) in whole dB for the meters;
// NaN counts as the readouts' floor.
int32_t MeterDecibels(float magnitude);

// The control the LED meters read from, registered by the main window (null: none). Any thread
// not holding the recording lock: it waits for a read in progress, so once it returns the
// previous control is no longer read (the control's destructor clears itself the same way).
void SetMeterLevelSource(CRecordingControl* control);
// LED meter thread: the levels of the registered control; -100 dB and 0 clips when none is.
void GetMeterLevels(int channel, int* power, int* peak, int* clips);
