#include "ui/MeterThread.h"

#include <algorithm>
#include <chrono>

#include "ui/LedMeter.h"

namespace {
// The held peak starts (and, falling, ends) here: far below anything a bar can show, and far
// enough from INT_MIN that n x peak cannot overflow.
constexpr int kNoPeak = -9999;
}  // namespace

CMeterThread::~CMeterThread() {
    {
        std::lock_guard guard(m_mutex);
        m_bRunning = false;
        m_bEnding = true;
    }
    m_wake.notify_all();
    if (m_worker.joinable()) m_worker.join();
}

void CMeterThread::AddMeter(CLedMeter* meter) {
    m_meters.push_back(meter);
    m_overloadCount.push_back(0);
    m_peakCount.push_back(0);
    m_heldPeak.push_back(kNoPeak);
}

void CMeterThread::Start(LevelCallback callback, int barLeds, int rangeDb, int intervalMs,
                         int overloadHoldMs, int peakHoldMs) {
    if (m_worker.joinable() || intervalMs <= 0 || rangeDb <= 0) return;
    m_callback = std::move(callback);
    m_nBarLeds = barLeds;
    m_nRangeDb = rangeDb;
    m_nIntervalMs = intervalMs;
    m_nOverloadHold = overloadHoldMs / intervalMs;
    m_nPeakHold = peakHoldMs / intervalMs;
    m_worker = std::thread(&CMeterThread::Worker, this);
}

void CMeterThread::SetRunning(bool run) {
    {
        std::lock_guard guard(m_mutex);
        if (!m_worker.joinable() || m_bRunning == run) return;
        m_bRunning = run;
    }
    m_wake.notify_all();
}

bool CMeterThread::IsParked() const {
    std::lock_guard guard(m_mutex);
    return m_bParked;
}

bool CMeterThread::IsRunning() const {
    std::lock_guard guard(m_mutex);
    return m_bRunning;
}

int CMeterThread::LevelIndex(int barLeds, int rangeDb, int levelDb) {
    // Integer division truncates toward zero, which is what places LED i's threshold at
    // 2(i - 20) - 1 dB for 20 LEDs over 40 dB.
    return (barLeds * levelDb) / rangeDb + barLeds;
}

void CMeterThread::Tick() {
    if (!m_callback) return;
    const int n = m_nBarLeds;
    for (size_t m = 0; m < m_meters.size(); ++m) {
        int level = -100, peak = -100, overload = 0;
        m_callback(static_cast<int>(m), &level, &peak, &overload);

        if (overload != 0) {
            m_overloadCount[m] = m_nOverloadHold;
        } else if (m_overloadCount[m] > 0) {
            overload = 1;
            --m_overloadCount[m];
        }

        int held = m_heldPeak[m];
        if (peak > held) {
            held = peak;
            m_peakCount[m] = m_nPeakHold;
        } else if (m_peakCount[m] == 0) {
            if (held > kNoPeak) --held;
        } else {
            --m_peakCount[m];
        }
        m_heldPeak[m] = held;

        CLedMeter* meter = m_meters[m];
        meter->SetLed(n, overload != 0);
        const int levelIndex = LevelIndex(n, m_nRangeDb, level);
        // Peaks from -2 dB up would fall one past the top LED: the mark stays on the top one.
        const int peakIndex = std::min(LevelIndex(n, m_nRangeDb, held), n - 1);
        for (int i = 0; i < n; ++i) meter->SetLed(i, i <= levelIndex || i == peakIndex);
    }
}

void CMeterThread::Worker() {
    std::unique_lock lock(m_mutex);
    for (;;) {
        m_bParked = !m_bRunning;
        m_wake.wait(lock, [this] { return m_bRunning || m_bEnding; });
        m_bParked = false;
        if (m_bEnding) return;
        lock.unlock();
        Tick();
        lock.lock();
        // Sleep one interval, but wake at once to end; a pause takes effect after this sleep,
        // like a suspended thread that resumes where it stopped.
        m_wake.wait_for(lock, std::chrono::milliseconds(m_nIntervalMs),
                        [this] { return m_bEnding; });
    }
}
