// The real playback backend: a PortAudio callback stream on the default output. The callback only
// copies whole frames out of a preallocated ring (silence when the ring runs dry) and counts
// them; a feeder thread pulls frames from the source into the ring, so that a source waiting on
// the disk never holds up the device. The position being heard is the frames the callback has
// taken, less the device's delay that PortAudio reports with each buffer, moved on by the clock
// since that buffer.
//
// Lock: m_mutex guards the request (generation, source, range, feeding, started) and every call
// that starts or stops the stream. Taken by the owner's thread (Play, Stop, Close) and the feeder
// (never while it calls the source). The PortAudio callbacks never take it: they see only the
// ring and atomics, so aborting the stream under the lock cannot wait on them.
#include <portaudio.h>
#include <time.h>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <memory>
#include <mutex>
#include <new>
#include <thread>

#include "audio/PortAudioStartUp.h"
#include "audio/playback/PlaybackBackend.h"
#include "audio/playback/PlaybackRing.h"

namespace {

constexpr size_t kFeedPiece = 4096;  // frames pulled from the source at a time

int64_t MonotonicNanoseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
}

std::string ErrorText(PaError error) {
    if (error == paUnanticipatedHostError) {
        const PaHostErrorInfo* host = Pa_GetLastHostErrorInfo();
        if (host && host->errorText && host->errorText[0]) return host->errorText;
    }
    return Pa_GetErrorText(error);
}

class CPortAudioPlayback : public IPlaybackBackend {
public:
    ~CPortAudioPlayback() override { Close(); }

    PlaybackError Open(const WAVEFORMATEX& format) override;
    bool IsOpen() const override { return m_pStream != nullptr; }
    void Close() override;
    PlaybackError Play(PlaybackSource source, uint64_t startFrame, uint64_t endFrame) override;
    void Stop() override;
    uint64_t GetPosition() const override;
    PlaybackState GetState() const override { return m_state.load(std::memory_order_acquire); }
    std::string GetFailure() const override {
        std::lock_guard<std::mutex> lock(m_mutex);
        if (m_szFailure.empty() && GetState() == PlaybackState::Failed) {
            return "The playback device stopped.";
        }
        return m_szFailure;
    }
    void SetEndCallback(std::function<void(PlaybackState)> onEnd) override {
        m_onEnd = std::move(onEnd);
    }

private:
    static int OnBuffer(const void* input, void* output, unsigned long frames,
                        const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags flags,
                        void* self);
    static void OnFinished(void* self);
    void Feed();
    // Stops the stream and the feeding; what was heard stays the position. Under m_mutex.
    void StopLocked();
    // Ends the play as Failed unless it has ended already; true when it did. Under m_mutex.
    bool FailLocked(std::string reason);
    uint64_t HeardNow() const;

    PaStream* m_pStream = nullptr;
    WAVEFORMATEX m_format{};
    CPlaybackRing m_ring;
    std::unique_ptr<unsigned char[]> m_pPiece;  // the feeder's buffer, kFeedPiece frames
    std::thread m_feeder;
    std::function<void(PlaybackState)> m_onEnd;

    mutable std::mutex m_mutex;
    std::condition_variable m_wake;
    bool m_bQuit = false;                      // under m_mutex
    uint64_t m_nGeneration = 0;                // under m_mutex; one per Play or Stop
    std::shared_ptr<PlaybackSource> m_source;  // under m_mutex
    uint64_t m_nNext = 0, m_nEnd = 0;          // under m_mutex: next frame to pull, range end
    bool m_bFeeding = false;                   // under m_mutex
    bool m_bStarted = false;                   // under m_mutex: the stream runs for this Play
    std::string m_szFailure;                   // under m_mutex

    // Shared with the callbacks.
    std::atomic<PlaybackState> m_state{PlaybackState::Idle};
    std::atomic<uint64_t> m_nStart{0};      // the range's first frame
    std::atomic<uint64_t> m_nConsumed{0};   // frames of the range the callback has taken
    std::atomic<bool> m_bCompleted{false};  // the callback ended the stream at the range's end
    std::atomic<uint64_t> m_nTail{0};       // frames of silence played after the range's end
    std::atomic<bool> m_bStopping{false};   // the owner is stopping the stream
    std::atomic<uint64_t> m_nFrozen{0};     // the position while not playing
    // The latest buffer, for the position: frames taken before it, the delay until its first
    // frame is heard (frames) and when it was asked for. Written by the callback under the
    // sequence number (odd while writing); read lock-free.
    std::atomic<uint32_t> m_nSeq{0};
    std::atomic<uint64_t> m_nBufferBase{0};
    std::atomic<int64_t> m_nDelayFrames{0};
    std::atomic<int64_t> m_nBufferTime{0};  // ns, CLOCK_MONOTONIC
    std::atomic<bool> m_bHaveBuffer{false};
    int64_t m_nFallbackDelay = 0;  // frames: the stream's output latency, when the host gives none
};

PlaybackError CPortAudioPlayback::Open(const WAVEFORMATEX& format) {
    Close();
    PaSampleFormat sampleFormat = 0;
    if (format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16) sampleFormat = paInt16;
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32) {
        sampleFormat = paFloat32;
    }
    const unsigned sampleBytes = sampleFormat == paFloat32 ? 4 : 2;
    if (sampleFormat == 0 || format.nChannels < 1 || format.nChannels > 2 ||
        format.nSamplesPerSec == 0 || format.nBlockAlign != format.nChannels * sampleBytes) {
        return {"Sample format not supported"};
    }
    if (!EnsurePortAudio()) return {"The sound system could not be set up."};
    const PaDeviceIndex device = Pa_GetDefaultOutputDevice();
    const PaDeviceInfo* info = device == paNoDevice ? nullptr : Pa_GetDeviceInfo(device);
    if (!info) return {"No playback device was found."};

    // Half a second of frames: the feeder's slack against a slow disk.
    if (!m_ring.Allocate(format.nSamplesPerSec / 2, format.nBlockAlign)) {
        return {"Out of memory"};
    }
    m_pPiece.reset(new (std::nothrow) unsigned char[kFeedPiece * format.nBlockAlign]);
    if (!m_pPiece) return {"Out of memory"};

    PaStreamParameters params{};
    params.device = device;
    params.channelCount = format.nChannels;
    params.sampleFormat = sampleFormat;  // interleaved, as the files hold them
    params.suggestedLatency = info->defaultHighOutputLatency;
    PaStream* stream = nullptr;
    const PaError error =
        Pa_OpenStream(&stream, nullptr, &params, format.nSamplesPerSec,
                      paFramesPerBufferUnspecified, paClipOff | paDitherOff, &OnBuffer, this);
    if (error != paNoError) return {ErrorText(error)};
    Pa_SetStreamFinishedCallback(stream, &OnFinished);
    const PaStreamInfo* streamInfo = Pa_GetStreamInfo(stream);
    m_nFallbackDelay =
        streamInfo ? static_cast<int64_t>(streamInfo->outputLatency * format.nSamplesPerSec) : 0;
    m_pStream = stream;
    m_format = format;
    m_state = PlaybackState::Idle;
    m_nFrozen = 0;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        m_bQuit = false;
        m_szFailure.clear();
    }
    m_feeder = std::thread(&CPortAudioPlayback::Feed, this);
    return {};
}

void CPortAudioPlayback::Close() {
    if (!m_pStream) return;
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StopLocked();
        m_bQuit = true;
    }
    m_wake.notify_all();
    if (m_feeder.joinable()) m_feeder.join();
    Pa_CloseStream(m_pStream);
    m_pStream = nullptr;
}

PlaybackError CPortAudioPlayback::Play(PlaybackSource source, uint64_t startFrame,
                                       uint64_t endFrame) {
    if (!m_pStream) return {"The playback device is not open."};
    auto shared = std::make_shared<PlaybackSource>(std::move(source));
    {
        std::lock_guard<std::mutex> lock(m_mutex);
        StopLocked();
        m_ring.Reset();
        m_source = std::move(shared);
        m_nNext = startFrame;
        m_nEnd = std::max(startFrame, endFrame);
        m_bFeeding = true;
        m_szFailure.clear();
        m_nStart = startFrame;
        m_nFrozen = startFrame;
        m_nConsumed = 0;
        m_bHaveBuffer = false;
        m_bCompleted = false;
        m_nTail = 0;
        m_state.store(PlaybackState::Playing, std::memory_order_release);
    }
    m_wake.notify_all();
    return {};
}

void CPortAudioPlayback::Stop() {
    std::lock_guard<std::mutex> lock(m_mutex);
    StopLocked();
}

void CPortAudioPlayback::StopLocked() {
    ++m_nGeneration;
    m_bFeeding = false;
    m_source.reset();
    const uint64_t heard = HeardNow();
    PlaybackState playing = PlaybackState::Playing;
    if (m_state.compare_exchange_strong(playing, PlaybackState::Idle)) m_nFrozen = heard;
    if (m_bStarted) {
        m_bStopping = true;
        // Abort, not stop: what the device still holds is not played out.
        if (Pa_IsStreamStopped(m_pStream) == 0) Pa_AbortStream(m_pStream);
        m_bStopping = false;
        m_bStarted = false;
    }
}

bool CPortAudioPlayback::FailLocked(std::string reason) {
    m_bFeeding = false;
    m_source.reset();
    const uint64_t heard = HeardNow();
    PlaybackState playing = PlaybackState::Playing;
    if (!m_state.compare_exchange_strong(playing, PlaybackState::Failed)) return false;
    m_nFrozen = heard;
    m_szFailure = std::move(reason);
    return true;
}

// The feeder thread: pulls the range from the source into the ring, and starts the stream once
// the ring is half full (or the range is all in).
void CPortAudioPlayback::Feed() {
    std::unique_lock<std::mutex> lock(m_mutex);
    while (!m_bQuit) {
        const size_t writable = m_ring.Writable();
        if (!m_bFeeding || writable == 0) {
            // The callback does not signal: it must not touch the mutex. A full ring is looked
            // at again in a small part of the time it takes to play.
            if (m_bFeeding) {
                m_wake.wait_for(lock, std::chrono::milliseconds(10));
            } else {
                m_wake.wait(lock);
            }
            continue;
        }
        const uint64_t generation = m_nGeneration;
        const std::shared_ptr<PlaybackSource> source = m_source;
        const uint64_t first = m_nNext;
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>({uint64_t{kFeedPiece}, uint64_t{writable}, m_nEnd - first}));
        lock.unlock();
        const size_t got = want == 0 ? 0 : std::min(want, (*source)(first, want, m_pPiece.get()));
        lock.lock();
        if (generation != m_nGeneration) continue;  // stopped or replaced meanwhile
        m_ring.Write(m_pPiece.get(), got);
        m_nNext = first + got;
        if (got < want || m_nNext == m_nEnd) {
            m_ring.MarkEnd();
            m_bFeeding = false;
            m_source.reset();
        }
        if (!m_bStarted && (!m_bFeeding || m_ring.Readable() >= m_ring.Capacity() / 2)) {
            const PaError error = Pa_StartStream(m_pStream);
            if (error != paNoError) {
                if (FailLocked(ErrorText(error)) && m_onEnd) {
                    lock.unlock();
                    m_onEnd(PlaybackState::Failed);
                    lock.lock();
                }
                continue;
            }
            m_bStarted = true;
        }
    }
}

int CPortAudioPlayback::OnBuffer(const void*, void* output, unsigned long frames,
                                 const PaStreamCallbackTimeInfo* time, PaStreamCallbackFlags,
                                 void* self) {
    auto* me = static_cast<CPortAudioPlayback*>(self);
    const uint64_t base = me->m_nConsumed.load(std::memory_order_relaxed);
    const size_t got = me->m_ring.Read(output, frames);
    const uint32_t frameBytes = me->m_format.nBlockAlign;
    std::memset(static_cast<unsigned char*>(output) + got * frameBytes, 0,
                (frames - got) * frameBytes);

    int64_t delay = me->m_nFallbackDelay;
    // Hosts that keep no time give zeros; a first buffer into an empty device is heard at once.
    if (time && time->outputBufferDacTime > 0 && time->outputBufferDacTime >= time->currentTime &&
        time->outputBufferDacTime - time->currentTime < 2.0) {
        delay = static_cast<int64_t>((time->outputBufferDacTime - time->currentTime) *
                                     me->m_format.nSamplesPerSec);
    }
    const uint32_t seq = me->m_nSeq.load(std::memory_order_relaxed);
    me->m_nSeq.store(seq + 1, std::memory_order_relaxed);
    std::atomic_thread_fence(std::memory_order_release);
    me->m_nBufferBase.store(base, std::memory_order_relaxed);
    me->m_nDelayFrames.store(delay, std::memory_order_relaxed);
    me->m_nBufferTime.store(MonotonicNanoseconds(), std::memory_order_relaxed);
    me->m_nSeq.store(seq + 2, std::memory_order_release);
    me->m_bHaveBuffer.store(true, std::memory_order_release);
    me->m_nConsumed.store(base + got, std::memory_order_release);

    if (me->m_ring.Drained()) {
        // Completing at once would lose the last frames on some devices (the ALSA pulse plugin
        // drops about 30 ms): silence first, as long as the device's delay and then some.
        const uint64_t tail = me->m_nTail.load(std::memory_order_relaxed) + (frames - got);
        me->m_nTail.store(tail, std::memory_order_relaxed);
        if (tail >= static_cast<uint64_t>(std::max<int64_t>(delay, 0)) + frames +
                        me->m_format.nSamplesPerSec / 50) {
            me->m_bCompleted.store(true, std::memory_order_release);
            return paComplete;  // PortAudio plays what it holds, then calls OnFinished
        }
    }
    return paContinue;
}

void CPortAudioPlayback::OnFinished(void* self) {
    auto* me = static_cast<CPortAudioPlayback*>(self);
    // Never takes m_mutex: the owner may be aborting the stream under it, waiting for this.
    if (me->m_bStopping.load(std::memory_order_acquire)) return;
    const uint64_t heard = me->m_nStart.load() + me->m_nConsumed.load(std::memory_order_acquire);
    const PlaybackState state = me->m_bCompleted.load(std::memory_order_acquire)
                                    ? PlaybackState::Ended
                                    : PlaybackState::Failed;
    PlaybackState playing = PlaybackState::Playing;
    if (!me->m_state.compare_exchange_strong(playing, state)) return;  // stopped meanwhile
    me->m_nFrozen = heard;
    if (me->m_onEnd) me->m_onEnd(state);
}

uint64_t CPortAudioPlayback::HeardNow() const {
    const uint64_t start = m_nStart.load(std::memory_order_relaxed);
    if (!m_bHaveBuffer.load(std::memory_order_acquire)) return start;
    uint64_t base;
    int64_t delay, at;
    for (;;) {
        const uint32_t before = m_nSeq.load(std::memory_order_acquire);
        base = m_nBufferBase.load(std::memory_order_relaxed);
        delay = m_nDelayFrames.load(std::memory_order_relaxed);
        at = m_nBufferTime.load(std::memory_order_relaxed);
        std::atomic_thread_fence(std::memory_order_acquire);
        if ((before & 1) == 0 && m_nSeq.load(std::memory_order_relaxed) == before) break;
    }
    const int64_t elapsed = (MonotonicNanoseconds() - at) * m_format.nSamplesPerSec / 1000000000;
    const int64_t heard = static_cast<int64_t>(base) - delay + elapsed;
    const uint64_t consumed = m_nConsumed.load(std::memory_order_acquire);
    return start + static_cast<uint64_t>(std::clamp<int64_t>(heard, 0, consumed));
}

uint64_t CPortAudioPlayback::GetPosition() const {
    if (m_state.load(std::memory_order_acquire) != PlaybackState::Playing) return m_nFrozen.load();
    return HeardNow();
}

}  // namespace

std::unique_ptr<IPlaybackBackend> MakePortAudioPlayback() {
    return std::make_unique<CPortAudioPlayback>();
}
