// vellisto-split's work: checks the input and the destination, sets up the detection parameters
// (fresh-recorder defaults, then a preset, then the command line), and records the WAV file
// through the recorder's own control, recording thread, writer and the file capture backend,
// so the song files equal those of a live recording of the same audio. Afterwards it cleans up
// after a failure and prints the songs written.
//
// One run per object, on the program's main thread (the recording thread is the control's).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "FileCaptureBackend.h"
#include "SongFileName.h"
#include "SplitOptions.h"

class CRecordingControl;
class CSignalAnalyzer;
class CTerminalWindow;

struct SplitSong {
    std::string strPath;
    uint64_t nFrames = 0;
};

class CSplitter {
public:
    // out gets the summary, err the errors, notices and (when showProgress) the progress bar.
    // A non-zero *interrupt (set by a signal handler: the signal's number) stops the recording
    // like the Stop button, and the run then counts as failed.
    CSplitter(const SplitOptions& options, std::ostream& out, std::ostream& err,
              bool showProgress = false, const std::atomic<int>* interrupt = nullptr);

    // Returns the exit code.
    int Run();

    // The song files left on disk by the run, in order (after Run).
    const std::vector<SplitSong>& GetSongs() const { return m_songs; }

private:
    enum Param { kGapSize, kGapLevel, kMinSong, kEndGap, kParamCount };

    bool CheckInput();
    bool ChooseOutput();
    bool CheckDestination();
    int SetParameters(CSignalAnalyzer& analyser);
    int ApplyPreset(CSignalAnalyzer& analyser);
    void NoteParamError(CSignalAnalyzer& analyser, Param param, const std::string& source);
    int Record(CRecordingControl& control, CTerminalWindow& window);
    std::string SongPath(long number) const;
    long SongNumberOf(const std::string& path) const;
    void CollectSongs(long lastNumber);
    void PrintSummary();
    int Fail(const std::string& text, int code = kExitFailed);

    SplitOptions m_options;
    std::ostream& m_out;
    std::ostream& m_err;
    bool m_bShowProgress;
    const std::atomic<int>* m_pInterrupt;

    WavFileInfo m_info;
    std::string m_strBasePath;   // as the song files are named from it: folder, name, extension
    std::string m_strBaseName;   // its file name alone, as the recorder displays it
    CSongFileName m_songNames;   // the song files named from m_strBasePath
    std::array<std::string, kParamCount> m_paramErrors;
    std::vector<SplitSong> m_songs;
};

// The whole program on an argument vector: parse, run, exit code.
int RunSplitCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress = false, const std::atomic<int>* interrupt = nullptr);
