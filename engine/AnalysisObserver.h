// An optional view of the gap detector for offline tools (the splitter's listing, probe and
// song-count modes): after each block the analyser tells its observer what the block reported
// and, when asked, the magnitude the gap test compared with the gap level for every sample,
// after Smart Gap's low-pass when it is on. So a tool sees levels exactly as the detector saw
// them, never a re-computation that could drift from it. The recorder attaches none; without
// an observer ProcessBlock runs as it always did.
//
// Called from inside ProcessBlock, on its thread.
#pragma once

struct AnalysedBlock {
    // Samples as the detector counts them: interleaved stereo samples, two per frame, so a
    // mono sample counts twice (and its level appears twice).
    long nSamples = 0;
    long nBytes = 0;                 // bytes of the block
    int bGapFound = 0;               // this block reported a split ...
    long nSplitOffset = 0;           // ... at this byte offset into the block
    int bEndGapReached = 0;          // this block reported End Gap
    const float* pLevels = nullptr;  // nSamples detector magnitudes, or null (not asked for)
};

class IAnalysisObserver {
public:
    virtual ~IAnalysisObserver() = default;
    // Room for the detector magnitudes of a block of `samples` detector samples (in sample
    // units: out of 32768 for 16-bit blocks, out of 1.0 for float), or null for the block's
    // outcome only.
    virtual float* LevelBuffer(long samples) = 0;
    virtual void OnBlockAnalysed(const AnalysedBlock& block) = 0;
};
