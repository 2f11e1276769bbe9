// The playback service that the Review window listens through: one output opened for a take's
// sample format, which plays a range of frames pulled from a source function, tells which frame
// is being heard, stops at once and says when it reached the end of the range. Backends:
// PortAudio's default output (the real one; its callback only copies from a ring that a feeder
// thread fills from the source) and a test backend that plays exactly as far as the test pulls
// it. No Qt: a window learns of the end by polling GetState or through the end callback, which it
// turns into a queued call.
//
// Thread rules: Open, Close, Play and Stop are called by the owner's thread (the window thread).
// GetPosition and GetState never block and may be called from any thread. The source function and
// the end callback are called on the backend's own thread (the PortAudio feeder, or for the test
// backend the thread that pulls).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "audio/WaveFormat.h"

// Fills dst with up to `count` frames starting at frame `first`, in the opened format
// (interleaved); returns the frames given. Fewer than asked means the source has ended there
// (the end of the file, or a read that failed). May block on a disk.
using PlaybackSource = std::function<size_t(uint64_t first, size_t count, void* dst)>;

// What an operation refused, in the system's words ("Invalid sample rate", "Device unavailable");
// empty when it worked.
struct PlaybackError {
    std::string text;
    explicit operator bool() const { return !text.empty(); }
};

enum class PlaybackState {
    Idle,     // nothing played since Open, or stopped by Stop
    Playing,  // a range is playing (including the wait for its first frames)
    Ended,    // the last frame of the range (or of a source that ended early) has been heard
    Failed,   // the output failed while playing; GetFailure says why
};

class IPlaybackBackend {
public:
    virtual ~IPlaybackBackend() = default;

    // Opens the output for 16-bit PCM or 32-bit float samples, 1 or 2 channels, at the format's
    // rate. A format the device does not take, or a device that cannot be opened, gives the
    // reason and leaves the backend closed. Opening again closes first.
    virtual PlaybackError Open(const WAVEFORMATEX& format) = 0;
    virtual bool IsOpen() const = 0;
    // Stops and releases the device; harmless when closed. Waits for a source call in progress.
    virtual void Close() = 0;

    // Plays frames [startFrame, endFrame) of source, stopping what was playing first. The
    // position starts at startFrame. An empty range ends at once. Refused when closed.
    virtual PlaybackError Play(PlaybackSource source, uint64_t startFrame, uint64_t endFrame) = 0;
    // Stops at once: the state becomes Idle, the position stays where it was heard last, and the
    // end callback is not called. Never waits for the source.
    virtual void Stop() = 0;

    // The frame being heard now, in the source's numbering (startFrame when nothing is heard
    // yet; after the end, the range's last frame + 1 or where the source ended). Any thread.
    virtual uint64_t GetPosition() const = 0;
    virtual PlaybackState GetState() const = 0;  // any thread
    // Why the state is Failed. Owner thread.
    virtual std::string GetFailure() const = 0;

    // Called once per Play when it ends by itself (Ended or Failed), never after Stop, on the
    // backend's thread, which may be the device's own: it must not call into the backend or wait
    // for the owner's thread (post a message instead). Set while nothing plays.
    virtual void SetEndCallback(std::function<void(PlaybackState)> onEnd) = 0;
};

// PortAudio's default output device.
std::unique_ptr<IPlaybackBackend> MakePortAudioPlayback();
