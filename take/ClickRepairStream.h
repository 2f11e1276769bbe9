// The click repairer for a song that arrives in pieces: the splitter writing songs as it reads
// the side, the Review window analysing a take song by song, a keep copying a take. A whole song
// never sits in memory: the stream holds back a few seconds, repairs them with enough of the
// music on either side for the repairer to judge them as it would in the whole song, and hands
// on what is final. Each repair is made once, by the stretch it begins in; every other sample
// passes bit for bit. 16-bit PCM and 32-bit float samples are repaired; any other format passes
// through untouched (Supports says which).
//
// One thread at a time; one song at a time (Finish ends it, the next Push begins the next).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "audio/WaveFormat.h"
#include "take/ClickRepair.h"

class CClickRepairStream {
public:
    // Receives count bytes of whole frames that are final; false stops the stream (a failed
    // write), and Push or Finish then return false.
    using Sink = std::function<bool(const void* data, size_t count)>;

    CClickRepairStream(const WAVEFORMATEX& format, ClickSensitivity sensitivity);

    static bool Supports(const WAVEFORMATEX& format);

    // Takes count bytes of the song (whole frames), hands on whatever is final.
    bool Push(const void* data, size_t count, const Sink& out);
    // The song's end: repairs and hands on the rest. The repairs stay readable until the next
    // song's first Push.
    bool Finish(const Sink& out);

    // The current (or just finished) song's repairs, frames counted from its first frame, in
    // order of frame; and the samples they changed.
    const std::vector<ClickRepair>& Repairs() const { return m_repairs; }
    uint64_t SamplesChanged() const { return m_nSamplesChanged; }

private:
    bool Process(bool bLast, const Sink& out);

    WAVEFORMATEX m_format;
    ClickSensitivity m_sensitivity;
    bool m_bSupported = false;
    bool m_bFinished = false;
    size_t m_nFrameBytes = 0;
    // The song's frames from m_nBufferStart on, as they came (unrepaired).
    std::vector<uint8_t> m_buffer;
    uint64_t m_nBufferStart = 0;
    uint64_t m_nDone = 0;  // frames handed on
    std::vector<ClickRepair> m_repairs;
    // Each channel's end of the last repair kept: a click found again by the next stretch, from
    // a little further on, is the same click.
    std::vector<uint64_t> m_reached;
    uint64_t m_nSamplesChanged = 0;
    std::vector<uint8_t> m_window;  // scratch: the stretch being judged
};

// Writes the repaired (bRepaired) or original samples of every repair that overlaps the frames
// [first, first + frames) into bytes, which hold those frames in format (16-bit or float).
// Repairs' frames count in the same frames as first: a keep passes a take's frames, playback a
// song's.
void ApplyRepairsAt(void* bytes, const WAVEFORMATEX& format, uint64_t first, size_t frames,
                    const std::vector<ClickRepair>& repairs, bool bRepaired);
