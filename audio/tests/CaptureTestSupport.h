// Helpers shared by the capture tests: a notification counter to wait on, a reader that drains
// a CWaveIn as the recording thread would, and waits for lost frames.
#pragma once

#include <gmock/gmock.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "audio/capture/TestCaptureBackend.h"
#include "audio/capture/WaveIn.h"
#include "tests/support/TestFiles.h"

namespace capture_test {

using testing::HasSubstr, testing::Not, testing::StartsWith;
using namespace testsupport;
constexpr uint32_t kBuf = 65536;

// Counts notifications per message; the instance value passed to Open must point to it. The
// device thread may still be notifying: the counts are read under the lock.
struct Notifications {
    std::mutex lock;
    std::condition_variable changed;
    int open = 0, data = 0, close = 0;
    int taken = 0;  // buffers ReadAll has waited for
    void* lastHandle = nullptr;

    static void Notify(void* handle, unsigned message, void* instance, uintptr_t, uintptr_t) {
        auto* self = static_cast<Notifications*>(instance);
        std::lock_guard<std::mutex> guard(self->lock);
        self->lastHandle = handle;
        self->open += message == WIM_OPEN;
        self->data += message == WIM_DATA;
        self->close += message == WIM_CLOSE;
        self->changed.notify_all();
    }
    template <typename T>
    T Read(const T& field) {
        std::lock_guard<std::mutex> guard(lock);
        return field;
    }
    bool WaitForData(int count, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return data >= count; });
    }
};

// "" when the error flag is clear, else the error text.
inline std::string ErrorOf(CWaveIn& waveIn) {
    return waveIn.GetErrorFlag() ? waveIn.GetErrorText() : "";
}

// Reads blocks as the recording thread does, until a short block or `maxBytes`; returns every
// byte taken. Each completed buffer brings one notification, so waiting for the n-th is exact.
inline Bytes ReadAll(CWaveIn& waveIn, Notifications& notes, uint32_t bufferSize,
                     uint64_t maxBytes = UINT64_MAX, std::vector<uint32_t>* blockSizes = nullptr) {
    Bytes out, block(bufferSize);
    while (out.size() < maxBytes) {
        if (!notes.WaitForData(++notes.taken)) {
            ADD_FAILURE() << "no buffer completed within 5 s";
            break;
        }
        const unsigned long got = waveIn.ReadBuffer(block.data());
        EXPECT_EQ(ErrorOf(waveIn), "");
        out.insert(out.end(), block.begin(), block.begin() + long(got));
        if (blockSizes) blockSizes->push_back(uint32_t(got));
        if (got != bufferSize) break;
    }
    return out;
}

// A device that found no buffer queued for longer than its grace has dropped audio.
inline bool WaitForLostFrames(CWaveIn& waveIn) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (waveIn.GetLostFrames() == 0 && std::chrono::steady_clock::now() < until) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return waveIn.GetLostFrames() > 0;
}

inline Bytes FrameCounterBytes(const WAVEFORMATEX& format, uint64_t bytes) {
    Bytes out(bytes);
    CTestCaptureBackend::FrameCounter(format)(0, reinterpret_cast<uint8_t*>(out.data()),
                                              uint32_t(bytes));
    return out;
}

inline WavFormat FormatOf(const WAVEFORMATEX& f) {
    return {f.wBitsPerSample, int(f.nSamplesPerSec), f.nChannels};
}

}  // namespace capture_test
