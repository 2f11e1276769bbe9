// A playback backend for tests of anything that listens: it plays exactly as far as the test
// pulls it, on the test's own thread, so what was heard, the position and the end are
// deterministic. It keeps the bytes it played, can refuse Open or Play with a given reason, and
// can fail in the middle of a range as a device that goes away.
//
// API (test thread, which also acts as the output device):
//   CTestPlaybackBackend backend;
//   RefuseOpen("Invalid sample rate")   the next Opens fail with this reason (empty: they work)
//   Pull(frames)                        plays up to `frames` more frames of the current range:
//                                       pulls them from the source, moves the position on, and
//                                       at the range's end (or the source's) sets Ended and
//                                       calls the end callback; returns the frames played
//   PullToEnd()                         pulls until the range ends
//   FailNow("Device unavailable")       the output fails while playing: Failed, end callback
//   Heard()                             the bytes played since the last Play
//   GetOpenedFormat(), PlayCount()      what the last Open asked for; Plays so far
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "audio/playback/PlaybackBackend.h"

class CTestPlaybackBackend : public IPlaybackBackend {
public:
    PlaybackError Open(const WAVEFORMATEX& format) override;
    bool IsOpen() const override { return m_bOpen; }
    void Close() override;
    PlaybackError Play(PlaybackSource source, uint64_t startFrame, uint64_t endFrame) override;
    void Stop() override;
    uint64_t GetPosition() const override { return m_nPosition.load(); }
    PlaybackState GetState() const override { return m_state.load(); }
    std::string GetFailure() const override { return m_szFailure; }
    void SetEndCallback(std::function<void(PlaybackState)> onEnd) override {
        m_onEnd = std::move(onEnd);
    }

    void RefuseOpen(std::string reason) { m_szRefusal = std::move(reason); }
    size_t Pull(size_t frames);
    size_t PullToEnd();
    void FailNow(std::string reason);

    const std::vector<uint8_t>& Heard() const { return m_heard; }
    WAVEFORMATEX GetOpenedFormat() const { return m_format; }
    int PlayCount() const { return m_nPlays; }

private:
    void End(PlaybackState state);

    bool m_bOpen = false;
    std::string m_szRefusal;
    WAVEFORMATEX m_format{};
    PlaybackSource m_source;
    uint64_t m_nEnd = 0;  // the range's last frame + 1
    std::atomic<uint64_t> m_nPosition{0};
    std::atomic<PlaybackState> m_state{PlaybackState::Idle};
    std::string m_szFailure;
    std::function<void(PlaybackState)> m_onEnd;
    std::vector<uint8_t> m_heard;
    int m_nPlays = 0;
};
