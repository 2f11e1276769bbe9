// One set of recording parameters as the user interface holds them: the four time and level
// parameters as (negative) trackbar positions, the two switches, the sample format and the
// capture device. The main window keeps the current one; every preset stores one.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

class CSignalAnalyzer;

struct RecSettings {
    int32_t nGapSize = -1764;      // -(seconds x 1764)
    int32_t nGapLevel = -582;      // -trunc(32768 x 10^(dB/20))
    int32_t nMinSongSize = -5293;  // -(seconds x 176.4)
    int32_t nEndSize = -1236;      // -(seconds x 176.4)
    int32_t bDCBlock = 1;
    int32_t bIgnoreClicks = 1;  // Smart Gap
    uint32_t nSamplesPerSec = 44100;
    uint16_t wBitsPerSample = 16;  // 16, or 32 for float samples (offered to the user as "24")
    uint16_t wChannels = 2;
    int32_t nWaveInID = -1;  // position in the capture device list, -1 for the system default

    bool operator==(const RecSettings&) const = default;
};

// The fields of RecSettings, in the record's order: what a check or a rejection names.
enum class RecSetting {
    GapSize,
    GapLevel,
    MinSongSize,
    EndSize,
    DCBlock,
    SmartGap,
    SamplesPerSec,
    BitsPerSample,
    Channels,
    WaveInID,
};

// The positions a trackbar of the Custom Settings dialog offers. The lowest position is at the
// top of the (vertical) trackbar and gives the largest value. Ticks and a page are a tenth of
// the span, truncated; the arrow keys move by one position.
struct TrackbarRange {
    int32_t nLowest;   // top
    int32_t nHighest;  // bottom

    constexpr int32_t TickFrequency() const { return (nHighest - nLowest) / 10; }
    constexpr int32_t PageSize() const { return TickFrequency(); }
    static constexpr int32_t kLineSize = 1;
};

inline constexpr TrackbarRange kGapSizeTrackbar{-3880, -353};        // 2.20 to 0.20 secs
inline constexpr TrackbarRange kGapLevelTrackbar{-3276, -1};         // -20.0 to -90.3 dB
inline constexpr TrackbarRange kMinSongSizeTrackbar{-21168, -1764};  // 120 to 10 secs
inline constexpr TrackbarRange kEndSizeTrackbar{-5292, -882};        // 30 to 5 secs

// Told about each position the analyser rejected: which one and the analyser's range message.
using OnRejectedSetting = std::function<void(RecSetting setting, const char* message)>;

// The one way a record reaches an analyser: the setters in the order gap size, gap level,
// minimum song size, end gap, DC Block, Smart Gap, then (ApplySettings only) bits, rate and
// channels. A position outside the range the analyser accepts (a positive gap level from a
// hand-edited file, say) would leave it holding a value that misdetects every gap: after
// onRejected has been told, that field falls back to the default record's, in `settings` and in
// the analyser. The capture device id is the owner's. User-interface thread, never while
// recording.
void ApplySettings(RecSettings& settings, CSignalAnalyzer& analyser,
                   const OnRejectedSetting& onRejected = {});
// The same for the six detection fields only: a file being split brings its own format.
void ApplyDetectionSettings(RecSettings& settings, CSignalAnalyzer& analyser,
                            const OnRejectedSetting& onRejected = {});

// The highest rate a device that records at any rate (a file played as a device) may have:
// far from the 32-bit sample counts the analyser forms from it.
inline constexpr uint32_t kMaxAnyRate = 384000;

// The first field of the sample format that cannot be recorded right, or none. The analyser
// reads 16-bit PCM or 32-bit float samples, in one or two channels; anything else it would
// misread, and no gap would ever be found. The recorder records at 11025, 22050, 44100 or
// 48000 per second; a device that takes any rate (anyRate) at 1 to kMaxAnyRate.
std::optional<RecSetting> FindUnsupportedFormat(const RecSettings& settings, bool anyRate = false);
