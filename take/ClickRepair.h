// The click repairer: finds the ticks and clicks of a record's surface in a song's samples and
// puts back what the music most likely was under them. Per channel, an autoregressive model of
// the music is fitted to every stretch of about 46 ms; a click is where that model fails
// backwards just before and forwards from there on, far beyond the error's own robust spread
// (and beyond the neighbouring stretch's model's), and where the music does not stay louder and
// unforeseen after it, as it does after an attack. Its samples, and only they, are mended: where
// the click rings like a resonance struck once (two poles, two free starting samples, cut off
// where it dies) that ringing is fitted and taken away, which keeps
// the music under it; otherwise the samples are replaced by the model's least-squares
// interpolation from both sides. Every other sample is left as it was, bit for bit. The repairs
// are returned with the samples they replaced, so that a window can list them, play either
// version and undo them.
//
// It runs on a finished song (the cuts are decided before, on the unrepaired audio). Plain
// functions without shared state: any thread, one song per call.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// How readily a stretch counts as a click: Gentle leaves anything doubtful alone, Strong also
// takes the faint crackle that Normal lets pass.
enum class ClickSensitivity { Gentle, Normal, Strong };

// One repaired stretch of one channel. Samples are fractions of full scale: a 16-bit sample s is
// s / 32768 (exact in a float), a float sample is itself.
struct ClickRepair {
    uint64_t nFrame = 0;          // the first frame repaired
    uint32_t nLength = 0;         // frames repaired
    int nChannel = 0;             // 0 is the first channel
    std::vector<float> original;  // nLength samples as they were
    std::vector<float> repaired;  // nLength samples as they are now
};

struct ClickRepairResult {
    std::vector<ClickRepair> repairs;  // in order of channel, then frame; never overlapping
    uint64_t nSamplesChanged = 0;      // samples whose value differs from before
};

// Repairs the clicks of interleaved samples in place. frames of `channels` channels at `rate`
// frames per second; the model's order and stretch follow the rate (11,025 to 192,000).
ClickRepairResult RepairClicks(float* samples, size_t frames, int channels, uint32_t rate,
                               ClickSensitivity sensitivity = ClickSensitivity::Normal);
// The same for 16-bit samples: repaired values are rounded and held within the 16-bit range.
ClickRepairResult RepairClicks(int16_t* samples, size_t frames, int channels, uint32_t rate,
                               ClickSensitivity sensitivity = ClickSensitivity::Normal);

// Writes the repairs' repaired samples (bRepaired) or their original samples back into the
// interleaved samples they came from: A/B listening and undo, one repair or all.
void ApplyRepairs(float* samples, int channels, const std::vector<ClickRepair>& repairs,
                  bool bRepaired);
void ApplyRepairs(int16_t* samples, int channels, const std::vector<ClickRepair>& repairs,
                  bool bRepaired);

// The building blocks, for the tests and the bench.

// The coefficients a[1..order] of the predictor x[n] ~ sum a[k] x[n-k] fitted to x[0..n) by the
// autocorrelation method (Hann window, Levinson-Durbin); a[0] is 1. All zero for silence.
std::vector<double> FitPredictor(const float* x, size_t n, int order);

// Replaces x[start, start + length) by the values that make the prediction error of the
// predictor `a` (as FitPredictor returns it) least in the sum of squares over every prediction
// that uses one of them, given the samples of x[0, n) around them. False, and x untouched, when
// the system cannot be solved or its answer is not finite.
bool InterpolateGap(float* x, size_t n, size_t start, size_t length, const std::vector<double>& a);
