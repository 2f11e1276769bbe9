// Helpers shared by the capture tests: a notification counter to wait on, a reader that drains
// a CWaveIn as the recording thread would, and small WAV and raw files in a scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "TestCaptureBackend.h"
#include "WaveIn.h"

namespace capture_test {

constexpr uint32_t kBuf = 65536;

// Counts notifications per message; the instance value passed to Open must point to it.
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
    // The device thread may still be notifying: read the counts under the lock.
    int Opens() { return Read(open); }
    int Datas() { return Read(data); }
    int Closes() { return Read(close); }
    void* LastHandle() {
        std::lock_guard<std::mutex> guard(lock);
        return lastHandle;
    }
    int Read(const int& field) {
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
inline std::vector<uint8_t> ReadAll(CWaveIn& waveIn, Notifications& notes, uint32_t bufferSize,
                                    uint64_t maxBytes = UINT64_MAX,
                                    std::vector<uint32_t>* blockSizes = nullptr) {
    std::vector<uint8_t> out, block(bufferSize);
    while (out.size() < maxBytes) {
        if (!notes.WaitForData(++notes.taken)) {
            ADD_FAILURE() << "no buffer completed within 5 s";
            break;
        }
        const unsigned long got = waveIn.ReadBuffer(block.data());
        EXPECT_EQ(ErrorOf(waveIn), "");
        out.insert(out.end(), block.begin(), block.begin() + static_cast<long>(got));
        if (blockSizes) blockSizes->push_back(static_cast<uint32_t>(got));
        if (got != bufferSize) break;
    }
    return out;
}

inline std::vector<uint8_t> FrameCounterBytes(const WAVEFORMATEX& format, uint64_t bytes) {
    std::vector<uint8_t> out(bytes);
    CTestCaptureBackend::FrameCounter(format)(0, out.data(), static_cast<uint32_t>(bytes));
    return out;
}

inline std::filesystem::path ScratchDir(const std::string& name) {
    auto dir = std::filesystem::temp_directory_path() /
               ("vellisto-" + name + "-" + std::to_string(getpid()));
    std::filesystem::create_directories(dir);
    return dir;
}

inline void WriteBytes(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    FILE* f = std::fopen(path.c_str(), "wb");
    ASSERT_NE(f, nullptr);
    ASSERT_EQ(std::fwrite(bytes.data(), 1, bytes.size(), f), bytes.size());
    std::fclose(f);
}

// A plain WAV: RIFF header, 16-byte "fmt " chunk, an optional odd-sized extra chunk (to check
// padding), then "data".
inline std::vector<uint8_t> MakeWav(const WAVEFORMATEX& f, const std::vector<uint8_t>& samples,
                                    bool extraChunk = false) {
    std::vector<uint8_t> out;
    auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(v >> (8 * i)));
    };
    auto tag = [&](const char* t) {
        for (int i = 0; i < 4; ++i) out.push_back(static_cast<uint8_t>(t[i]));
    };
    const uint32_t extra = extraChunk ? 12 : 0;
    tag("RIFF"), put(static_cast<uint32_t>(36 + extra + samples.size()), 4), tag("WAVE");
    tag("fmt "), put(16, 4), put(f.wFormatTag, 2), put(f.nChannels, 2);
    put(f.nSamplesPerSec, 4), put(f.nAvgBytesPerSec, 4), put(f.nBlockAlign, 2);
    put(f.wBitsPerSample, 2);
    if (extraChunk) tag("LIST"), put(3, 4), tag("abc");  // 3 bytes and the pad byte
    tag("data"), put(static_cast<uint32_t>(samples.size()), 4);
    out.insert(out.end(), samples.begin(), samples.end());
    return out;
}

}  // namespace capture_test
