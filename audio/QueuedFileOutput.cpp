#include "audio/QueuedFileOutput.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

CQueuedFileOutput::CQueuedFileOutput(size_t ringBytes, size_t maxWrites, size_t wakeBytes)
    : m_nRingBytes(std::max<size_t>(ringBytes, 1)),
      m_nMaxWrites(std::max<size_t>(maxWrites, 2)),
      m_nWakeBytes(std::clamp<size_t>(wakeBytes, 1, std::max<size_t>(ringBytes, 1))),
      m_pRing(new unsigned char[m_nRingBytes]),
      m_pWrites(new Pending[m_nMaxWrites]) {
    m_writer = std::thread(&CQueuedFileOutput::WriterMain, this);
}

CQueuedFileOutput::~CQueuedFileOutput() {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bExit = true;
    }
    m_wake.notify_one();
    m_writer.join();
}

int CQueuedFileOutput::Open(const char* path) {
    return ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
}

ssize_t CQueuedFileOutput::WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) {
    size_t total = 0;
    for (int i = 0; i < count; ++i) total += pieces[i].iov_len;

    // The pieces follow each other in the file: they go into the ring as one run of bytes, cut
    // only where the ring ends.
    int piece = 0;
    size_t inPiece = 0;
    uint64_t at = offset;
    size_t left = total;
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        const bool failed = m_nError != 0 && m_nFailedFd == handle;
        if (failed) {
            errno = m_nError;
            return -1;
        }
        if (left == 0) break;
        const size_t ringAt = static_cast<size_t>(m_nBytesQueued % m_nRingBytes);
        const size_t want = std::min(left, m_nRingBytes - ringAt);
        auto room = [&] {
            return (m_nError != 0 && m_nFailedFd == handle) ||
                   (m_nWritesQueued - m_nWritesDone < m_nMaxWrites &&
                    m_nRingBytes - (m_nBytesQueued - m_nBytesDone) >= want);
        };
        if (!room()) {
            // A full ring is the disk's delay reaching the caller: the writer works unbatched.
            m_bUrgent = true;
            m_wake.notify_one();
            m_done.wait(lock, room);
            m_bUrgent = false;
            continue;
        }
        lock.unlock();
        // Bytes past m_nBytesQueued are the caller's until they are queued below.
        size_t copied = 0;
        while (copied < want) {
            const size_t n = std::min(want - copied, pieces[piece].iov_len - inPiece);
            std::memcpy(m_pRing.get() + ringAt + copied,
                        static_cast<const unsigned char*>(pieces[piece].iov_base) + inPiece, n);
            copied += n;
            inPiece += n;
            if (inPiece == pieces[piece].iov_len) {
                ++piece;
                inPiece = 0;
            }
        }
        lock.lock();
        m_pWrites[m_nWritesQueued % m_nMaxWrites] = Pending{handle, at, ringAt, want};
        ++m_nWritesQueued;
        m_nBytesQueued += want;
        at += want;
        left -= want;
        if (m_bWriterIdle && m_nBytesQueued - m_nBytesDone >= m_nWakeBytes) m_wake.notify_one();
    }
    return static_cast<ssize_t>(total);
}

void CQueuedFileOutput::WaitWritten(std::unique_lock<std::mutex>& lock) {
    m_bUrgent = true;
    m_wake.notify_one();
    m_done.wait(lock, [this] { return m_nWritesDone == m_nWritesQueued; });
    m_bUrgent = false;
}

int CQueuedFileOutput::Sync(int handle) {
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitWritten(lock);
    if (m_nError != 0 && m_nFailedFd == handle) {
        errno = m_nError;
        return -1;
    }
    return 0;
}

int CQueuedFileOutput::Close(int handle) {
    int error = 0;
    {
        std::unique_lock<std::mutex> lock(m_mutex);
        WaitWritten(lock);
        if (m_nError != 0 && m_nFailedFd == handle) {
            error = m_nError;
            m_nError = 0;
            m_nFailedFd = -1;
        }
    }
    const int closed = ::close(handle);
    if (error != 0) {
        errno = error;
        return -1;
    }
    return closed;
}

int CQueuedFileOutput::Drain() {
    std::unique_lock<std::mutex> lock(m_mutex);
    WaitWritten(lock);
    const int error = m_nError;
    m_nError = 0;
    m_nFailedFd = -1;
    return error;
}

bool CQueuedFileOutput::IsUnlinked(int handle) { return DescriptorUnlinked(handle); }

void CQueuedFileOutput::WriterMain() {
    pthread_setname_np(pthread_self(), "vellisto-write");
    std::unique_lock<std::mutex> lock(m_mutex);
    // Once woken, the writer takes every queued write before it sleeps again: waking it for
    // each write would cost the caller a system call a write instead of one a batch.
    bool draining = false;
    for (;;) {
        if (!draining || m_nWritesTaken == m_nWritesQueued) {
            m_bWriterIdle = true;
            m_wake.wait(lock, [this] {
                const uint64_t waiting = m_nWritesQueued - m_nWritesTaken;
                return m_bExit || (waiting > 0 &&
                                   (m_bUrgent || m_nBytesQueued - m_nBytesDone >= m_nWakeBytes ||
                                    waiting * 2 >= m_nMaxWrites));
            });
            m_bWriterIdle = false;
            draining = true;
        }
        if (m_nWritesTaken == m_nWritesQueued) return;  // asked to end, with nothing left
        const Pending write = m_pWrites[m_nWritesTaken % m_nMaxWrites];
        ++m_nWritesTaken;
        // After a failure the file's later bytes are dropped: it is unfinished anyway.
        const bool skip = m_nError != 0 && m_nFailedFd == write.nFd;
        lock.unlock();
        int error = 0;
        const unsigned char* data = m_pRing.get() + write.nAt;
        size_t done = 0;
        if (m_sink) {
            if (!skip) error = m_sink(write.nFd, data, write.nBytes, write.nOffset);
            done = write.nBytes;
        }
        while (!skip && done < write.nBytes) {
            const ssize_t n = ::pwrite(write.nFd, data + done, write.nBytes - done,
                                       static_cast<off_t>(write.nOffset + done));
            if (n < 0 && errno == EINTR) continue;
            if (n <= 0) {
                // A write that takes nothing without an error has run out of room.
                error = n < 0 ? errno : ENOSPC;
                break;
            }
            done += static_cast<size_t>(n);
        }
        lock.lock();
        if (error != 0 && m_nError == 0) {
            m_nError = error;
            m_nFailedFd = write.nFd;
        }
        ++m_nWritesDone;
        m_nBytesDone += write.nBytes;
        m_done.notify_all();
    }
}
