// The splitter's song-count mode (--songs N, and --names without --cuts): an analysis pass
// finds the N-1 best gaps, a second pass cuts there; titled songs then take their titles' names.
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
#include "take/FileSteps.h"
#include "take/QuietestNear.h"
#include "take/SongNames.h"
#include "take/TrackList.h"

namespace fs = std::filesystem;

namespace {

int NameAfterTitles(CSplitRun& run) {
    if (run.m_songs.size() != run.m_titles.size()) {
        run.Fail("the track list " + run.m_options.strNames + " holds " +
                 std::to_string(run.m_titles.size()) + " titles, the side was split into " +
                 std::to_string(run.m_songs.size()) + " songs; they keep their numbered names");
        return kExitFailed;
    }
    std::vector<std::string> paths;
    if (!run.TitledPaths(&paths)) return kExitFailed;
    for (size_t k = 0; k < run.m_songs.size(); ++k) {
        SplitSong& song = run.m_songs[k];
        song.strTitle = run.m_titles[k];
        if (run.m_options.bList) {
            song.strPath = paths[k];
            continue;
        }
        const FileIdentity seen = run.m_options.bForce ? IdentityAt(paths[k]) : FileIdentity{};
        if (!PublishFile(song.strPath, paths[k], seen)) {
            run.Fail("cannot name " + song.strPath + " " + paths[k] + ": " + std::strerror(errno));
            return kExitFailed;
        }
        song.strPath = paths[k];
    }
    return kExitOk;
}

}  // namespace

int SplitBySongCount(CSplitRun& run) {
    if (run.m_info.bStream) {
        return run.Fail("--songs reads " + run.m_strName + " twice; give a file, not a stream");
    }
    const int wanted = run.m_options.nSongs;
    CSignalAnalyzer analyser = run.m_params;
    run.SetFormat(analyser);
    analyser.PrepareRecording();
    const int64_t perSecond = run.DetectorSamplesPerSecond();
    const bool int16 = run.m_info.format.wBitsPerSample == 16;
    CDetectorView view(analyser, perSecond, int16, true);
    analyser.SetObserver(&view);
    const bool read = run.AnalysePass(analyser, run.m_info.nDataBytes);
    analyser.SetObserver(nullptr);
    if (!read) return run.Interrupted() ? kExitSignal + run.m_pInterrupt->load() : kExitFailed;
    view.Finish();

    // A stretch is cut where a person would: in the middle of its quietest Gap-Size-long
    // window (of equally quiet ones, the one in the middle), not where the live rule would (Gap
    // Size into it: in a coda that runs into the gap, before the song has ended).
    const int64_t gapSize = view.GetGapSamples();
    const int64_t minSong = view.GetMinSongSamples();
    const std::vector<float>& grid = view.GetGrid();
    const int64_t cell = view.GetGridSamples();
    auto cutSample = [&](const QuietStretch& s) {
        return QuietestCut(grid, cell, gapSize, s.nStart, s.nLength);
    };
    // The silence that runs to the end of the side is its run-out, no gap between songs; and
    // every song, the first and the last too, lasts at least Minimum Song Size.
    std::vector<QuietStretch> candidates;
    for (const QuietStretch& s : view.GetGaps()) {
        const bool runOut = s.nStart + s.nLength >= view.GetSamples();
        if (!runOut && cutSample(s) >= minSong && cutSample(s) <= view.GetSamples() - minSong) {
            candidates.push_back(s);
        }
    }
    std::vector<QuietStretch> ranked = candidates;
    std::stable_sort(ranked.begin(), ranked.end(),
                     [](const QuietStretch& a, const QuietStretch& b) {
                         if (a.nLength != b.nLength) return a.nLength > b.nLength;
                         return a.fLoudest < b.fLoudest;
                     });
    std::vector<int64_t> cuts;
    // A track list's times place the cuts they reach (where no gap may reach Gap Size: songs
    // that run into each other); the longest gaps give the rest.
    const std::vector<int>& seconds = run.m_titleSeconds;
    if (static_cast<int>(seconds.size()) == wanted &&
        std::any_of(seconds.begin(), seconds.end(), [](int s) { return s > 0; })) {
        std::vector<int64_t> lengths;
        for (int s : seconds) lengths.push_back(s > 0 ? s * perSecond : -1);
        int64_t musicEnd = view.GetSamples();
        for (const QuietStretch& s : view.GetGaps()) {
            if (s.nStart + s.nLength >= view.GetSamples()) musicEnd = s.nStart;
        }
        // Sleeves round to the second and are often a few seconds off.
        const int64_t radius = kSleeveErrorSeconds * perSecond;
        int64_t expectedFrom = 0;
        const int64_t window = SleeveCutWindow(gapSize, perSecond);
        const std::vector<int64_t> placed =
            CutsByTimes(grid, cell, window, 0, musicEnd, lengths, radius);
        for (size_t k = 0; k < placed.size(); ++k) {
            if (placed[k] < 0) continue;
            cuts.push_back(placed[k]);
            if (lengths[k] > 0 && (k == 0 || placed[k - 1] >= 0)) {
                run.Note() << "vellisto-split: notice: song " << k + 1 << " ends at "
                           << run.SampleTime(placed[k]) << ", "
                           << Number((placed[k] - expectedFrom - lengths[k]) / double(perSecond),
                                     "%+.1f")
                           << " s from its time on the track list\n";
            }
            expectedFrom = placed[k];
        }
    }
    for (const QuietStretch& s : ranked) {
        if (static_cast<int>(cuts.size()) >= wanted - 1) break;
        const int64_t c = cutSample(s);
        bool apart = true;
        for (int64_t other : cuts) apart = apart && std::llabs(c - other) >= minSong;
        if (apart) cuts.push_back(c);
    }
    std::sort(cuts.begin(), cuts.end());
    if (static_cast<int>(cuts.size()) < wanted - 1) {
        // Every stretch that could have been a gap is listed with what became of it, so that
        // none is counted as a gap that was not cut, and the reasons below concern the rest.
        const std::string minSongText =
            "Minimum Song Size (" + Number(minSong / double(perSecond), "%.2f") + " s)";
        run.Note() << "vellisto-split: notice: " << run.m_strName << " has " << cuts.size()
                   << (cuts.size() == 1 ? " gap" : " gaps") << " for " << wanted
                   << " songs; the stretches of at least Gap Size at or below Gap Level"
                   << (view.GetGaps().empty() ? ": none" : ":") << "\n";
        for (const QuietStretch& s : view.GetGaps()) {
            const int64_t c = cutSample(s);
            std::string what;
            if (std::find(cuts.begin(), cuts.end(), c) != cuts.end()) {
                what = "cut at " + run.SampleTime(c);
            } else if (s.nStart + s.nLength >= view.GetSamples()) {
                what = "the run-out, no gap between songs";
            } else if (c < minSong) {
                what = "not cut: the first song would be shorter than " + minSongText;
            } else if (c > view.GetSamples() - minSong) {
                what = "not cut: the last song would be shorter than " + minSongText;
            } else {
                int64_t nearest = cuts.empty() ? c : cuts.front();
                for (int64_t other : cuts) {
                    if (std::llabs(c - other) < std::llabs(c - nearest)) nearest = other;
                }
                what = "not cut: closer than " + minSongText + " to the cut at " +
                       run.SampleTime(nearest);
            }
            run.Note() << "vellisto-split:   at " << run.SampleTime(s.nStart) << ", "
                       << Number(s.nLength / double(perSecond), "%.2f") << " s, loudest "
                       << Number(view.Decibels(s.fLoudest), "%.1f") << " dB: " << what << "\n";
        }
        run.Explain(view, wanted);
    }
    std::vector<uint64_t> cutBytes;
    // The analyser's rule: the split goes at the start of the frame that holds the sample.
    for (int64_t c : cuts) cutBytes.push_back(run.DetectorSampleByte(c / 2 * 2));

    // The cut pass: the analyser's processing of every block (DC Block), written in pieces.
    const bool list = run.m_options.bList;
    std::string base = run.m_strBasePath;
    if (list) {
        run.m_strScratch = MakeScratchFolder();
        if (run.m_strScratch.empty())
            return run.Fail(std::string("cannot list: ") + std::strerror(errno));
        base = run.m_strScratch + "/" + run.m_strBaseName;
    } else if (!run.CheckOverwrite()) {
        return kExitFailed;
    }
    const CSongFileName names(base);
    CSongOutput output(list ? CSongOutput::Mode::List : CSongOutput::Mode::Write, run.m_info.format,
                       run.m_options.bForce);
    CTerminalWindow window(run.m_err, false);
    CWaveFileWriter writer;
    writer.SetOutput(&output);
    CWavSongEncoder wav(writer, run.m_info.format, kBlockBytes);
    CFlacSongEncoder flac(output, run.m_info.format,
                          [&run](long, const std::string& path) { return run.TagsFor(path, {}); });
    // As the recording thread: a song goes on in the next file before it would pass 4 GiB (a
    // dry run counts WAV bytes).
    CSongFiles files(
        run.Repairing(run.m_options.bFlac && !list ? static_cast<ISongEncoder&>(flac) : wav),
        [&names](long number, char* out, size_t size) {
            return static_cast<size_t>(std::snprintf(out, size, "%s", names.Name(number).c_str())) <
                   size;
        },
        CSongFiles::Overflow::NextFile);
    if (run.m_options.nMaxSongBytes > 0) {
        files.SetMaxSongBytes(std::max<uint64_t>(run.m_options.nMaxSongBytes, kBlockBytes));
    }
    CSignalAnalyzer cutter = run.m_params;
    run.SetFormat(cutter);
    bool failed = false;
    auto shown = [&](bool ok) {
        if (!ok) run.m_bar.Clear();
        return window.Told(ok, files, failed);
    };
    std::unique_ptr<char[]> block(new char[kBlockBytes]);
    cutter.PrepareRecording();
    uint64_t at = 0;
    size_t c = 0;
    bool ok = shown(files.Open(1));
    while (ok && at < run.m_info.nDataBytes) {
        if (run.Interrupted()) break;
        const long n =
            static_cast<long>(std::min<uint64_t>(kBlockBytes, run.m_info.nDataBytes - at));
        if (::pread(run.m_nFd, block.get(), static_cast<size_t>(n),
                    static_cast<off_t>(run.m_info.nDataOffset + at)) != n) {
            run.Fail("Cannot read " + run.m_strName + ": " + std::strerror(errno));
            failed = true;
            break;
        }
        cutter.ProcessBlock(block.get(), n);
        uint64_t done = 0;
        while (ok && c < cutBytes.size() && cutBytes[c] < at + static_cast<uint64_t>(n)) {
            const uint64_t part = cutBytes[c] - at - done;
            ok = shown(files.Write(block.get() + done, part)) && shown(files.Open());
            done += part;
            ++c;
        }
        if (ok) ok = shown(files.Write(block.get() + done, static_cast<uint64_t>(n) - done));
        at += static_cast<uint64_t>(n);
        run.m_bar.Draw(static_cast<double>(at) / static_cast<double>(run.m_info.nDataBytes),
                       std::string(FileNamePart(files.Path())));
    }
    run.m_bar.Clear();
    const std::string lastPath = files.Path();
    shown(files.Finish());
    run.m_nTakenBytes = at;
    const bool interrupted = run.Interrupted();
    if (interrupted)
        run.Fail("interrupted after " + run.Time(at / run.m_info.format.nBlockAlign) +
                 " of the input");
    if (failed || interrupted) run.RemoveUnfinished(output, lastPath);
    run.CollectSongs(output, names, cutBytes);
    if (failed || interrupted) {
        if (!run.m_options.bQuiet && !run.m_songs.empty()) run.PrintSummary();
        return interrupted ? kExitSignal + run.m_pInterrupt->load() : kExitFailed;
    }
    const int named = run.m_titles.empty() ? kExitOk : NameAfterTitles(run);
    const int written = run.WriteSideFiles();
    const int rc = written != kExitOk ? written : named;
    if (list) {
        run.PrintList(nullptr, std::string());
    } else if (!run.m_options.bQuiet) {
        run.PrintSummary();
    }
    return rc;
}
