#include "audio/capture/QueuedCaptureBackend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>

namespace {

using Clock = std::chrono::steady_clock;

Clock::duration BytesToDuration(uint64_t bytes, double byteRate) {
    return std::chrono::duration_cast<Clock::duration>(
        std::chrono::duration<double>(static_cast<double>(bytes) / byteRate));
}

}  // namespace

CQueuedCaptureBackend::CQueuedCaptureBackend() = default;

CQueuedCaptureBackend::~CQueuedCaptureBackend() {
    // A derived class that forgot Shutdown() would leave a thread calling into a destroyed
    // source; stop it here at least, without touching the source again.
    if (m_thread.joinable()) {
        {
            std::lock_guard<std::mutex> guard(m_lock);
            m_bRunning = false;
            m_bExit = true;
            WakeLocked();
        }
        m_thread.join();
    }
    delete[] m_pScratch;
    delete[] m_pBounce;
}

void CQueuedCaptureBackend::Shutdown() {
    if (IsOpen()) Close();
    // A read given up on still belongs to the source: wait for it before the source goes.
    if (m_thread.joinable()) m_thread.join();
}

bool CQueuedCaptureBackend::IsClosingInBackground() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bCloseLater;
}

bool CQueuedCaptureBackend::WaitClosedInBackground(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_lock);
    return m_idle.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                           [this] { return !m_bCloseLater; });
}

bool CQueuedCaptureBackend::IsOpen() const {
    std::lock_guard<std::mutex> guard(m_lock);
    return m_bOpen;
}

bool CQueuedCaptureBackend::Open(uint32_t deviceId, const WAVEFORMATEX& format,
                                 WaveInNotifyFn notify, void* instance) {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (m_bOpen || m_bCloseLater) return false;
    }
    // The device thread of a source closed in the background has finished: collect it.
    if (m_thread.joinable()) m_thread.join();
    if (format.nChannels == 0 || format.nSamplesPerSec == 0 || format.nBlockAlign == 0 ||
        format.nBlockAlign != format.nChannels * (format.wBitsPerSample / 8)) {
        return false;
    }
    SourceTraits traits;
    if (!OpenSource(deviceId, format, &traits)) return false;

    const uint32_t frame = format.nBlockAlign;
    const uint32_t piece = std::max(frame, traits.nMaxPieceBytes / frame * frame);
    traits.nMaxPieceBytes = piece;
    char* scratch = nullptr;
    char* bounce = new (std::nothrow) char[piece];
    if (traits.bLossy && bounce) scratch = new (std::nothrow) char[piece];
    if (!bounce || (traits.bLossy && !scratch)) {
        delete[] bounce;
        CloseSource();
        return false;
    }

    std::unique_lock<std::mutex> lock(m_lock);
    delete[] m_pScratch;
    m_pScratch = scratch;
    m_nScratchBytes = traits.bLossy ? piece : 0;
    delete[] m_pBounce;
    m_pBounce = bounce;
    m_traits = traits;
    m_nFrameBytes = frame;
    m_fByteRate = static_cast<double>(format.nSamplesPerSec) * frame;
    m_pNotify = notify;
    m_pInstance = instance;
    m_nHead = m_nCount = m_nPrepared = 0;
    m_nFill = 0;
    m_bRunning = m_bExit = m_bReading = m_bOpenNotified = false;
    m_bStuck = m_bCloseLater = false;
    m_bEnded = m_bEndPending = m_bStarving = false;
    m_nPendingData = 0;
    m_szFailure[0] = 0;
    m_nClockBytes = 0;
    m_nLostFrames.store(0);
    m_nOverflows.store(0);
    try {
        m_thread = std::thread(&CQueuedCaptureBackend::ThreadMain, this);
    } catch (const std::system_error&) {
        lock.unlock();
        CloseSource();
        return false;
    }
    m_bOpen = true;
    // The open notification comes from the device thread but before Open returns.
    m_idle.wait(lock, [this] { return m_bOpenNotified; });
    return true;
}

bool CQueuedCaptureBackend::PrepareHeader(WAVEHDR* header) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen || !header || !header->lpData) return false;
    const uint32_t flags = header->dwFlags.load();
    if (flags & WHDR_INQUEUE) return false;
    if (!(flags & WHDR_PREPARED)) ++m_nPrepared;
    header->dwFlags.store(flags | WHDR_PREPARED);
    return true;
}

bool CQueuedCaptureBackend::UnprepareHeader(WAVEHDR* header) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen || !header) return false;
    const uint32_t flags = header->dwFlags.load();
    if (flags & WHDR_INQUEUE) return false;
    if ((flags & WHDR_PREPARED) && m_nPrepared > 0) --m_nPrepared;
    header->dwFlags.store(flags & ~WHDR_PREPARED);
    return true;
}

bool CQueuedCaptureBackend::AddBuffer(WAVEHDR* header) {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_bOpen || !header || !header->lpData || m_nCount == kMaxQueued) return false;
    const uint32_t flags = header->dwFlags.load();
    if (!(flags & WHDR_PREPARED) || (flags & WHDR_INQUEUE)) return false;
    header->dwBytesRecorded.store(0);
    header->dwFlags.store((flags & ~WHDR_DONE) | WHDR_INQUEUE);
    m_pQueue[(m_nHead + m_nCount) % kMaxQueued] = header;
    ++m_nCount;
    // Held back only while the reader still has buffers of its own to take: it queues each one
    // again before it waits, so the last of them always wakes the device thread.
    if (m_nCount >= std::min(m_traits.nWakeBatch, m_nPrepared) || m_bEndPending || m_bEnded) {
        WakeLocked();
    }
    return true;
}

bool CQueuedCaptureBackend::Start() {
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (!m_bOpen) return false;
        if (m_bRunning) return true;
    }
    // The device thread does not touch the source while stopped.
    if (!StartSource()) return false;
    std::lock_guard<std::mutex> guard(m_lock);
    m_bRunning = true;
    m_bStarving = false;
    m_clockStart = Clock::now();
    m_nClockBytes = 0;
    WakeLocked();
    return true;
}

bool CQueuedCaptureBackend::Stop() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_bOpen) return false;
    if (!m_bRunning) return true;
    m_bRunning = false;
    WakeLocked();
    // A source whose read does not come back cannot be stopped under it; the stuck read's data
    // will be dropped and the buffer being filled comes back with what it holds.
    if (WaitIdleLocked(lock)) {
        lock.unlock();
        const bool stopped = StopSource();
        lock.lock();
        if (!stopped) return false;
    }
    // The buffer being filled comes back with what it holds; empty queued buffers stay.
    if (FrontLocked() && m_nFill > 0) CompleteFrontLocked();
    WakeLocked();
    return true;
}

bool CQueuedCaptureBackend::Reset() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_bOpen) return false;
    bool ok = true;
    if (m_bRunning) {
        m_bRunning = false;
        WakeLocked();
        if (WaitIdleLocked(lock)) {
            lock.unlock();
            ok = StopSource();
            lock.lock();
        }
    }
    while (FrontLocked()) CompleteFrontLocked();
    WakeLocked();
    return ok;
}

bool CQueuedCaptureBackend::Close() {
    std::unique_lock<std::mutex> lock(m_lock);
    if (!m_bOpen) return false;
    bool idle = true;
    if (m_bRunning) {
        m_bRunning = false;
        WakeLocked();
        idle = WaitIdleLocked(lock);
        if (idle) {
            lock.unlock();
            StopSource();
            lock.lock();
        }
    } else if (m_bReading) {
        idle = WaitIdleLocked(lock);
    }
    // No header may stay referenced by a closed device: its memory belongs to the caller.
    while (FrontLocked()) CompleteFrontLocked();
    m_bExit = true;
    WakeLocked();
    if (!idle) {
        // The device thread stops and closes the source once its read returns; no notification
        // reaches the caller after this.
        m_bCloseLater = true;
        m_bOpen = false;
        m_pNotify = nullptr;
        m_pInstance = nullptr;
        return true;
    }
    lock.unlock();
    m_thread.join();
    CloseSource();
    lock.lock();
    m_bOpen = false;
    m_pNotify = nullptr;
    m_pInstance = nullptr;
    return true;
}

void CQueuedCaptureBackend::Wake() {
    std::lock_guard<std::mutex> guard(m_lock);
    WakeLocked();
}

void CQueuedCaptureBackend::CompleteCurrent() {
    std::lock_guard<std::mutex> guard(m_lock);
    if (FrontLocked()) CompleteFrontLocked();
    WakeLocked();
}

void CQueuedCaptureBackend::WakeLocked() {
    ++m_nWakeSeq;
    m_wake.notify_all();
}

bool CQueuedCaptureBackend::WaitIdleLocked(std::unique_lock<std::mutex>& lock) {
    if (m_bStuck) return false;
    if (m_idle.wait_for(lock, std::chrono::milliseconds(kStuckReadMs),
                        [this] { return !m_bReading; })) {
        return true;
    }
    m_bStuck = true;
    return false;
}

void CQueuedCaptureBackend::CompleteFrontLocked() {
    WAVEHDR* header = m_pQueue[m_nHead];
    m_nHead = (m_nHead + 1) % kMaxQueued;
    --m_nCount;
    header->dwBytesRecorded.store(m_nFill);
    header->dwFlags.store((header->dwFlags.load() & ~WHDR_INQUEUE) | WHDR_DONE);
    m_nFill = 0;
    ++m_nPendingData;
}

// Kept before the short last buffer completes, so whoever sees that buffer can ask why.
void CQueuedCaptureBackend::NoteFailureLocked(const ReadResult& result) {
    if (!result.bEnd || !result.pszFailure || m_szFailure[0]) return;
    std::snprintf(m_szFailure, sizeof m_szFailure, "%s",
                  result.pszFailure[0] ? result.pszFailure : "unknown error");
}

bool CQueuedCaptureBackend::GetDeviceFailure(char* text, size_t size) const {
    std::lock_guard<std::mutex> guard(m_lock);
    if (!m_szFailure[0]) return false;
    if (size > 0) std::snprintf(text, size, "%s", m_szFailure);
    return true;
}

void CQueuedCaptureBackend::EndOfInputLocked() {
    if (FrontLocked()) {
        CompleteFrontLocked();
        m_bEnded = true;
    } else {
        m_bEndPending = true;
    }
}

// Picks where the next piece of input goes. Returns false when it completed a buffer instead
// (the front had no room for another frame, or the input had already ended).
bool CQueuedCaptureBackend::NextPieceLocked(uint64_t limit, Piece* piece) {
    WAVEHDR* header = FrontLocked();
    const uint64_t cap = std::min<uint64_t>(limit, m_traits.nMaxPieceBytes);
    if (header) {
        if (m_bEndPending) {
            EndOfInputLocked();
            return false;
        }
        const uint32_t room = header->dwBufferLength - m_nFill;
        if (room < m_nFrameBytes) {
            CompleteFrontLocked();
            return false;
        }
        piece->pHeader = header;
        piece->pTarget = header->lpData + m_nFill;
        piece->nWant = static_cast<uint32_t>(std::min<uint64_t>(room, cap));
    } else {
        piece->pHeader = nullptr;
        piece->pTarget = m_pScratch;
        piece->nWant = static_cast<uint32_t>(std::min<uint64_t>(m_nScratchBytes, cap));
    }
    piece->nWant -= piece->nWant % m_nFrameBytes;
    return true;
}

void CQueuedCaptureBackend::FinishPieceLocked(const Piece& piece, uint32_t got, bool end) {
    if (piece.pHeader) {
        m_nFill += got;
        if (end) {
            EndOfInputLocked();
        } else if (piece.pHeader->dwBufferLength - m_nFill < m_nFrameBytes) {
            CompleteFrontLocked();
        }
    } else {
        m_nLostFrames.fetch_add(got / m_nFrameBytes);
        if (end) m_bEndPending = true;
    }
}

void CQueuedCaptureBackend::ThreadMain() {
    ICaptureBackend* handle = this;
    if (m_pNotify) m_pNotify(handle, WIM_OPEN, m_pInstance, 0, 0);
    std::unique_lock<std::mutex> lock(m_lock);
    m_bOpenNotified = true;
    m_idle.notify_all();

    auto waitForWake = [&](uint64_t seq) { m_wake.wait(lock, [&] { return m_nWakeSeq != seq; }); };

    for (;;) {
        if (m_nPendingData) {
            // Notifications go out without the lock: the reader may call in at once.
            const unsigned count = m_nPendingData;
            m_nPendingData = 0;
            const WaveInNotifyFn notify = m_pNotify;
            void* const instance = m_pInstance;
            lock.unlock();
            if (notify) {
                for (unsigned i = 0; i < count; ++i) notify(handle, WIM_DATA, instance, 0, 0);
            }
            lock.lock();
            continue;
        }
        if (m_bExit) break;
        const uint64_t seq = m_nWakeSeq;
        // After the end of the input only a newly queued buffer matters (it is completed empty).
        if (!m_bRunning || m_bEnded || (!FrontLocked() && (!m_traits.bLossy || m_bEndPending))) {
            waitForWake(seq);
            continue;
        }
        Piece piece;
        if (!NextPieceLocked(UINT64_MAX, &piece)) continue;

        const auto now = Clock::now();
        auto due = now;
        if (piece.pHeader) {
            m_bStarving = false;
            if (m_traits.bPaced) {
                due = m_clockStart + BytesToDuration(m_nClockBytes + piece.nWant, m_fByteRate);
            }
        } else {
            if (!m_bStarving) {
                m_bStarving = true;
                m_starveStart = now;
                m_nStarveBytes = m_nClockBytes;
            }
            // Data is dropped only at the rate it arrives, after the grace a device's own
            // buffer would give: so the count is what a real card would lose.
            if (m_traits.bPaced) {
                due = m_clockStart + m_traits.grace +
                      BytesToDuration(m_nClockBytes + piece.nWant, m_fByteRate);
            } else {
                due = m_starveStart + m_traits.grace +
                      BytesToDuration(m_nClockBytes - m_nStarveBytes + piece.nWant, m_fByteRate);
            }
        }
        if (now < due) {
            m_wake.wait_until(lock, due, [&] { return m_nWakeSeq != seq; });
            continue;
        }

        m_bReading = true;
        lock.unlock();
        const ReadResult result = ReadSource(m_pBounce, piece.nWant);
        lock.lock();
        m_bReading = false;
        m_idle.notify_all();
        if (m_bStuck) {
            // Given up on: the buffer it was meant for has been handed back.
            m_bStuck = false;
            continue;
        }
        if (result.bStall) {
            waitForWake(seq);
            continue;
        }
        const uint32_t got = std::min(result.nBytes, piece.nWant);
        if (piece.pHeader && got > 0) std::memcpy(piece.pTarget, m_pBounce, got);
        m_nClockBytes += got;
        NoteFailureLocked(result);
        FinishPieceLocked(piece, got, result.bEnd);
    }
    const WaveInNotifyFn notify = m_pNotify;
    void* const instance = m_pInstance;
    const bool closeHere = m_bCloseLater;
    lock.unlock();
    if (closeHere) {
        StopSource();
        CloseSource();
        lock.lock();
        m_bCloseLater = false;
        m_idle.notify_all();
        return;
    }
    if (notify) notify(handle, WIM_CLOSE, instance, 0, 0);
}
