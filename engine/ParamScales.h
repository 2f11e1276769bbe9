// The scales between the trackbar positions of RecSettings and the physical values of the
// analyser's parameter block (seconds, dBFS), and the ranges the analyser accepts. The analyser's
// setters and getters convert through these; the splitter uses them to find the position nearest
// to a typed value. Positions are negative; a position is made from a value by truncation toward
// zero, never by rounding. Pure functions, any thread.
//
// `setting` is one of the four positions: GapSize, GapLevel, MinSongSize or EndSize (any other
// is taken as EndSize).
#pragma once

#include <cstdint>

#include "engine/RecSettings.h"

// Positions per second of the gap-size scale.
inline constexpr double kGapSizeScale = 1764.0;
// Positions per second of the minimum-song and end-gap scales: 176.4 as a float (176.399994),
// which is why whole seconds lose a unit (10 s -> -1763).
inline constexpr float kSongScale = 176.4f;
// Full scale of the gap-level position: the amplitude of a 16-bit sample.
inline constexpr double kLevelScale = 32768.0;

// The value position p stands for, rounded to float after each step as the analyser stores it.
// Gap level: position 0 gives -inf, a positive position NaN.
float ValueFromPosition(RecSetting setting, int p);
// The position the analyser's getter gives for value v: the exact product truncated toward zero,
// saturated at the int32 range, NaN giving 0.
int32_t PositionFromValue(RecSetting setting, float v);
// Where a value lies on its scale, as a positive magnitude (minus the position) before any
// rounding or truncation; the nearest position is searched around it.
double PositionMagnitude(RecSetting setting, double value);
// Does the analyser accept v? The bounds are inclusive; NaN is never accepted.
bool IsAcceptedValue(RecSetting setting, float v);
// The analyser's message for a value it does not accept.
const char* RangeMessage(RecSetting setting);
// The position nearest to value that the analyser accepts, as a positive magnitude (minus the
// position), searching a few positions around the nearest one (a bound of the accepted range
// may fall between two positions, and levels below -90.3 dB all lie below position 1). 0 when
// none is near.
int NearestAcceptedPosition(RecSetting setting, double value);
