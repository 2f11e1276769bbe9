// Song files written on a thread of their own, so that the thread that hands over the bytes (the
// recording thread) never waits for the disk while there is room to queue them. WriteAt copies
// the bytes into a ring allocated once at construction, notes where they go, and returns; the
// writer thread writes them in the order given. When the ring is full, WriteAt waits for room:
// the ring's size is how long a stalled disk is ridden out.
//
// A write that failed on the writer thread is reported by the next WriteAt, Sync or Close of
// that file, with its error number; the file's later bytes are dropped, as a file that failed
// is unfinished anyway. Close and Sync wait until everything queued before them is written, so
// what a caller learns at a file's end is as exact as a direct write would have told it.
//
// One thread at a time calls Open, WriteAt, Sync, Close and Drain; the writer thread is the
// output's own. Locks: m_mutex guards the ring's positions, the queue of writes and the failure;
// both threads take it for a few statements, never around a system call, and take no other lock
// while they hold it.
#pragma once

#include <sys/types.h>
#include <sys/uio.h>

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "audio/FileOutput.h"

class CQueuedFileOutput : public IFileOutput {
public:
    // ringBytes: bytes the ring holds; maxWrites: writes that may wait at a time (each WriteAt
    // is one, or two where it wraps round the ring's end). The writer thread is woken once
    // wakeBytes wait (a few at a time cost both threads less), and at once by Sync, Close and
    // Drain. Allocates the ring and starts the writer thread; throws as new and std::thread do.
    CQueuedFileOutput(size_t ringBytes, size_t maxWrites, size_t wakeBytes);
    // Writes what is still queued, then ends the writer thread. Closes nothing.
    ~CQueuedFileOutput() override;
    CQueuedFileOutput(const CQueuedFileOutput&) = delete;
    CQueuedFileOutput& operator=(const CQueuedFileOutput&) = delete;

    // Opens the file on the caller's thread (see IFileOutput).
    int Open(const char* path) override;
    // Queues the bytes; a handle may be any descriptor open for writing, however it was opened.
    ssize_t WriteAt(int handle, const iovec* pieces, int count, uint64_t offset) override;
    // Waits until everything queued is written, then closes the handle. Its failure, or the
    // close's, is returned as close would; the failure is forgotten with the handle.
    int Close(int handle) override;
    // Waits until everything queued is written; -1 with errno when a write of handle failed.
    int Sync(int handle) override;
    // Waits until everything queued is written; returns the error number of the first write
    // that failed since the last Drain or Close (0 for none) and forgets it.
    int Drain();
    // The handle is a descriptor: its link count tells.
    bool IsUnlinked(int handle) override;

    size_t RingBytes() const { return m_nRingBytes; }

    // Where the writer thread puts each queued run of bytes instead of writing it to its file:
    // returns 0 or an error number. Tests stand a disk that stalls or fills in here. Set before
    // the first WriteAt; called on the writer thread only.
    using Sink =
        std::function<int(int handle, const unsigned char* data, size_t bytes, uint64_t offset)>;
    void SetSink(Sink sink) { m_sink = std::move(sink); }

private:
    struct Pending {
        int nFd = -1;
        uint64_t nOffset = 0;  // in the file
        size_t nAt = 0;        // in the ring
        size_t nBytes = 0;
    };

    void WriterMain();
    // Waits until the writer thread has written every queued write; under lock.
    void WaitWritten(std::unique_lock<std::mutex>& lock);

    const size_t m_nRingBytes;
    const size_t m_nMaxWrites;
    const size_t m_nWakeBytes;
    std::unique_ptr<unsigned char[]> m_pRing;
    std::unique_ptr<Pending[]> m_pWrites;  // m_nMaxWrites of them, used round
    Sink m_sink;                           // set before the first write, then only read

    std::mutex m_mutex;
    std::condition_variable m_wake;  // the writer thread waits for work here
    std::condition_variable m_done;  // the caller waits for room or for the queue to empty here
    // Under m_mutex. Counters only grow; a write's place is its number modulo m_nMaxWrites, a
    // byte's its number modulo m_nRingBytes.
    uint64_t m_nWritesQueued = 0;
    uint64_t m_nWritesTaken = 0;  // taken by the writer thread
    uint64_t m_nWritesDone = 0;
    uint64_t m_nBytesQueued = 0;
    uint64_t m_nBytesDone = 0;
    int m_nError = 0;        // the first failed write's error number since it was last taken
    int m_nFailedFd = -1;    // the descriptor it failed on
    bool m_bExit = false;    // the destructor asks the writer thread to end
    bool m_bUrgent = false;  // the caller waits for the queue to empty
    bool m_bWriterIdle = false;
    std::thread m_writer;
};
