// The LED meters' clock: a worker thread that, every interval, asks the level callback for each
// meter's level, peak and overload, applies the overload hold and the falling peak mark, and
// switches the meters' LEDs. The main window owns one for its whole run; pausing it (window
// minimised) keeps the worker and its held values, and the destructor ends the worker promptly
// even while it is paused.
#pragma once

#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class CLedMeter;

class CMeterThread {
public:
    // Fills level and peak (whole dB re full scale, 0 is full scale) and overload (non-zero
    // when the channel clipped) for the meter with that index. Called on the worker thread.
    using LevelCallback = std::function<void(int meter, int* level, int* peak, int* overload)>;

    CMeterThread() = default;
    ~CMeterThread();
    CMeterThread(const CMeterThread&) = delete;
    CMeterThread& operator=(const CMeterThread&) = delete;

    // UI thread, before Start.
    void AddMeter(CLedMeter* meter);

    // UI thread. Holds are given in milliseconds and kept as whole ticks (a hold shorter than
    // one interval is 0 ticks). The worker starts paused.
    void Start(LevelCallback callback, int barLeds, int rangeDb, int intervalMs, int overloadHoldMs,
               int peakHoldMs);

    // UI thread. Never waits for the worker, so it may be called while holding the lock that
    // the level callback takes.
    void SetRunning(bool run);
    bool IsRunning() const;
    // Has the worker come to rest after a pause? No tick runs until SetRunning(true).
    bool IsParked() const;

    // One tick over every meter. The worker thread calls it; tests call it directly on a
    // thread that is not started, or paused.
    void Tick();

    // The peak mark currently shown for a meter (dB); -9999 before any peak was seen.
    int GetHeldPeak(int meter) const { return m_heldPeak.at(meter); }
    int GetBarLeds() const { return m_nBarLeds; }

    // Index of the highest bar LED that a level lights (n x level / range + n, truncated
    // toward zero); negative when none.
    static int LevelIndex(int barLeds, int rangeDb, int levelDb);

private:
    void Worker();

    LevelCallback m_callback;
    std::vector<CLedMeter*> m_meters;
    std::vector<int> m_overloadCount;
    std::vector<int> m_peakCount;
    std::vector<int> m_heldPeak;
    int m_nBarLeds = 0;
    int m_nRangeDb = 40;
    int m_nIntervalMs = 150;
    int m_nOverloadHold = 0;  // ticks
    int m_nPeakHold = 0;      // ticks

    mutable std::mutex m_mutex;  // guards the three flags below
    std::condition_variable m_wake;
    bool m_bRunning = false;
    bool m_bEnding = false;
    bool m_bParked = false;  // the worker waits, paused
    std::thread m_worker;
};
