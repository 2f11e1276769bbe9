// Helpers shared by the capture tests: a notification counter to wait on, a reader that drains
// a CWaveIn as the recording thread would, and small WAV and raw files in a scratch folder.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <string>
#include <vector>

#include "WaveIn.h"

namespace capture_test {

// Counts notifications per message; the instance value passed to Open must point to it.
struct Notifications {
    std::mutex lock;
    std::condition_variable changed;
    int open = 0;
    int data = 0;
    int close = 0;
    void* lastHandle = nullptr;

    static void Notify(void* handle, unsigned message, void* instance, uintptr_t, uintptr_t) {
        auto* self = static_cast<Notifications*>(instance);
        std::lock_guard<std::mutex> guard(self->lock);
        self->lastHandle = handle;
        if (message == WIM_OPEN) ++self->open;
        if (message == WIM_DATA) ++self->data;
        if (message == WIM_CLOSE) ++self->close;
        self->changed.notify_all();
    }

    bool WaitForData(int count, int timeoutMs = 5000) {
        std::unique_lock<std::mutex> guard(lock);
        return changed.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                                [&] { return data >= count; });
    }
    int Data() {
        std::lock_guard<std::mutex> guard(lock);
        return data;
    }
};

// Reads blocks as the recording thread does, until a short block or `maxBytes`; returns every
// byte taken. Each completed buffer brings one notification, so waiting for the n-th is exact.
inline std::vector<uint8_t> ReadAll(CWaveIn& waveIn, Notifications& notes, uint32_t bufferSize,
                                    uint64_t maxBytes = UINT64_MAX,
                                    std::vector<uint32_t>* blockSizes = nullptr) {
    std::vector<uint8_t> out;
    std::vector<uint8_t> block(bufferSize);
    for (int n = 1; out.size() < maxBytes; ++n) {
        if (!notes.WaitForData(n)) {
            ADD_FAILURE() << "no buffer completed within 5 s";
            break;
        }
        const unsigned long got = waveIn.ReadBuffer(block.data());
        EXPECT_EQ(waveIn.GetErrorFlag(), 0) << waveIn.GetErrorText();
        out.insert(out.end(), block.begin(), block.begin() + static_cast<long>(got));
        if (blockSizes) blockSizes->push_back(static_cast<uint32_t>(got));
        if (got != bufferSize) break;
    }
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

inline void Put16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
inline void Put32(std::vector<uint8_t>& out, uint32_t v) {
    Put16(out, v & 0xFFFF);
    Put16(out, v >> 16);
}

// A plain WAV: RIFF header, 16-byte "fmt " chunk, an optional odd-sized extra chunk (to check
// padding), then "data" declaring `declaredData` bytes (the samples' size unless told).
inline std::vector<uint8_t> MakeWav(const WAVEFORMATEX& f, const std::vector<uint8_t>& samples,
                                    bool extraChunk = false, int64_t declaredData = -1) {
    std::vector<uint8_t> out = {'R', 'I', 'F', 'F'};
    Put32(out, 0);
    out.insert(out.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(out, 16);
    Put16(out, f.wFormatTag);
    Put16(out, f.nChannels);
    Put32(out, f.nSamplesPerSec);
    Put32(out, f.nAvgBytesPerSec);
    Put16(out, f.nBlockAlign);
    Put16(out, f.wBitsPerSample);
    if (extraChunk) {
        out.insert(out.end(), {'L', 'I', 'S', 'T'});
        Put32(out, 3);
        out.insert(out.end(), {'a', 'b', 'c', 0});
    }
    out.insert(out.end(), {'d', 'a', 't', 'a'});
    Put32(out, declaredData < 0 ? static_cast<uint32_t>(samples.size())
                                : static_cast<uint32_t>(declaredData));
    out.insert(out.end(), samples.begin(), samples.end());
    const uint32_t riffSize = static_cast<uint32_t>(out.size() - 8);
    std::memcpy(out.data() + 4, &riffSize, 4);
    return out;
}

}  // namespace capture_test
