// vellisto-split's work on one input: opens it once and checks it, sets up the detection
// parameters and then runs one mode (SplitModes.h) over the run (SplitRun.h):
//
// - split (the default): records the input through the recorder's own control, recording
//   thread, writer and the file capture backend, so the song files equal those of a live
//   recording of the same audio; the files are written on a thread of their own;
// - list (--list): the same recording with the files only counted, plus the gaps as the
//   detector saw them;
// - song count (--songs N): an analysis pass finds the N-1 best gaps, a second pass cuts there;
// - probe (--probe): an analysis pass measures the noise floor and suggests settings;
// - cuts (--cuts FILE): the input's bytes copied, untouched, into one song file per cut of a
//   label file or cue sheet, named after the titles.
//
// One run per object, on one thread. Several objects may run at once on different threads.
#pragma once

#include <algorithm>
#include <atomic>
#include <ostream>
#include <string>
#include <vector>

#include "split/SplitOptions.h"
#include "split/SplitRun.h"

class CSplitter {
public:
    // out gets the summary and the listing, err the errors, notices and (when showProgress) the
    // progress bar. A non-zero *interrupt (set by a signal handler: the signal's number) stops
    // the work like the Stop button, and the run then exits with 128 + that number.
    CSplitter(const SplitOptions& options, std::ostream& out, std::ostream& err,
              bool showProgress = false, const std::atomic<int>* interrupt = nullptr);

    // Returns the exit code.
    int Run();

    // The song files of the run, in order (after Run).
    const std::vector<SplitSong>& GetSongs() const { return m_run.m_songs; }
    // The frames of the input the run took, up to where End Gap ended it (after Run).
    uint64_t GetTakenFrames() const {
        return m_run.m_nTakenBytes / std::max<uint64_t>(1, m_run.m_info.format.nBlockAlign);
    }

private:
    CSplitRun m_run;
};

// The whole program on an argument vector: parse, split every input (several at once with
// -j), exit code (the worst of the inputs').
int RunSplitCommand(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                    bool showProgress = false, const std::atomic<int>* interrupt = nullptr);
