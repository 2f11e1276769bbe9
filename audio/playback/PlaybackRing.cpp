#include "audio/playback/PlaybackRing.h"

#include <algorithm>
#include <cstring>
#include <new>

bool CPlaybackRing::Allocate(size_t capacityFrames, uint32_t frameBytes) {
    size_t capacity = 1;
    while (capacity < capacityFrames) capacity <<= 1;
    m_pData.reset(new (std::nothrow) unsigned char[capacity * frameBytes]);
    if (!m_pData) return false;
    m_nMask = capacity - 1;
    m_nFrameBytes = frameBytes;
    Reset();
    return true;
}

size_t CPlaybackRing::Writable() const {
    if (!m_pData) return 0;
    const uint64_t used =
        m_nWritten.load(std::memory_order_relaxed) - m_nRead.load(std::memory_order_acquire);
    return Capacity() - static_cast<size_t>(used);
}

size_t CPlaybackRing::Readable() const {
    return static_cast<size_t>(m_nWritten.load(std::memory_order_acquire) -
                               m_nRead.load(std::memory_order_relaxed));
}

size_t CPlaybackRing::Write(const void* src, size_t frames) {
    frames = std::min(frames, Writable());
    if (frames == 0) return 0;
    const uint64_t written = m_nWritten.load(std::memory_order_relaxed);
    const size_t at = static_cast<size_t>(written) & m_nMask;
    const size_t first = std::min(frames, Capacity() - at);
    const auto* in = static_cast<const unsigned char*>(src);
    std::memcpy(m_pData.get() + at * m_nFrameBytes, in, first * m_nFrameBytes);
    std::memcpy(m_pData.get(), in + first * m_nFrameBytes, (frames - first) * m_nFrameBytes);
    m_nWritten.store(written + frames, std::memory_order_release);
    return frames;
}

size_t CPlaybackRing::Read(void* dst, size_t frames) {
    frames = std::min(frames, Readable());
    if (frames == 0) return 0;
    const uint64_t read = m_nRead.load(std::memory_order_relaxed);
    const size_t at = static_cast<size_t>(read) & m_nMask;
    const size_t first = std::min(frames, Capacity() - at);
    auto* out = static_cast<unsigned char*>(dst);
    std::memcpy(out, m_pData.get() + at * m_nFrameBytes, first * m_nFrameBytes);
    std::memcpy(out + first * m_nFrameBytes, m_pData.get(), (frames - first) * m_nFrameBytes);
    m_nRead.store(read + frames, std::memory_order_release);
    return frames;
}

void CPlaybackRing::Reset() {
    m_nWritten.store(0, std::memory_order_relaxed);
    m_nRead.store(0, std::memory_order_relaxed);
    m_bEnd.store(false, std::memory_order_release);
}
