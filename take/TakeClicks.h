// The clicks of a whole take, found song by song (a song ends at a cut) through a click repair
// stream, in the take's frames: what the Review window marks, plays both ways and hands to the
// keep. Reads through a CTakeReader, so any thread; the window runs it on a worker.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "take/ClickRepair.h"
#include "take/Take.h"

enum class ClickSearch { Done, Cancelled, ReadFailed };

// Reads the take song by song (songs end at cuts, ascending) through a click repair stream and
// gives every song's repairs in the take's frames, in order of frame and channel. onProgress
// gets the frames read so far and the take's; false stops the search (Cancelled). Any thread.
ClickSearch FindTakeClicks(const CTakeReader& reader, const std::vector<uint64_t>& cuts,
                           ClickSensitivity sensitivity,
                           const std::function<bool(uint64_t done, uint64_t total)>& onProgress,
                           std::vector<ClickRepair>* repairs);
