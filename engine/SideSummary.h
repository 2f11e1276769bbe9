// What a finished side left on disk, for the fronts that tell the user about it afterwards:
// the window's end-of-side summary and the desktop notification. Made once from the recording
// control's report, so that both say the same. Plain values; any thread that may allocate.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "engine/RecordingOutcome.h"

struct SideSummary {
    // The song files kept, in number order: not the trailing file of silence that was deleted,
    // nor a file deleted by someone else during the recording.
    std::vector<SongFileRecord> files;
    std::string strFolder;  // the folder of the song files ("" without files)
    uint32_t nRate = 0;     // frames per second of the files
    int64_t nClippedTotal = 0;
    // Lost audio: frames, overruns of unknown length and the files (names as shown) it is
    // missing from.
    uint64_t nLostFrames = 0;
    uint64_t nOverflows = 0;
    std::vector<std::string> lostIn;
    bool bLostInMore = false;
    bool bAudioLost = false;
    // Ended by the device, the disk or a file, not by Stop or End Gap.
    bool bFailed = false;
};

SideSummary SummarizeSide(const RecordingReport& report);
