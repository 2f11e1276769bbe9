#include "audio/playback/TestPlaybackBackend.h"

#include <algorithm>

namespace {

constexpr size_t kPiece = 4096;  // frames pulled from the source at a time

}  // namespace

PlaybackError CTestPlaybackBackend::Open(const WAVEFORMATEX& format) {
    Close();
    if (!m_szRefusal.empty()) return {m_szRefusal};
    const bool pcm16 = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16;
    const bool float32 = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && format.wBitsPerSample == 32;
    if (!(pcm16 || float32) || format.nChannels < 1 || format.nChannels > 2 ||
        format.nSamplesPerSec == 0) {
        return {"Sample format not supported"};
    }
    m_format = format;
    m_bOpen = true;
    return {};
}

void CTestPlaybackBackend::Close() {
    Stop();
    m_bOpen = false;
}

PlaybackError CTestPlaybackBackend::Play(PlaybackSource source, uint64_t startFrame,
                                         uint64_t endFrame) {
    if (!m_bOpen) return {"The output is not open"};
    Stop();
    ++m_nPlays;
    m_source = std::move(source);
    m_nEnd = std::max(startFrame, endFrame);
    m_nPosition = startFrame;
    m_heard.clear();
    m_szFailure.clear();
    m_state = PlaybackState::Playing;
    if (m_nEnd == startFrame) End(PlaybackState::Ended);
    return {};
}

void CTestPlaybackBackend::Stop() {
    if (m_state == PlaybackState::Playing) m_state = PlaybackState::Idle;
    m_source = nullptr;
}

size_t CTestPlaybackBackend::Pull(size_t frames) {
    size_t played = 0;
    const size_t frameBytes = m_format.nBlockAlign;
    while (m_state == PlaybackState::Playing && played < frames) {
        const uint64_t at = m_nPosition;
        const size_t want = static_cast<size_t>(
            std::min<uint64_t>({uint64_t{kPiece}, uint64_t{frames - played}, m_nEnd - at}));
        const size_t before = m_heard.size();
        m_heard.resize(before + want * frameBytes);
        const size_t got = std::min(want, m_source(at, want, m_heard.data() + before));
        m_heard.resize(before + got * frameBytes);
        played += got;
        m_nPosition = at + got;
        if (got < want || m_nPosition == m_nEnd) End(PlaybackState::Ended);
    }
    return played;
}

size_t CTestPlaybackBackend::PullToEnd() {
    size_t played = 0;
    while (m_state == PlaybackState::Playing) played += Pull(kPiece);
    return played;
}

void CTestPlaybackBackend::FailNow(std::string reason) {
    if (m_state != PlaybackState::Playing) return;
    m_szFailure = std::move(reason);
    End(PlaybackState::Failed);
}

void CTestPlaybackBackend::End(PlaybackState state) {
    m_state = state;
    m_source = nullptr;
    if (m_onEnd) m_onEnd(state);
}
