// The splitter's default mode and its dry run (--list): the input recorded through the
// recorder's own control, recording thread, writer and the file capture backend, so the song
// files equal those of a live recording of the same audio.
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <limits>
#include <memory>
#include <optional>
#include <ostream>
#include <sstream>
#include <system_error>
#include <thread>

#include "audio/WaveFileWriter.h"
#include "audio/capture/FileCaptureBackend.h"
#include "engine/ParamScales.h"
#include "engine/RecordingControl.h"
#include "engine/RecordingTexts.h"
#include "engine/SignalAnalyzer.h"
#include "split/RunPaths.h"
#include "split/SongOutput.h"
#include "split/SplitModes.h"
#include "split/SplitRun.h"
#include "split/Splitter.h"
#include "split/TerminalWindow.h"
#include "take/CutsFile.h"
#include "take/DetectorView.h"
#include "take/QuietestNear.h"
#include "take/SongNames.h"
#include "take/TrackList.h"

namespace fs = std::filesystem;

int RecordSide(CSplitRun& run) {
    const bool list = run.m_options.bList;
    std::string controlBase = run.m_strBasePath;
    if (list) {
        // A dry run records into stand-ins in a folder of its own: the recording control may
        // then delete what it likes, and never a file of the user's.
        run.m_strScratch = MakeScratchFolder();
        if (run.m_strScratch.empty())
            return run.Fail(std::string("cannot list: ") + std::strerror(errno));
        controlBase = run.m_strScratch + "/" + run.m_strBaseName;
    }
    CSongOutput output(list ? CSongOutput::Mode::List : CSongOutput::Mode::Write, run.m_info.format,
                       run.m_options.bForce);
    // Which songs are kept is known at the end (the run-out after the last is not).
    output.HoldReplacements();
    // FLAC songs are encoded as the recording thread writes them (a dry run counts WAV bytes).
    CFlacSongEncoder flac(output, run.m_info.format,
                          [&run](long, const std::string& path) { return run.TagsFor(path, {}); });
    CTerminalWindow window(run.m_err, run.m_bShowProgress);
    const int fd = fcntl(run.m_nFd, F_DUPFD_CLOEXEC, 3);
    if (fd < 0) return run.Fail("Cannot read " + run.m_strName + ": " + std::strerror(errno));
    auto backend = MakeFileCaptureBackend(fd, run.m_strName, run.m_info, FilePacing::AsFastAsRead);
    CFileCaptureBackend* file = backend.get();
    CRecordingControl control(&window, std::move(backend), kLongestPathSize);

    CSignalAnalyzer& analyser = control.GetAnalyzer();
    analyser = run.m_params;
    run.SetFormat(analyser);
    control.m_settings.wBitsPerSample = run.m_info.format.wBitsPerSample;
    control.m_settings.nSamplesPerSec = run.m_info.format.nSamplesPerSec;
    control.m_settings.wChannels = run.m_info.format.nChannels;
    control.m_settings.nWaveInID = -1;
    if (run.m_options.nMaxSongBytes > 0) control.m_nMaxSongBytes = run.m_options.nMaxSongBytes;

    // The view needs the thresholds Record will prepare; preparing twice changes nothing.
    analyser.PrepareRecording();
    CDetectorView view(analyser, run.DetectorSamplesPerSecond(),
                       run.m_info.format.wBitsPerSample == 16, list);
    analyser.SetObserver(&view);
    control.GetWriter().SetOutput(&output);
    ISongEncoder& wav = control.GetWavEncoder();
    ISongEncoder& songs = run.Repairing(run.m_options.bFlac && !list ? flac : wav);
    if (&songs != &wav) control.SetEncoder(&songs);

    window.SetControl(&control);
    window.SetTakenNames([&output](const std::string& path) { return output.Taken(path); });
    // While idle the writer holds the selected base file, which Record checks for.
    control.GetWriter().SetFileName(controlBase.c_str());

    StartOutcome start = control.Prepare({true, run.m_strBaseName, controlBase});
    if (!start.Refused() && start.existing.nLowest > 0 &&
        (!run.m_options.bForce || run.AmbiguousBase())) {
        control.Abandon();
        return run.Fail(run.ExistingSongsText(start.existing.strLowest));
    }
    if (!start.Refused()) start = control.Start();
    if (start.Refused()) {
        window.ShowError(recording_texts::RefusalText(start));
        return kExitFailed;
    }

    int signal = 0;
    auto lastDraw = std::chrono::steady_clock::now();
    window.DrawProgress(0.0);
    while (!window.Pump(50)) {
        if (run.m_pInterrupt && signal == 0 && (signal = run.m_pInterrupt->load()) != 0) {
            control.OnStop();
        }
        const auto now = std::chrono::steady_clock::now();
        if (now - lastDraw >= std::chrono::milliseconds(100)) {
            lastDraw = now;
            const double total =
                run.m_info.bStream ? 0.0 : static_cast<double>(run.m_info.nDataBytes);
            window.DrawProgress(total > 0 ? static_cast<double>(control.GetTotalBytes()) / total
                                          : 0.0);
        }
    }
    window.ClearProgress();
    analyser.SetObserver(nullptr);
    view.Finish();

    const RecordingEnd end = window.GetReport().end;
    const std::string lastPath = control.GetFilePath();
    const uint64_t taken = static_cast<uint64_t>(control.GetTotalBytes());
    run.m_nTakenBytes = taken;
    const uint64_t frameBytes = run.m_info.format.nBlockAlign;
    const uint64_t inputBytes = run.m_info.bStream ? taken : run.m_info.nDataBytes;

    bool failed = !window.GetErrors().empty();
    for (const CSongOutput::File& song : output.GetFiles()) {
        if (!song.bTaken) continue;
        run.m_err << "vellisto-split: " << song.strPath
                  << " was created by another program while this run was writing it (another "
                     "split of the same names?); it was left as it is, and this run stopped "
                     "there\n";
        failed = true;
    }
    const bool interrupted = signal != 0;
    if (interrupted) {
        run.Fail("interrupted after " + run.Time(taken / frameBytes) + " of the input");
        failed = true;
    }
    if (!failed && end == RecordingEnd::ShortBlock && file->GetReadError() != 0) {
        run.Fail("could not read " + run.m_strName + " beyond " + run.Time(taken / frameBytes) +
                 ": " + std::strerror(file->GetReadError()));
        failed = true;
    } else if (!failed && end == RecordingEnd::ShortBlock && taken < inputBytes) {
        run.Fail("could not read " + run.m_strName + " beyond " + run.Time(taken / frameBytes) +
                 " (" + std::to_string(taken) + " of " + std::to_string(inputBytes) + " bytes)");
        failed = true;
    }
    // A stream that ends before its first frame holds no audio, as a file of the same bytes does:
    // its empty song file goes.
    if (!failed && run.m_info.bStream && taken == 0) {
        std::error_code ec;
        if (output.Created(lastPath)) fs::remove(lastPath, ec);
        return run.Fail(run.m_strName + " holds no audio");
    }
    // A stream cannot be read again: the song being written when it was interrupted is kept,
    // finished up to the interruption. A file's is removed, and a second run splits it whole.
    const bool keepLast = interrupted && run.m_info.bStream && window.GetErrors().empty();
    if (failed && !keepLast) run.RemoveUnfinished(output, lastPath);
    // The end of the input ends the side as End Gap does: what follows the last song goes.
    RecordingReport report = window.GetReport();
    if (!failed && end != RecordingEnd::EndGap) control.RemoveRunOut(report);
    // Only now is it known which songs are kept: those that replace a file go under its name.
    const size_t failuresBefore = output.GetFailures().size();
    if (!list && !output.PublishHeld()) {
        for (size_t k = failuresBefore; k < output.GetFailures().size(); ++k) {
            const CSongOutput::Failure& f = output.GetFailures()[k];
            run.m_err << "vellisto-split: cannot put the song file " << f.strPath << " in place: "
                      << (f.nErrno == EEXIST ? "another program created a file there meanwhile"
                                             : std::strerror(f.nErrno))
                      << "; the file there was left as it is\n";
        }
        failed = true;
    }
    run.NoteRunOut(report, list);

    run.CollectSongs(output, CSongFileName(controlBase), view.GetSplitBytes());

    if (!failed && run.m_info.bStream && !run.m_info.bSizeToEnd &&
        end == RecordingEnd::ShortBlock && taken < run.m_info.nDataBytes) {
        run.Note() << "vellisto-split: notice: " << run.m_strName << " ended after " << taken
                   << " of the " << run.m_info.nDataBytes
                   << " bytes of audio its header declares; split to its end\n";
    }
    // Read to the end: what End Gap left is looked at, and a stream's writer is not cut off.
    const bool endedEarly = !failed && end == RecordingEnd::EndGap;
    CSplitRun::Rest rest;
    if (!failed && (endedEarly || run.m_info.bStream))
        rest = run.ReadRest(analyser, taken, *file, endedEarly);
    const bool endGap = endedEarly && rest.nBytes > 0;
    const bool oneSong = run.m_songs.size() <= 1;
    if (endGap) {
        // With one song, End Gap is the reason why.
        // Music left unsplit is an error, and said even with -q.
        (rest.nAboveFrames > 0 ? run.m_err : run.Note())
            << (oneSong ? run.WhyHead(0) : "vellisto-split: ")
            << (rest.nAboveFrames > 0 || oneSong ? "" : "notice: ") << run.EndGapText(taken, rest)
            << (rest.nAboveFrames > 0 ? " (a longer --end-gap goes on past such a silence)" : "")
            << "\n";
    }
    if (!list) {
        std::error_code ec;
        const long lastNumber =
            run.m_songNames.NumberOf(lastPath) > 0 ? run.m_songNames.NumberOf(lastPath) : 1;
        if (fs::exists(run.m_songNames.Name(lastNumber + 1), ec)) {
            long last = lastNumber + 1;
            while (fs::exists(run.m_songNames.Name(last + 1), ec)) ++last;
            run.Note() << "vellisto-split: notice: " << run.m_songNames.Name(lastNumber + 1)
                       << (last > lastNumber + 1
                               ? " to " + std::string(FileNamePart(run.m_songNames.Name(last))) +
                                     " are"
                               : std::string(" is"))
                       << " left from an earlier run\n";
        }
    }
    if (failed) {
        if (!run.m_options.bQuiet && !run.m_songs.empty()) run.PrintSummary();
        return interrupted ? kExitSignal + signal : kExitFailed;
    }

    if (oneSong && !endGap) {
        if (list) {
            run.Explain(view, 0);
        } else if (!run.m_info.bStream) {
            // Looked at again, with the levels this time: the recording itself stays fast.
            CSignalAnalyzer again = run.m_params;
            run.SetFormat(again);
            again.PrepareRecording();
            CDetectorView seen(again, run.DetectorSamplesPerSecond(),
                               run.m_info.format.wBitsPerSample == 16, true);
            again.SetObserver(&seen);
            if (run.AnalysePass(again, taken)) {
                seen.Finish();
                run.Explain(seen, 0);
            }
            again.SetObserver(nullptr);
        }
    }
    const int written = run.WriteSideFiles();
    if (list) {
        run.PrintList(&view, endGap ? run.EndGapText(taken, rest) : std::string());
    } else if (!run.m_options.bQuiet) {
        run.PrintSummary();
    }
    // Music after End Gap is music the user has not got.
    return written != kExitOk || rest.nAboveFrames == 0 ? written : kExitFailed;
}
