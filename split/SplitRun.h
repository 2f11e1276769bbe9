// One run of vellisto-split on one input: the options, the input opened once and checked, the
// detection parameters (fresh-recorder defaults, then a preset, then the command line), the
// songs written, and the steps every mode shares: choosing and checking the output, the
// parameters, an analysis pass, cleaning up after a failure (only files this run created), the
// label file and the cue sheet, the explanation of a side that gave one song, and the listing
// and summary on the terminal. The modes (SplitModes.h) are plain functions over it.
//
// One run per object, on one thread (the recording thread is the control's). Several objects
// may run at once on different threads.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "audio/FlacFileWriter.h"
#include "audio/WaveFileReader.h"
#include "engine/RecordingOutcome.h"
#include "engine/SignalAnalyzer.h"
#include "engine/SongFileName.h"
#include "split/SplitOptions.h"
#include "split/TerminalWindow.h"

class CDetectorView;
class CFileCaptureBackend;
class CSongOutput;
class CClickRepairEncoder;
class ISongEncoder;

// The block the recorder captures and analyses at a time, bytes.
inline constexpr long kBlockBytes = 65536;

// A number as printf's format puts it.
std::string Number(double v, const char* format = "%g");
// A fresh private folder for a dry run's stand-in files; "" when none can be made.
std::string MakeScratchFolder();
// "no click", "1 click", "12 clicks".
std::string ClicksText(long clicks);
// A name as a POSIX shell reads it back as one word.
std::string ShellQuote(const std::string& text);

struct SplitSong {
    std::string strPath;       // where the song file is (or, in a dry run, would be)
    std::string strTitle;      // "" when the song has none (its file name stands for it)
    uint64_t nStartFrame = 0;  // in the input
    uint64_t nFrames = 0;
    float fPeak = 0;          // dry run only: largest magnitude, 1.0 = full scale
    uint64_t nClipped = 0;    // dry run only: samples at full scale
    bool bContinued = false;  // goes on from the previous file (a WAV file's 4 GiB limit)
    long nClicks = -1;        // clicks repaired (-1: no repair asked)
};

class CSplitRun {
public:
    // out gets the summary and the listing, err the errors, notices and (when showProgress) the
    // progress bar. A non-zero *interrupt (set by a signal handler: the signal's number) stops
    // the work like the Stop button, and the run then exits with 128 + that number.
    CSplitRun(const SplitOptions& options, std::ostream& out, std::ostream& err,
              bool showProgress = false, const std::atomic<int>* interrupt = nullptr);
    ~CSplitRun();
    CSplitRun(const CSplitRun&) = delete;
    CSplitRun& operator=(const CSplitRun&) = delete;

    enum Param { kGapSize, kGapLevel, kMinSong, kEndGap, kParamCount };

    int OpenInput();
    bool ChooseOutput();
    bool CheckDestination();
    bool CheckOverwrite();
    // Why existing song files stop the run, naming the first of them, and what to do.
    std::string ExistingSongsText(const std::string& existing) const;
    // Song names that end in digits after a base that does too (Side1.wav gives Side11.wav):
    // an existing file of such a name may be another recording, never one of this base's songs.
    bool AmbiguousBase() const;
    int SetParameters(CSignalAnalyzer& analyser);
    int ApplyPreset(CSignalAnalyzer& analyser);
    void SetFormat(CSignalAnalyzer& analyser);
    void NoteParamError(CSignalAnalyzer& analyser, Param param, const std::string& source);
    bool SetTyped(CSignalAnalyzer& analyser, Param param, double value);
    // The song files' paths after m_titles, in the base's folder; false after saying why.
    bool TitledPaths(std::vector<std::string>* paths);
    // Refuses, saying why, a path that is the input or exists (unless --force).
    bool CheckTargets(const std::vector<std::string>& paths);
    // The titles of a --names track list; false after saying why.
    bool ReadTitles(std::vector<std::string>* titles);
    // The tags of the song file at path, numbered by the song-file rule or listed in names.
    FlacTags TagsFor(const std::string& path, const std::vector<std::string>& names) const;
    // The encoder the songs are written through: `encoder` itself, or with --declick one in
    // front of it that repairs their clicks (the run keeps it).
    ISongEncoder& Repairing(ISongEncoder& encoder);
    // Clicks repaired in the song file opened at path; -1 when none were repaired.
    long ClicksIn(const std::string& path) const;
    bool AnalysePass(CSignalAnalyzer& analyser, uint64_t limitBytes);
    void NoteRunOut(const RecordingReport& report, bool list);
    void RemoveUnfinished(CSongOutput& output, const std::string& path);
    void CollectSongs(const CSongOutput& output, const CSongFileName& written,
                      const std::vector<uint64_t>& splitBytes);
    void Explain(const CDetectorView& view, int songsWanted);
    std::string WhyHead(int songsWanted) const;
    // What follows the point where the recording ended: its bytes and, looked at by the
    // recording's analyser going on, how much of it is above Gap Level.
    struct Rest {
        uint64_t nBytes = 0;
        uint64_t nAboveFrames = 0;
    };
    // Reads the input on after `taken` data bytes to its end (a stream's writer then finishes
    // in peace), looking at the audio when `analyse`.
    Rest ReadRest(const CSignalAnalyzer& ended, uint64_t taken, const CFileCaptureBackend& device,
                  bool analyse);
    std::string EndGapText(uint64_t taken, const Rest& rest) const;
    void PrintList(const CDetectorView* view, const std::string& endGapText);
    // The label file and the cue sheet asked for, and (when songs were written) their take list.
    int WriteSideFiles();
    bool WriteNewFile(const std::string& path, const std::string& text) const;
    void PrintSummary();
    bool Interrupted() const;
    // Where notices go: to the error stream, or nowhere with -q.
    std::ostream& Note();
    int Fail(const std::string& text, int code = kExitFailed);
    std::string Time(uint64_t frames) const;
    std::string SampleTime(int64_t samples) const;
    int64_t DetectorSamplesPerSecond() const;
    // The byte offset in the input of a detector sample.
    uint64_t DetectorSampleByte(int64_t sample) const;

    SplitOptions m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    std::ostream m_discard{nullptr};
    bool m_bShowProgress;
    const std::atomic<int>* m_pInterrupt;
    CProgressBar m_bar{m_err,
                       m_bShowProgress};  // the passes that read the input outside a recording

    int m_nFd = -1;         // the input, opened once
    std::string m_strName;  // the input as named in messages
    WavFileInfo m_info;
    std::string m_strBasePath;  // as the song files are named from it: folder, name, extension
    std::string m_strBaseName;  // its file name alone, as the recorder displays it
    CSongFileName m_songNames;  // the song files named from m_strBasePath
    std::string m_strScratch;   // a dry run's private folder
    std::array<std::string, kParamCount> m_paramErrors;
    CSignalAnalyzer m_params;  // the run's parameters; every analyser of the run is a copy
    std::vector<SplitSong> m_songs;
    std::unique_ptr<CClickRepairEncoder> m_pRepair;
    uint64_t m_nTakenBytes = 0;         // bytes of the input the songs cover
    std::vector<std::string> m_titles;  // the songs' titles, in order ("" for none)
    std::vector<int> m_titleSeconds;    // a --names list's times of the songs (-1: none given)
    std::string m_strAlbum, m_strArtist;
};
