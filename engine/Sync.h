// The two synchronisation objects of a recording: the recording event, which the capture
// device's notification signals and the recording thread waits on, and the recording lock that
// the recording thread holds while it handles a block. Both are owned by the recording control
// and outlive the recording thread; the lock map is in RecordingControl.h.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>

// Auto-reset event, initially not signalled. Signals do not count: two Set calls before a
// waiter wakes give one wake-up. Set may be called from any thread (including a capture
// backend's thread); it never allocates.
class CEvent {
public:
    static constexpr int kInfinite = -1;

    CEvent() = default;
    CEvent(const CEvent&) = delete;
    CEvent& operator=(const CEvent&) = delete;

    // Any thread.
    void Set() {
        {
            std::lock_guard<std::mutex> guard(m_mutex);
            m_bSignalled = true;
        }
        m_cond.notify_one();
    }

    // Any thread.
    void Reset() {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bSignalled = false;
    }

    // Waits until signalled (and consumes the signal) or until timeoutMs has passed; kInfinite
    // waits without limit. Returns true when the signal was taken. Any thread.
    bool Lock(int timeoutMs = kInfinite) {
        std::unique_lock<std::mutex> guard(m_mutex);
        if (timeoutMs < 0) {
            m_cond.wait(guard, [this] { return m_bSignalled; });
        } else if (!m_cond.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                    [this] { return m_bSignalled; })) {
            return false;
        }
        m_bSignalled = false;
        return true;
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_cond;
    bool m_bSignalled = false;
};

// The recording lock. Re-entrant like the platform critical section it stands for. Usable with
// std::lock_guard. Any thread.
class CCriticalSection {
public:
    CCriticalSection() = default;
    CCriticalSection(const CCriticalSection&) = delete;
    CCriticalSection& operator=(const CCriticalSection&) = delete;

    void Lock() { m_mutex.lock(); }
    void Unlock() { m_mutex.unlock(); }

    // BasicLockable, for std::lock_guard / std::unique_lock.
    void lock() { m_mutex.lock(); }
    void unlock() { m_mutex.unlock(); }

private:
    std::recursive_mutex m_mutex;
};
