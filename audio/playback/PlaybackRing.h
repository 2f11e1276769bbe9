// The frames between the playback feeder and the output callback: a single-producer,
// single-consumer ring of whole frames with its memory allocated once, before playing. The
// feeder thread writes what it pulled from the source and finally marks the end; the output
// callback reads without locking, allocating or waiting. Reset only while neither side runs.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

class CPlaybackRing {
public:
    // Room for at least capacityFrames frames of frameBytes bytes (rounded up to a power of
    // two). False when the memory cannot be had. Owner, while neither side runs.
    bool Allocate(size_t capacityFrames, uint32_t frameBytes);
    size_t Capacity() const { return m_nMask + 1; }  // frames; 1 before Allocate
    uint32_t FrameBytes() const { return m_nFrameBytes; }

    // Feeder thread: frames that can be written now; copies up to `frames` frames and returns
    // how many were copied.
    size_t Writable() const;
    size_t Write(const void* src, size_t frames);
    // Feeder thread: nothing more will be written until Reset.
    void MarkEnd() { m_bEnd.store(true, std::memory_order_release); }

    // Output callback: frames that can be read now; copies up to `frames` frames and returns
    // how many were copied.
    size_t Readable() const;
    size_t Read(void* dst, size_t frames);
    // Output callback: the end is marked and every frame written has been read.
    bool Drained() const { return m_bEnd.load(std::memory_order_acquire) && Readable() == 0; }

    // Empties the ring and clears the end mark. Only while neither side is running.
    void Reset();

private:
    std::unique_ptr<unsigned char[]> m_pData;
    size_t m_nMask = 0;  // capacity in frames - 1
    uint32_t m_nFrameBytes = 1;
    // Frames written and read since Reset; each written by one side only.
    std::atomic<uint64_t> m_nWritten{0};
    std::atomic<uint64_t> m_nRead{0};
    std::atomic<bool> m_bEnd{false};
};
