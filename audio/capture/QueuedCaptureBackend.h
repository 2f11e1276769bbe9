// The buffer queue and device thread that every capture backend shares: buffers are filled in
// queue order by one device thread, which reads the backend's source in pieces straight into the
// buffer at the front of the queue, marks it done with the bytes it holds and calls the
// notification function. A backend supplies only its device list and a source (open, start,
// stop, read). When no buffer is queued, a lossy source's data is still read, into a scratch
// block, and counted as lost frames; a lossless source simply waits for the next buffer.
//
// A read that does not come back (a USB card that stops answering) holds up no one: the source
// reads into a block of the backend's own, copied into the queued buffer once the read returns,
// and Stop, Reset and Close wait for a read in progress only kStuckReadMs. After that the read
// is given up: its data will be dropped, the buffers are handed back at once, and Close leaves
// the source to the device thread, which stops and closes it when the read returns. Until then
// the device does not open again.
//
// The owner thread (see CaptureBackend.h) calls the ICaptureBackend operations; the device
// thread calls ReadSource and the notification function and never allocates. Derived classes
// must call Shutdown() in their destructor, while their source still exists (it waits for a
// read given up on to return).
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>

#include "audio/capture/CaptureBackend.h"

class CQueuedCaptureBackend : public ICaptureBackend {
public:
    CQueuedCaptureBackend();
    ~CQueuedCaptureBackend() override;
    CQueuedCaptureBackend(const CQueuedCaptureBackend&) = delete;
    CQueuedCaptureBackend& operator=(const CQueuedCaptureBackend&) = delete;

    bool Open(uint32_t deviceId, const WAVEFORMATEX& format, WaveInNotifyFn notify,
              void* instance) override;
    bool IsOpen() const override;
    bool PrepareHeader(WAVEHDR* header) override;
    bool UnprepareHeader(WAVEHDR* header) override;
    bool AddBuffer(WAVEHDR* header) override;
    bool Start() override;
    bool Stop() override;
    bool Reset() override;
    bool Close() override;
    uint64_t GetLostFrames() const override { return m_nLostFrames.load(); }
    uint64_t GetOverflowCount() const override { return m_nOverflows.load(); }
    bool GetDeviceFailure(char* text, size_t size) const override;

    // Buffers the queue can hold at once.
    static constexpr int kMaxQueued = 64;
    // How long Stop, Reset and Close wait for a read in progress before giving it up.
    static constexpr int kStuckReadMs = 500;

    // Owner thread: is a read given up on still out (the device cannot open again yet)?
    bool IsClosingInBackground() const override;
    // Any thread: waits up to timeoutMs for such a device to have been closed; true once it is.
    bool WaitClosedInBackground(int timeoutMs);

protected:
    // How the device thread treats a source, chosen when it opens.
    struct SourceTraits {
        // Paced sources are read no faster than the format's byte rate (a file played in real
        // time); unpaced ones as fast as they deliver (a sound card blocks by itself).
        bool bPaced = false;
        // Lossy sources keep running when no buffer is queued and their data is lost (counted);
        // lossless ones wait for the reader.
        bool bLossy = false;
        // Largest single read, in bytes (rounded down to whole frames, at least one frame).
        uint32_t nMaxPieceBytes = 65536;
        // A lossy source's data is dropped only after the queue has been empty this long: the
        // slack a sound card's own buffer gives a late reader.
        std::chrono::milliseconds grace{200};
        // A lossless source that reads far faster than its reader takes buffers is woken for
        // them only once this many are queued (or every prepared one is): each wake costs the
        // reader's thread a system call, once a buffer otherwise.
        int nWakeBatch = 1;
    };

    struct ReadResult {
        uint32_t nBytes = 0;  // bytes placed in dest, whole frames
        bool bEnd = false;    // the input has ended or failed: nothing more will come
        bool bStall = false;  // nothing available now (nBytes 0); retry after the next Wake()
        // With bEnd: the device failed; its description (copied before the next read).
        const char* pszFailure = nullptr;
    };

    // Owner thread. Opens the source for this format; false when the device cannot be opened.
    virtual bool OpenSource(uint32_t deviceId, const WAVEFORMATEX& format,
                            SourceTraits* traits) = 0;
    virtual void CloseSource() = 0;
    virtual bool StartSource() = 0;
    virtual bool StopSource() = 0;
    // Device thread. Reads up to `bytes` (whole frames) into dest, blocking as a device does;
    // fewer bytes without bEnd are a partial piece, and the next read continues.
    virtual ReadResult ReadSource(void* dest, uint32_t bytes) = 0;

    // Any thread: makes the device thread look at its source again (after a stall).
    void Wake();
    // Device thread: the host reported an overrun it could not count in frames.
    void CountOverflow() { m_nOverflows.fetch_add(1); }
    // Any thread, while open: runs the device's work on the calling thread instead of the device
    // thread, for a source that pushes: takes up to `bytes` through fill(dest, n) -> ReadResult
    // into the queued buffers, or counts them lost when none is queued (lossy) or leaves them
    // (lossless). Returns the bytes taken. Only while started.
    template <typename Fill>
    uint64_t Push(uint64_t bytes, Fill&& fill);
    // Any thread: completes the buffer being filled with what it holds.
    void CompleteCurrent();
    // Derived destructors: closes a device still open.
    void Shutdown();
    uint32_t FrameBytes() const { return m_nFrameBytes; }

private:
    struct Piece {
        WAVEHDR* pHeader = nullptr;  // null: the piece goes to the scratch block and is lost
        char* pTarget = nullptr;
        uint32_t nWant = 0;
    };

    void ThreadMain();
    void WakeLocked();
    // Waits for a read in progress, at most kStuckReadMs; false when it was given up.
    bool WaitIdleLocked(std::unique_lock<std::mutex>& lock);
    WAVEHDR* FrontLocked() const { return m_nCount ? m_pQueue[m_nHead] : nullptr; }
    void CompleteFrontLocked();
    bool NextPieceLocked(uint64_t limit, Piece* piece);
    void FinishPieceLocked(const Piece& piece, uint32_t got, bool end);
    void EndOfInputLocked();
    void NoteFailureLocked(const ReadResult& result);

    mutable std::mutex m_lock;
    std::condition_variable m_wake;  // the device thread waits here
    std::condition_variable m_idle;  // owner operations wait here for the device thread
    std::thread m_thread;

    WaveInNotifyFn m_pNotify = nullptr;
    void* m_pInstance = nullptr;
    SourceTraits m_traits;
    uint32_t m_nFrameBytes = 1;
    double m_fByteRate = 1.0;  // bytes per second of the open format
    char* m_pScratch = nullptr;
    uint32_t m_nScratchBytes = 0;
    char* m_pBounce = nullptr;  // where the source reads a piece (nMaxPieceBytes)

    WAVEHDR* m_pQueue[kMaxQueued] = {};
    int m_nHead = 0;
    int m_nCount = 0;
    int m_nPrepared = 0;   // headers marked prepared since Open
    uint32_t m_nFill = 0;  // bytes already in the front buffer

    bool m_bOpen = false;
    bool m_bRunning = false;
    bool m_bExit = false;
    bool m_bReading = false;     // the device thread is inside ReadSource
    bool m_bStuck = false;       // ... and a Stop, Reset or Close gave that read up
    bool m_bCloseLater = false;  // Close left the source to the device thread
    bool m_bOpenNotified = false;
    bool m_bEnded = false;       // the final short buffer is out: complete nothing more
    bool m_bEndPending = false;  // the input ended while no buffer was queued
    bool m_bStarving = false;
    unsigned m_nPendingData = 0;  // completions whose notification is still due
    char m_szFailure[256] = {};   // the device's failure, empty while it works
    uint64_t m_nWakeSeq = 0;

    // Pacing: bytes consumed from the source since the clock's start.
    std::chrono::steady_clock::time_point m_clockStart;
    uint64_t m_nClockBytes = 0;
    std::chrono::steady_clock::time_point m_starveStart;
    uint64_t m_nStarveBytes = 0;

    std::atomic<uint64_t> m_nLostFrames{0};
    std::atomic<uint64_t> m_nOverflows{0};
};

template <typename Fill>
uint64_t CQueuedCaptureBackend::Push(uint64_t bytes, Fill&& fill) {
    std::unique_lock<std::mutex> lock(m_lock);
    uint64_t taken = 0;
    while (taken < bytes && m_bOpen && m_bRunning && !m_bEnded && !m_bEndPending) {
        Piece piece;
        if (!NextPieceLocked(bytes - taken, &piece)) continue;
        if (!piece.pHeader && !m_traits.bLossy) break;
        const ReadResult result = fill(piece.pTarget, piece.nWant);
        if (result.bStall) break;
        NoteFailureLocked(result);
        taken += result.nBytes;
        m_nClockBytes += result.nBytes;
        FinishPieceLocked(piece, result.nBytes, result.bEnd);
        if (result.bEnd) break;
    }
    WakeLocked();
    return taken;
}
