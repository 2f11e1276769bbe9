// Whether a recorded side's cuts lie where the side's own levels put them: the take read back
// through the gap detector, its quiet passages measured as the splitter's probe measures them,
// and the side split again as a live recording would at the Gap Level and End Gap those
// measures give. The end-of-side summary runs it on a worker thread of its own (it reads the
// whole take); a cancel flag stops it between blocks. Plain values otherwise.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

class CSignalAnalyzer;
class CTakeReader;

struct CutCheck {
    enum class Outcome {
        Agree,      // the measured settings cut the side where it is cut
        Differ,     // they cut it elsewhere: see below
        NoGaps,     // too short to measure
        Failed,     // the take could not be read whole
        Cancelled,  // the cancel flag was raised first
    };
    Outcome eOutcome = Outcome::Failed;
    // The side's quiet passages all lie at its floor (a clean side): the cuts are checked
    // against the floor, no level is measured and no gap is looked for.
    bool bFloorOnly = false;
    double fGapLevel = 0;             // the measured Gap Level, dB
    double fEndGap = 0;               // the measured End Gap, seconds
    std::vector<uint64_t> suggested;  // frames where the measured settings cut the side
    std::vector<uint64_t> inMusic;    // the take's cuts they do not make: in quiet music
    struct Missed {
        uint64_t nFrame = 0;  // where they cut and the take does not
        double fSeconds = 0;  // the quiet stretch there, at the measured level
    };
    std::vector<Missed> missed;
};

// params: the analyser the side was recorded with (its Gap Size, Minimum Song Size, DC Block
// and Smart Gap are used; its level and End Gap are measured). Any thread.
CutCheck CheckTakeCuts(const CTakeReader& reader, const CSignalAnalyzer& params,
                       const std::atomic<bool>& cancel);

// The check told in a line a person understands ("2 cuts fall inside quiet music; 1 gap of
// 4.2 s was not cut"); "" for a check that was cancelled or could not read the take.
std::string CutCheckText(const CutCheck& check);
