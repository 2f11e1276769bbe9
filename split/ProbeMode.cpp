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
#include "split/RunPaths.h"
#include "split/SongOutput.h"
#include "split/SplitModes.h"
#include "split/SplitRun.h"
#include "split/Splitter.h"
#include "split/TerminalWindow.h"
#include "take/CutsFile.h"
#include "take/DetectorView.h"
#include "take/QuietestNear.h"
#include "take/SideLevels.h"
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
// nowhere (the probe speaks for it). Its songs, and the frames it took.
struct Trial {
    std::vector<SplitSong> songs;
    uint64_t nTakenFrames = 0;
};
Trial TrialSplit(CSplitRun& run, const SplitOptions& options, std::ostream& listing) {
    SplitOptions trial = options;
    trial.bProbe = false;
    trial.bList = true;
    trial.bQuiet = true;
    trial.nSongs = 0;
    trial.bGapLevelAuto = trial.bEndGapAuto = false;
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
    return {splitter.GetSongs(), splitter.GetTakenFrames()};
}

// The side measured by one analysis pass over the input; -1 in *exitCode when it was read whole,
// else the run's exit code.
SideLevels MeasureSide(CSplitRun& run, int* exitCode) {
    CSignalAnalyzer analyser = run.m_params;
    run.SetFormat(analyser);
    analyser.PrepareRecording();
    const int64_t perSecond = run.DetectorSamplesPerSecond();
    const bool int16 = run.m_info.format.wBitsPerSample == 16;
    CDetectorView view(analyser, perSecond, int16, true);
    analyser.SetObserver(&view);
    const bool read = run.AnalysePass(analyser, run.m_info.nDataBytes);
    analyser.SetObserver(nullptr);
    *exitCode = -1;
    if (!read) {
        *exitCode = run.Interrupted() ? kExitSignal + run.m_pInterrupt->load() : kExitFailed;
        return {};
    }
    view.Finish();
    return MeasureLevels(view, perSecond, int16);
}

// What is wrong with a trial's split at Gap Level db.
SplitFaults CheckSplit(CSplitRun& run, const SideLevels& side, const Trial& trial, double db) {
    const int64_t perFrame = run.DetectorSamplesPerSecond() / run.m_info.format.nSamplesPerSec;
    std::vector<int64_t> cuts;
    for (size_t k = 1; k < trial.songs.size(); ++k) {
        cuts.push_back(static_cast<int64_t>(trial.songs[k].nStartFrame) * perFrame);
    }
    return CheckCuts(side, cuts, static_cast<int64_t>(trial.nTakenFrames) * perFrame, db);
}

// What is wrong with a trial, in a line each; "" when nothing is.
std::string DescribeFaults(CSplitRun& run, const SplitFaults& faults) {
    std::string text;
    if (faults.bEndsEarly) {
        text += "  End Gap ends the side at " + run.SampleTime(faults.nEndedAt) +
                ", before sound that goes on to " + run.SampleTime(faults.nSoundUntil) + "\n";
    }
    if (!faults.cutsInMusic.empty()) {
        const size_t n = faults.cutsInMusic.size();
        text += "  " + std::to_string(n) + (n == 1 ? " cut falls" : " cuts fall") +
                " in a passage louder than the gaps between songs (at";
        for (size_t k = 0; k < n && k < 8; ++k) {
            text += (k ? ", " : " ") + run.SampleTime(faults.cutsInMusic[k]);
        }
        text += n > 8 ? ", ...)\n" : ")\n";
    }
    return text;
}

}  // namespace

// The noise floor as the detector sees it and a Gap Level between it and the quietest passages
// inside songs, tried on the side; settings are endorsed only when their split holds up.
int ProbeSide(CSplitRun& run) {
    if (run.m_info.bStream)
        return run.Fail("--probe reads " + run.m_strName + " first; give a file, not a stream");
    int rc = -1;
    const SideLevels side = MeasureSide(run, &rc);
    if (rc >= 0) return rc;
    run.m_out << run.m_strName << ": levels as the gap detector sees them (Smart Gap "
              << (run.m_params.GetIgnoreClicks() ? "on" : "off") << "), in passages of Gap Size ("
              << Number(side.fGapSeconds, "%.2f") << " s)\n";
    if (side.bTooShort) {
        run.m_out << "  the side is too short to measure\n";
        return kExitOk;
    }
    run.m_out << "  lead-in (first " << Number(side.fGapSeconds, "%.2f")
              << " s): " << Number(side.fLeadIn, "%.1f") << " dB\n";
    // The settings given, endorsed only when their split holds up against the measures.
    std::ostringstream givenListing;
    const Trial given = TrialSplit(run, run.m_options, givenListing);
    const std::vector<SplitSong>& givenSongs = given.songs;
    const std::string givenFaults =
        DescribeFaults(run, CheckSplit(run, side, given, run.m_params.GetGapLevel()));
    auto endorseGiven = [&](size_t wanted) {
        if (givenSongs.size() < 2 || (wanted > 0 && givenSongs.size() != wanted) ||
            !givenFaults.empty()) {
            return false;
        }
        run.m_out << "  the settings given already split the side into " << givenSongs.size()
                  << " songs:\n"
                  << givenListing.str() << "  " << ProbeCommand(run, std::nullopt, std::nullopt)
                  << "\n";
        return true;
    };
    if (!side.bGapsFound) {
        // A clean side may have no quiet passages to compare: its songs may be split already.
        if (endorseGiven(0)) return kExitOk;
        run.m_out << "  no gaps between songs that a level can find: the quiet passages lie within "
                  << Number(side.fWidest, "%.1f") << " dB of each other\n";
        if (!givenFaults.empty()) run.m_out << "  with the settings given:\n" << givenFaults;
        run.m_out << "  give the number of songs instead (--songs N), or a track list with the "
                     "sleeve's times (--names FILE), which place the cuts without gaps\n";
        run.m_out.flush();
        return kExitOk;
    }
    run.m_out << "  noise floor in the quietest stretches: " << Number(side.fFloorLow, "%.1f")
              << " to " << Number(side.fFloorTop, "%.1f") << " dB (at";
    for (size_t k = 0; k < side.floorAt.size() && k < 8; ++k) {
        run.m_out << (k ? ", " : " ") << run.SampleTime(side.floorAt[k]);
    }
    run.m_out << (side.floorAt.size() > 8 ? ", ...)\n" : ")\n");
    run.m_out << "  quietest passage inside songs: " << Number(side.fSongsQuiet, "%.1f")
              << " dB (at " << run.SampleTime(side.nSongsQuietAt) << ")\n";
    const double suggested = side.fLevel;
    // End Gap must outlast every quiet stretch before the run-out at that level.
    const double longestSeconds = side.LongestQuiet(suggested);
    run.m_out << "  suggested Gap Level: " << Number(suggested, "%.1f")
              << " dB, between the floor (" << Number(side.fFloorTop, "%.1f")
              << " dB) and the songs (" << Number(side.fSongsQuiet, "%.1f") << " dB)\n";
    std::optional<double> endGap;
    bool tooLong = false;
    if (longestSeconds >= run.m_params.GetEndGap()) {
        endGap = EndGapFor(longestSeconds, &tooLong);
        run.m_out << "  suggested End Gap: " << Number(*endGap)
                  << " s, longer than the longest quiet "
                  << "stretch before the run-out, the lead-in included ("
                  << Number(longestSeconds, "%.1f") << " s)"
                  << (tooLong ? "; End Gap holds at most 30 s" : "") << "\n";
    }
    // The suggestion, tried as --list would.
    SplitOptions trial = run.m_options;
    trial.fGapLevel = suggested;
    trial.bGapLevelGiven = true;
    if (endGap) {
        trial.fEndGap = *endGap;
        trial.bEndGapGiven = true;
    }
    std::ostringstream listing;
    const Trial tried = TrialSplit(run, trial, listing);
    const std::vector<SplitSong>& found = tried.songs;
    // A clean side: the settings given may split it as well already.
    if (found.size() >= 2 && endorseGiven(found.size())) {
        run.m_out.flush();
        return kExitOk;
    }
    if (!givenFaults.empty()) run.m_out << "  with the settings given:\n" << givenFaults;
    run.m_out << "  at that level the side splits into " << found.size()
              << (found.size() == 1 ? " song" : " songs") << ":\n"
              << listing.str() << "  " << ProbeCommand(run, suggested, endGap) << "\n";
    const std::string faults = DescribeFaults(run, CheckSplit(run, side, tried, suggested));
    if (!faults.empty()) {
        // Only an End Gap past its scale leaves one: the songs are told to come by count.
        run.m_out << faults << "  End Gap cannot outlast it: give the number of songs instead "
                  << "(--songs N), which End Gap does not end\n";
    }
    run.m_out.flush();
    return kExitOk;
}

int ChooseAutoLevels(CSplitRun& run) {
    SplitOptions& o = run.m_options;
    if (!o.bGapLevelAuto && !o.bEndGapAuto) return -1;
    const std::string which = o.bGapLevelAuto && o.bEndGapAuto
                                  ? "--gap-level auto and --end-gap auto"
                              : o.bGapLevelAuto ? "--gap-level auto"
                                                : "--end-gap auto";
    if (run.m_info.bStream) {
        return run.Fail(which + " measure " + run.m_strName +
                        " before splitting it; give a file, not a stream");
    }
    int rc = -1;
    const SideLevels side = MeasureSide(run, &rc);
    if (rc >= 0) return rc;
    std::string same;
    if (o.bGapLevelAuto) {
        if (side.bTooShort || !side.bGapsFound) {
            return run.Fail("--gap-level auto: " + run.m_strName +
                            " has no gaps between songs that a level can find (its quiet "
                            "passages lie within " +
                            Number(side.fWidest, "%.1f") +
                            " dB of each other); give the number of songs (--songs N) or a "
                            "track list with the sleeve's times (--names FILE)");
        }
        o.fGapLevel = side.fLevel;
        o.bGapLevelGiven = true;
        run.Note() << "vellisto-split: notice: --gap-level auto: " << Number(side.fLevel, "%.1f")
                   << " dB, between the gaps' floor (" << Number(side.fFloorTop, "%.1f")
                   << " dB) and the quietest passage inside songs ("
                   << Number(side.fSongsQuiet, "%.1f") << " dB at "
                   << run.SampleTime(side.nSongsQuietAt) << ")\n";
        same += " --gap-level " + Number(side.fLevel, "%.1f");
    }
    if (o.bEndGapAuto) {
        const double level = o.bGapLevelAuto ? side.fLevel : run.m_params.GetGapLevel();
        const double longest = side.LongestQuiet(level);
        bool tooLong = false;
        o.fEndGap = EndGapFor(longest, &tooLong);
        o.bEndGapGiven = true;
        run.Note() << "vellisto-split: notice: --end-gap auto: " << Number(o.fEndGap)
                   << " s, longer than the longest quiet stretch before the run-out, the lead-in "
                      "included ("
                   << Number(longest, "%.1f") << " s)"
                   << (tooLong ? "; the side needs more than End Gap's 30 s and may end early: "
                                 "--songs N does not end it"
                               : "")
                   << "\n";
        same += " --end-gap " + Number(o.fEndGap);
    }
    rc = run.SetParameters(run.m_params);
    if (rc >= 0) return rc;
    run.Note() << "vellisto-split: notice: the same split again:" << same << "\n";
    return -1;
}
