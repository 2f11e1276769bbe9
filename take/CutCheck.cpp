#include "take/CutCheck.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "engine/ParamScales.h"
#include "engine/SignalAnalyzer.h"
#include "take/DetectorView.h"
#include "take/SideLevels.h"
#include "take/Take.h"

namespace {

// The recording's capture block: where a live split falls within a block depends on nothing
// else, but End Gap is seen a block at a time.
constexpr size_t kBlockBytes = 65536;

// The take through analyser, block by block as the recording went; false when it could not be
// read whole or was cancelled.
bool Pass(const CTakeReader& reader, CSignalAnalyzer& analyser, CDetectorView& view,
          const std::atomic<bool>& cancel) {
    const Take& take = reader.GetTake();
    const size_t frameBytes = std::max<size_t>(1, take.FrameBytes());
    const size_t blockFrames = std::max<size_t>(1, kBlockBytes / frameBytes);
    std::vector<char> block(blockFrames * frameBytes);
    analyser.SetObserver(&view);
    bool whole = true;
    for (uint64_t at = 0; at < take.nFrames;) {
        if (cancel.load(std::memory_order_relaxed)) {
            whole = false;
            break;
        }
        const size_t want = static_cast<size_t>(std::min<uint64_t>(blockFrames, take.nFrames - at));
        const size_t got = reader.ReadFrames(at, want, block.data());
        if (got == 0) {
            whole = false;
            break;
        }
        analyser.ProcessBlock(block.data(), static_cast<long>(got * frameBytes));
        at += got;
    }
    analyser.SetObserver(nullptr);
    view.Finish();
    return whole;
}

void Prepare(CSignalAnalyzer& analyser, const Take& take) {
    analyser.SetBitsPerSample(take.format.wBitsPerSample);
    analyser.SetSamplesPerSec(take.format.nSamplesPerSec);
    analyser.SetChannels(take.format.nChannels);
    analyser.PrepareRecording();
}

}  // namespace

CutCheck CheckTakeCuts(const CTakeReader& reader, const CSignalAnalyzer& params,
                       const std::atomic<bool>& cancel) {
    CutCheck check;
    const Take& take = reader.GetTake();
    const bool int16 = take.format.wBitsPerSample == 16;
    const int64_t perSecond = int64_t{take.format.nSamplesPerSec} * 2;
    // The detector counts two samples a frame whatever the channel count.
    constexpr int64_t kPerFrame = 2;

    CSignalAnalyzer measure = params;
    Prepare(measure, take);
    CDetectorView levels(measure, perSecond, int16, true);
    if (!Pass(reader, measure, levels, cancel)) {
        check.eOutcome = cancel.load() ? CutCheck::Outcome::Cancelled : CutCheck::Outcome::Failed;
        return check;
    }
    const SideLevels side = MeasureLevels(levels, perSecond, int16);
    if (side.bTooShort) {
        check.eOutcome = CutCheck::Outcome::NoGaps;
        return check;
    }
    if (!side.bGapsFound) {
        // No step between gaps and quiet music: the cuts need only lie at the side's floor.
        check.bFloorOnly = true;
        std::vector<int64_t> cuts;
        for (uint64_t cut : take.cuts) cuts.push_back(static_cast<int64_t>(cut) * kPerFrame);
        const SplitFaults faults = CheckCuts(
            side, cuts, static_cast<int64_t>(take.nFrames) * kPerFrame, params.GetGapLevel());
        for (int64_t cut : faults.cutsInMusic)
            check.inMusic.push_back(static_cast<uint64_t>(cut / kPerFrame));
        for (uint64_t cut : take.cuts) {
            if (std::find(check.inMusic.begin(), check.inMusic.end(), cut) == check.inMusic.end()) {
                check.suggested.push_back(cut);
            }
        }
        check.eOutcome =
            check.inMusic.empty() ? CutCheck::Outcome::Agree : CutCheck::Outcome::Differ;
        return check;
    }
    bool tooLong = false;
    check.fGapLevel = side.fLevel;
    check.fEndGap = EndGapFor(side.LongestQuiet(side.fLevel), &tooLong);

    // The side split again at the measured level, as the recording would have split it.
    CSignalAnalyzer again = params;
    again.SetGapLevelPosition(-NearestAcceptedPosition(RecSetting::GapLevel, check.fGapLevel));
    again.SetEndSizePosition(-NearestAcceptedPosition(RecSetting::EndSize, check.fEndGap));
    Prepare(again, take);
    CDetectorView splits(again, perSecond, int16, false);
    if (!Pass(reader, again, splits, cancel)) {
        check.eOutcome = cancel.load() ? CutCheck::Outcome::Cancelled : CutCheck::Outcome::Failed;
        return check;
    }
    // The pieces after the last sound are run-out, as the recorder leaves them out.
    std::vector<uint64_t> cuts;
    for (uint64_t bytes : splits.GetSplitBytes()) cuts.push_back(bytes / take.FrameBytes());
    const size_t runOut = std::min<size_t>(cuts.size(), again.TrailingRunOutPieces());
    cuts.resize(cuts.size() - runOut);
    check.suggested = cuts;

    // A cut agrees with one of the other list within a Gap Size.
    const int64_t near = side.nGapSamples / kPerFrame;
    auto matched = [near](uint64_t cut, const std::vector<uint64_t>& other) {
        return std::any_of(other.begin(), other.end(), [&](uint64_t o) {
            return std::llabs(static_cast<int64_t>(o) - static_cast<int64_t>(cut)) <= near;
        });
    };
    for (uint64_t cut : take.cuts) {
        if (!matched(cut, cuts)) check.inMusic.push_back(cut);
    }
    const float threshold = side.Threshold(side.fLevel);
    for (uint64_t cut : cuts) {
        if (matched(cut, take.cuts)) continue;
        // The quiet stretch the cut lies in, on the measuring grid.
        const int64_t cell = side.nCell;
        int64_t first = static_cast<int64_t>(cut) * kPerFrame / cell;
        int64_t last = first;
        const auto quiet = [&](int64_t k) {
            return k >= 0 && k < static_cast<int64_t>(side.grid.size()) &&
                   side.grid[static_cast<size_t>(k)] <= threshold;
        };
        while (quiet(first - 1)) --first;
        while (quiet(last + 1)) ++last;
        const double seconds =
            static_cast<double>((last - first + 1) * cell) / static_cast<double>(perSecond);
        check.missed.push_back({cut, seconds});
    }
    check.eOutcome = check.inMusic.empty() && check.missed.empty() ? CutCheck::Outcome::Agree
                                                                   : CutCheck::Outcome::Differ;
    return check;
}

std::string CutCheckText(const CutCheck& check) {
    char level[32];
    std::snprintf(level, sizeof level, "%.1f dB", check.fGapLevel);
    switch (check.eOutcome) {
        case CutCheck::Outcome::Agree:
            if (check.bFloorOnly) return "The cuts lie in the side's quietest passages.";
            return std::string("The cuts agree with the side's own levels (Gap Level ") + level +
                   " between its gaps and its quiet music).";
        case CutCheck::Outcome::NoGaps:
            return "The side is too short for its cuts to be checked.";
        case CutCheck::Outcome::Differ:
            break;
        default:
            return "";
    }
    std::string text;
    const size_t in = check.inMusic.size();
    if (in > 0) {
        text = std::to_string(in) + (in == 1 ? " cut falls" : " cuts fall") + " inside quiet music";
    }
    const size_t missed = check.missed.size();
    if (missed > 0) {
        if (!text.empty()) text += "; ";
        text += std::to_string(missed) + (missed == 1 ? " gap of " : " gaps of ");
        for (size_t k = 0; k < missed && k < 4; ++k) {
            char seconds[32];
            std::snprintf(seconds, sizeof seconds, "%.1f", check.missed[k].fSeconds);
            text += (k == 0 ? "" : k + 1 == missed ? " and " : ", ") + std::string(seconds);
        }
        text += missed > 4 ? ", ... s" : " s";
        text += missed == 1 ? " was not cut" : " were not cut";
    }
    if (check.bFloorOnly) return text + ", louder than the side's quietest passages.";
    return text + " (the side's own levels give Gap Level " + level + ").";
}
