// libFuzzer target for the WAV header reader: any bytes as a file (read by offset) and as a
// stream (read as it comes, from a pipe). Beyond the sanitizers' checks it traps when an
// accepted header promises audio the file does not hold, in parts of frames, or in a sample
// type the capture backend cannot play.
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "audio/WaveFileReader.h"

namespace {

void Check(const WavFileInfo& info, bool accepted, uint64_t size, bool stream) {
    if (!accepted) return;
    const WAVEFORMATEX& f = info.format;
    const bool pcm16 = f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16;
    const bool float32 = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32;
    if ((!pcm16 && !float32) || f.nChannels == 0 || f.nBlockAlign == 0) __builtin_trap();
    if (info.nDataBytes == WavFileInfo::kToTheEnd) {
        if (!stream || !info.bSizeToEnd) __builtin_trap();
        return;
    }
    if (info.nDataBytes % f.nBlockAlign != 0) __builtin_trap();
    if (!stream && info.nDataOffset + info.nDataBytes > size) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const int file = memfd_create("wav", MFD_CLOEXEC);
    if (file < 0 || write(file, data, size) != static_cast<ssize_t>(size)) __builtin_trap();
    WavFileInfo info;
    std::string error;
    Check(info, ReadWavHeader(file, "fuzz.wav", &info, &error), size, false);
    close(file);

    // A pipe holds 64 KiB, more than the inputs this target is run with.
    int ends[2];
    if (size > 60000 || pipe2(ends, O_CLOEXEC) != 0) return 0;
    if (write(ends[1], data, size) != static_cast<ssize_t>(size)) __builtin_trap();
    close(ends[1]);
    Check(info, ReadWavHeader(ends[0], "fuzz.wav", &info, &error), size, true);
    close(ends[0]);
    return 0;
}
