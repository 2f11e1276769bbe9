// The splitter's cuts mode: songs cut where a label file or cue sheet says, named after their
// titles, the input's bytes copied untouched. The other modes' file rules hold: songs are
// written under temporary names and renamed when finished, never over an existing file unless
// --force, never over the input.
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

#include "audio/SongFiles.h"
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

namespace {

constexpr size_t kCopyBytes = 1 << 16;
constexpr uint64_t kOpenEnd = std::numeric_limits<uint64_t>::max();

struct CutPiece {
    uint64_t nFrom = 0, nTo = 0;  // frames; nTo kOpenEnd: to the end of the input
    int nLine = 0;                // of the cut in its file
};

// Reads up to count bytes, whatever the reads in between give; fewer only at the end. -1 on a
// failure or when interrupted (errno EINTR).
ssize_t ReadSome(int fd, char* out, size_t count, const std::atomic<int>* interrupt) {
    size_t done = 0;
    while (done < count) {
        if (interrupt && interrupt->load() != 0) {
            errno = EINTR;
            return -1;
        }
        const ssize_t n = ::read(fd, out + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return -1;
        if (n == 0) break;
        done += static_cast<size_t>(n);
    }
    return static_cast<ssize_t>(done);
}

}  // namespace

int SplitAtCuts(CSplitRun& run) {
    const WAVEFORMATEX& format = run.m_info.format;
    const uint64_t frameBytes = format.nBlockAlign;
    const CutsFile cuts = ReadCutsFile(run.m_options.strCuts, format.nSamplesPerSec);
    if (!cuts.Ok()) {
        return run.Fail("--cuts " + run.m_options.strCuts + (cuts.nErrorLine > 0 ? ":" : ": ") +
                        cuts.ErrorText());
    }
    if (cuts.marks.empty())
        return run.Fail("--cuts " + run.m_options.strCuts + ": it holds no cut");

    // A stream may end before its header says; that shows while it is read.
    const uint64_t total = run.m_info.nDataBytes == WavFileInfo::kToTheEnd
                               ? kOpenEnd
                               : run.m_info.nDataBytes / frameBytes;
    const std::string where = "--cuts " + run.m_options.strCuts + ":";
    for (const CutMark& m : cuts.marks) {
        if (total != kOpenEnd && m.nStart >= total) {
            return run.Fail(where + std::to_string(m.nLine) + ": the cut at " + run.Time(m.nStart) +
                            " is not before the end of " + run.m_strName + " (" + run.Time(total) +
                            ")");
        }
    }
    // The songs: from each cut to the next, or to a label's end when it comes first; the last
    // to its label's end or the end of the input.
    std::vector<CutPiece> pieces;
    for (size_t k = 0; k < cuts.marks.size(); ++k) {
        const CutMark& m = cuts.marks[k];
        CutPiece p{m.nStart, m.nEnd.value_or(kOpenEnd), m.nLine};
        if (k + 1 < cuts.marks.size()) p.nTo = std::min(p.nTo, cuts.marks[k + 1].nStart);
        if (total != kOpenEnd && p.nTo != kOpenEnd && p.nTo > total) {
            return run.Fail(where + std::to_string(m.nLine) + ": the song ends at " +
                            run.Time(p.nTo) + ", after the end of " + run.m_strName + " (" +
                            run.Time(total) + ")");
        }
        pieces.push_back(p);
    }

    run.m_strAlbum = run.m_options.strAlbum.empty() ? cuts.strAlbum : run.m_options.strAlbum;
    run.m_strArtist = run.m_options.strArtist.empty() ? cuts.strArtist : run.m_options.strArtist;
    if (!run.m_options.strNames.empty()) {
        if (!run.ReadTitles(&run.m_titles)) return kExitFailed;
        if (run.m_titles.size() != pieces.size()) {
            return run.Fail("the track list " + run.m_options.strNames + " holds " +
                            std::to_string(run.m_titles.size()) + " titles; --cuts " +
                            run.m_options.strCuts + " gives " + std::to_string(pieces.size()) +
                            " songs");
        }
    } else {
        for (const CutMark& m : cuts.marks) run.m_titles.push_back(m.strTitle);
    }

    // Titled songs are named after their titles; otherwise by the song-file rule.
    const bool titled = std::none_of(run.m_titles.begin(), run.m_titles.end(),
                                     [](const std::string& t) { return t.empty(); });
    std::vector<std::string> paths;
    if (titled) {
        if (!run.TitledPaths(&paths)) return kExitFailed;
    } else {
        for (size_t k = 0; k < pieces.size(); ++k)
            paths.push_back(run.m_songNames.Name(long(k) + 1));
    }
    const bool list = run.m_options.bList;
    // The songs' files, named by targets once they are known; a dry run counts WAV bytes.
    CSongOutput output(list ? CSongOutput::Mode::List : CSongOutput::Mode::Write, format,
                       run.m_options.bForce);
    CWaveFileWriter writer;
    writer.SetOutput(&output);
    CWavSongEncoder wav(writer, format, kCopyBytes);
    CFlacSongEncoder flac(output, format, [&run, &paths](long, const std::string& path) {
        return run.TagsFor(path, paths);
    });
    std::vector<std::string> targets = paths;
    CSongFiles files(
        run.Repairing(run.m_options.bFlac && !list ? static_cast<ISongEncoder&>(flac) : wav),
        [&targets](long number, char* out, size_t size) {
            const std::string& target = targets[static_cast<size_t>(number) - 1];
            return static_cast<size_t>(std::snprintf(out, size, "%s", target.c_str())) < size;
        },
        CSongFiles::Overflow::Refuse);
    // A song too long for one file is refused before any is written.
    for (size_t k = 0; k < pieces.size(); ++k) {
        const CutPiece& p = pieces[k];
        const uint64_t to = p.nTo != kOpenEnd ? p.nTo : total;
        if (to != kOpenEnd && !files.Fits((to - p.nFrom) * frameBytes)) {
            return run.Fail(
                paths[k] +
                " would pass the 4 GiB a WAV file holds; add a cut or use --format flac");
        }
    }
    if (!list && !run.CheckTargets(paths)) return kExitFailed;

    // What the cuts leave out is said, not dropped silently.
    auto noteLeftOut = [&](uint64_t frames, const std::string& where) {
        if (frames > 0) {
            run.Note() << "vellisto-split: notice: " << run.Time(frames) << " of " << run.m_strName
                       << " " << where << " " << (list ? "would not be" : "was not")
                       << " written\n";
        }
    };

    // A dry run counts the bytes into stand-ins in a folder of its own, never the user's.
    if (list) {
        run.m_strScratch = MakeScratchFolder();
        if (run.m_strScratch.empty())
            return run.Fail(std::string("cannot list: ") + std::strerror(errno));
        for (size_t k = 0; k < targets.size(); ++k) {
            targets[k] =
                run.m_strScratch + "/" + std::to_string(k + 1) + SongExtension(run.m_options);
        }
    }
    CTerminalWindow window(run.m_err, false);
    bool failed = false;
    auto shown = [&](bool ok) {
        if (!ok) run.m_bar.Clear();
        return window.Told(ok, files, failed);
    };

    std::unique_ptr<char[]> buffer(new char[kCopyBytes]);
    uint64_t at = 0;  // bytes of the input read
    bool ended = false;
    bool interrupted = false;
    // Reads on to byte `until` (kOpenEnd: to the end), handing what it read to write (or to
    // nowhere). False on a failure or an interruption; `ended` when the input ended first.
    const uint64_t dataEnd =
        run.m_info.nDataBytes == WavFileInfo::kToTheEnd ? kOpenEnd : run.m_info.nDataBytes;
    auto copy = [&](uint64_t until, bool write) {
        while (at < until && !ended) {
            const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, until - at));
            const ssize_t n = ReadSome(run.m_nFd, buffer.get(), want, run.m_pInterrupt);
            if (n < 0) {
                if (errno == EINTR) {
                    interrupted = true;
                } else {
                    run.Fail("Cannot read " + run.m_strName + ": " + std::strerror(errno));
                    failed = true;
                }
                return false;
            }
            // A stream ends in whole frames; what is left of a partial one is dropped.
            const size_t whole = static_cast<size_t>(n) / frameBytes * frameBytes;
            if (static_cast<size_t>(n) < want) ended = true;
            if (write && whole > 0 && !shown(files.Write(buffer.get(), whole))) return false;
            at += static_cast<uint64_t>(n);
            // A stream's length is not known: its bar shows only the song being written.
            run.m_bar.Draw(
                dataEnd == kOpenEnd ? 0.0 : static_cast<double>(at) / static_cast<double>(dataEnd),
                write ? std::string(FileNamePart(files.Path())) : std::string());
        }
        return true;
    };

    uint64_t leftOut = 0;
    size_t written = 0;
    std::string lastPath;
    bool ok = true;
    for (size_t k = 0; ok && k < pieces.size(); ++k) {
        const CutPiece& p = pieces[k];
        // Cuts of a stream are not checked against its length before it is read: far ones
        // saturate rather than wrap.
        auto bytes = [frameBytes](uint64_t frames) {
            return frames > kOpenEnd / frameBytes ? kOpenEnd : frames * frameBytes;
        };
        const uint64_t from = bytes(p.nFrom);
        const uint64_t to = p.nTo == kOpenEnd ? dataEnd : bytes(p.nTo);
        leftOut += from - std::min(from, at);
        ok = copy(from, false);
        if (!ok) break;
        if (ended) {
            run.Fail("--cuts " + run.m_options.strCuts + ":" + std::to_string(p.nLine) + ": " +
                     run.m_strName + " ends at " + run.Time(at / frameBytes) +
                     ", before the cut at " + run.Time(p.nFrom));
            failed = true;
            break;
        }
        lastPath = targets[k];
        if (!shown(files.Open(static_cast<long>(k) + 1))) break;
        SplitSong song;
        song.strPath = paths[k];
        song.strTitle = run.m_titles[k];
        song.nStartFrame = p.nFrom;
        const uint64_t before = at;
        ok = copy(to, true);
        song.nFrames = (at - before) / frameBytes;
        if (list) {
            const CSongOutput::File& counted = output.GetFiles().back();
            song.fPeak = counted.fPeak;
            song.nClipped = counted.nClipped;
        }
        if (ok && ended && to != dataEnd && at < to) {
            run.Fail("--cuts " + run.m_options.strCuts + ":" + std::to_string(p.nLine) + ": " +
                     run.m_strName + " ends at " + run.Time(at / frameBytes) +
                     ", before the song ends at " + run.Time(to / frameBytes));
            failed = true;
            ok = false;
        }
        // An interrupted stream keeps the song being written, finished; a file's goes.
        if (!ok && !(interrupted && run.m_info.bStream && !failed)) break;
        if (!shown(files.Finish())) break;
        song.nClicks = run.ClicksIn(targets[k]);
        run.m_songs.push_back(song);
        ++written;
    }
    shown(files.Finish());
    run.m_bar.Clear();
    if (failed || interrupted) {
        if (written < pieces.size() && !lastPath.empty() &&
            (run.m_songs.empty() || targets[run.m_songs.size() - 1] != lastPath)) {
            run.RemoveUnfinished(output, lastPath);
        }
        if (interrupted)
            run.Fail("interrupted after " + run.Time(at / frameBytes) + " of the input");
        if (!run.m_options.bQuiet && !run.m_songs.empty()) run.PrintSummary();
        return interrupted ? kExitSignal + run.m_pInterrupt->load() : kExitFailed;
    }
    // Read to the end: a stream's writer is not cut off, and the rest is measured.
    const uint64_t taken = at;
    // Its audio ends at the data size it states; chunks after it are read, not counted.
    if (run.m_info.bStream) {
        copy(kOpenEnd, false);
        at = std::min(at, dataEnd);
        if (interrupted) {
            run.Fail("interrupted after the last song, reading the rest of " + run.m_strName);
            if (!run.m_options.bQuiet) run.PrintSummary();
            return kExitSignal + run.m_pInterrupt->load();
        }
    } else {
        at = std::max(at, dataEnd);  // a file's rest is known without reading it
    }
    run.m_nTakenBytes = taken;
    noteLeftOut(leftOut / frameBytes,
                "between the cuts (before the first, or between a label's end and the next)");
    noteLeftOut((at - taken) / frameBytes, "after the last song");
    const int rc = run.WriteSideFiles();
    if (list) {
        run.PrintList(nullptr, std::string());
    } else if (!run.m_options.bQuiet) {
        run.PrintSummary();
    }
    return rc;
}
