// The splitter's probe (--probe): an analysis pass measures the noise floor and the gaps and
// suggests settings, tried on the side before they are recommended.
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
#include "split/DetectorView.h"
#include "split/RunPaths.h"
#include "split/SongOutput.h"
#include "split/SplitModes.h"
#include "split/SplitRun.h"
#include "split/Splitter.h"
#include "split/TerminalWindow.h"
#include "take/CutsFile.h"
#include "take/QuietestNear.h"
#include "take/SongNames.h"
#include "take/TrackList.h"

namespace fs = std::filesystem;

namespace {

// The command line of a probe's suggestion: the options it ran with (the levels depend on
// them) and the level and End Gap it suggests.
std::string ProbeCommand(CSplitRun& run, std::optional<double> level,
                         std::optional<double> endGap) {
    const SplitOptions& o = run.m_options;
    std::string command = "vellisto-split";
    if (!o.strPreset.empty()) command += " --preset " + ShellQuote(o.strPreset);
    if (!o.strPresetsFile.empty()) command += " --presets " + ShellQuote(o.strPresetsFile);
    if (o.bGapSizeGiven) command += " --gap-size " + Number(o.fGapSize);
    if (level) {
        command += " --gap-level " + Number(*level, "%.1f");
    } else if (o.bGapLevelGiven) {
        command += " --gap-level " + Number(o.fGapLevel);
    }
    if (o.bMinSongSizeGiven) command += " --min-song " + Number(o.fMinSongSize);
    if (endGap) {
        command += " --end-gap " + Number(*endGap);
    } else if (o.bEndGapGiven) {
        command += " --end-gap " + Number(o.fEndGap);
    }
    if (o.bDCBlockGiven) command += std::string(" --dc-block ") + (o.bDCBlock ? "on" : "off");
    if (o.bSmartGapGiven) command += std::string(" --smart-gap ") + (o.bSmartGap ? "on" : "off");
    return command + " " + ShellQuote(run.m_options.strInput);
}

// A dry run of the input with other options: its song rows go to `listing`, its notices
// nowhere (the probe speaks for it). The number of songs.
size_t TrialSplit(CSplitRun& run, const SplitOptions& options, std::ostream& listing) {
    SplitOptions trial = options;
    trial.bProbe = false;
    trial.bList = true;
    trial.bQuiet = true;
    trial.nSongs = 0;
    trial.strLabels.clear();
    trial.strCue.clear();
    std::ostringstream out, err;
    CSplitter splitter(trial, out, err, false, run.m_pInterrupt);
    splitter.Run();
    // The song rows of the listing, without its heading and its gaps.
    std::istringstream rows(out.str());
    std::string line;
    bool songRows = false;
    while (std::getline(rows, line)) {
        if (line.rfind("  song ", 0) == 0) {
            songRows = true;
        } else if (line.rfind("  gap ", 0) == 0 || line.rfind("  End Gap", 0) == 0) {
            songRows = false;
        }
        if (songRows || line.rfind("  End Gap", 0) == 0) listing << line << "\n";
    }
    return splitter.GetSongs().size();
}

}  // namespace

// The noise floor as the detector sees it and a Gap Level between it and the quietest passages
// inside songs. The quiet passages are the quietest Gap-Size-long passage of every stretch of
// half a Minimum Song Size (no two songs' gaps are nearer); they fall into the gaps' floor and
// the songs' quiet moments, told apart by the largest step between their sorted levels.
int ProbeSide(CSplitRun& run) {
    if (run.m_info.bStream)
        return run.Fail("--probe reads " + run.m_strName + " first; give a file, not a stream");
    CSignalAnalyzer analyser = run.m_params;
    run.SetFormat(analyser);
    analyser.PrepareRecording();
    const int64_t perSecond = run.DetectorSamplesPerSecond();
    CDetectorView view(analyser, perSecond, run.m_info.format.wBitsPerSample == 16, true);
    analyser.SetObserver(&view);
    const bool read = run.AnalysePass(analyser, run.m_info.nDataBytes);
    analyser.SetObserver(nullptr);
    if (!read) return run.Interrupted() ? kExitSignal + run.m_pInterrupt->load() : kExitFailed;
    view.Finish();

    const std::vector<float>& grid = view.GetGrid();
    const int64_t cell = view.GetGridSamples();
    const int64_t gapSize = view.GetGapSamples();
    const int64_t width = std::max<int64_t>(1, (gapSize + cell - 1) / cell);
    const int64_t cells = static_cast<int64_t>(grid.size());
    const double seconds = double(cell) / double(perSecond);
    auto db = [&](float level) { return view.Decibels(level); };
    run.m_out << run.m_strName << ": levels as the gap detector sees them (Smart Gap "
              << (analyser.GetIgnoreClicks() ? "on" : "off") << "), in passages of Gap Size ("
              << Number(gapSize / double(perSecond), "%.2f") << " s)\n";
    if (cells < width + 2) {
        run.m_out << "  the side is too short to measure\n";
        return kExitOk;
    }
    // Loudest level of every Gap-Size-long passage on the grid.
    std::vector<float> passage(static_cast<size_t>(cells - width + 1));
    for (size_t k = 0; k < passage.size(); ++k) {
        passage[k] = *std::max_element(grid.begin() + static_cast<long>(k),
                                       grid.begin() + static_cast<long>(k) + width);
    }
    const int64_t n = static_cast<int64_t>(passage.size());
    const int64_t radius = std::max<int64_t>(width, view.GetMinSongSamples() / 2 / cell);
    struct Valley {
        int64_t k;
        double level;
    };
    std::vector<Valley> valleys;
    for (int64_t k = 0; k < n; ++k) {
        const int64_t from = std::max<int64_t>(0, k - radius), to = std::min(n - 1, k + radius);
        bool lowest = true;
        for (int64_t j = from; j <= to && lowest; ++j) {
            lowest = passage[j] > passage[k] || (passage[j] == passage[k] && j >= k);
        }
        if (lowest) valleys.push_back({k, db(passage[k])});
    }
    run.m_out << "  lead-in (first " << Number(width * seconds, "%.2f")
              << " s): " << Number(db(passage[0]), "%.1f") << " dB\n";
    // The first and the last are the lead-in and the run-out: they end no song.
    std::vector<Valley> inner;
    for (const Valley& v : valleys) {
        if (v.k != valleys.front().k && v.k != valleys.back().k) inner.push_back(v);
    }
    std::vector<Valley> sorted = inner;
    std::sort(sorted.begin(), sorted.end(),
              [](const Valley& a, const Valley& b) { return a.level < b.level; });
    // The gaps' floor reaches up from the quietest; the first clear step above it leads to the
    // songs' quiet moments.
    constexpr double kClearStep = 6.0;  // dB
    size_t step = 0;
    double widest = 0;
    for (size_t k = 0; k + 1 < sorted.size(); ++k) {
        const double rise = sorted[k + 1].level - sorted[k].level;
        widest = std::max(widest, rise);
        if (rise >= kClearStep) {
            step = k + 1;
            break;
        }
    }
    if (step == 0) {
        // A clean side may have no quiet passages to compare: its songs may be split already.
        std::ostringstream listing;
        const size_t songs = TrialSplit(run, run.m_options, listing);
        if (songs >= 2) {
            run.m_out << "  the settings given already split the side into " << songs << " songs:\n"
                      << listing.str() << "  " << ProbeCommand(run, std::nullopt, std::nullopt)
                      << "\n";
        } else {
            run.m_out << "  no clear gaps between songs: the quiet passages lie within "
                      << Number(widest, "%.1f") << " dB of each other\n";
        }
        run.m_out.flush();
        return kExitOk;
    }
    const double floorTop = sorted[step - 1].level;
    const double songs = sorted[step].level;
    std::vector<Valley> gaps(sorted.begin(), sorted.begin() + static_cast<long>(step));
    std::sort(gaps.begin(), gaps.end(), [](const Valley& a, const Valley& b) { return a.k < b.k; });
    run.m_out << "  noise floor in the quietest stretches: " << Number(sorted.front().level, "%.1f")
              << " to " << Number(floorTop, "%.1f") << " dB (at";
    for (size_t k = 0; k < gaps.size() && k < 8; ++k) {
        run.m_out << (k ? ", " : " ") << run.SampleTime(gaps[k].k * cell);
    }
    run.m_out << (gaps.size() > 8 ? ", ...)\n" : ")\n");
    run.m_out << "  quietest passage inside songs: " << Number(songs, "%.1f") << " dB (at "
              << run.SampleTime(sorted[step].k * cell) << ")\n";
    const double suggested = std::round((floorTop + songs) / 2.0 * 10.0) / 10.0;

    // End Gap must outlast every quiet stretch before the run-out at that level.
    const float threshold =
        static_cast<float>(std::pow(10.0, suggested / 20.0) *
                           (run.m_info.format.wBitsPerSample == 16 ? 32768.0 : 1.0));
    int64_t longest = 0, stretch = 0, firstLoud = -1, lastLoud = -1;
    for (int64_t k = 0; k < cells; ++k) {
        if (grid[k] > threshold) {
            if (firstLoud < 0) firstLoud = k;
            lastLoud = k;
        }
    }
    // The lead-in counts: End Gap of it would end the side before the first song.
    for (int64_t k = 0; k <= lastLoud; ++k) {
        stretch = grid[k] <= threshold ? stretch + 1 : 0;
        longest = std::max(longest, stretch);
    }
    const double longestSeconds = longest * seconds;
    run.m_out << "  suggested Gap Level: " << Number(suggested, "%.1f")
              << " dB, between the floor (" << Number(floorTop, "%.1f") << " dB) and the songs ("
              << Number(songs, "%.1f") << " dB)\n";
    std::optional<double> endGap;
    if (longestSeconds >= analyser.GetEndGap()) {
        endGap = std::min(30.0, std::ceil(longestSeconds + 1.0));
        run.m_out << "  suggested End Gap: " << Number(*endGap)
                  << " s, longer than the longest quiet "
                  << "stretch before the run-out, the lead-in included ("
                  << Number(longestSeconds, "%.1f") << " s)"
                  << (longestSeconds + 1.0 > 30.0 ? "; End Gap holds at most 30 s" : "") << "\n";
    }
    // The suggestion, tried as --list would.
    SplitOptions trial = run.m_options;
    trial.fGapLevel = std::round(suggested * 10.0) / 10.0;
    trial.bGapLevelGiven = true;
    if (endGap) {
        trial.fEndGap = *endGap;
        trial.bEndGapGiven = true;
    }
    std::ostringstream listing, given;
    const size_t found = TrialSplit(run, trial, listing);
    // A clean side: the settings given may split it as well already.
    if (found >= 2 && TrialSplit(run, run.m_options, given) == found) {
        run.m_out << "  the settings given already split the side into " << found << " songs:\n"
                  << given.str() << "  " << ProbeCommand(run, std::nullopt, std::nullopt) << "\n";
        run.m_out.flush();
        return kExitOk;
    }
    run.m_out << "  at that level the side splits into " << found
              << (found == 1 ? " song" : " songs") << ":\n"
              << listing.str() << "  " << ProbeCommand(run, suggested, endGap) << "\n";
    run.m_out.flush();
    return kExitOk;
}
