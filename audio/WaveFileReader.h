// The WAV reader: the header of a 16-bit PCM or 32-bit float WAV, checked and described, from a
// path or from a descriptor its user opened once (a pipe, a FIFO, standard input). It sits
// beside the WAV writer; the file capture device plays what it finds, and the take library
// reads song files through it. Plain functions, any thread.
//
// Streaming writers cannot patch the data size: a size that is a streaming placeholder
// (0xFFFFFFFF, 0x7FFFF000), runs past the end of the file, or is 0 with bytes after it (what
// an interrupted writer leaves) means "to the end of the file" (whole frames), and the info
// says so (bSizeToEnd). A size that ends inside a frame is read to the end of the file when
// bytes that are no chunk follow it, and otherwise in the whole frames it declares
// (nPartialBytes). A stream that shows no data chunk in its first 16 MiB is given up.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>

#include "audio/WaveFormat.h"

// Why a header was refused.
enum class WavProblem { None, Unreadable, NotWav, SampleType, Damaged, Interrupted };

struct WavFileInfo {
    WAVEFORMATEX format{};     // as found in the "fmt " chunk (extensible formats reduced to 1/3)
    uint64_t nDataOffset = 0;  // bytes from the file's start to the first sample
    uint64_t nDataBytes = 0;   // bytes of samples, a whole number of frames (kToTheEnd: unknown)
    bool bStream = false;      // read as a stream (a pipe): once, from the header's end on
    // The declared data size was a streaming placeholder or ran past the end of the file; it
    // was taken as "to the end" and nDeclaredBytes holds what it said.
    bool bSizeToEnd = false;
    uint32_t nDeclaredBytes = 0;
    // The declared size ended inside a frame: those bytes of a partial frame were left out (or,
    // with bSizeToEnd, the data was read to the end of the file instead).
    uint32_t nPartialBytes = 0;
    // A file's second "data" chunk after the first (which alone is the audio): where its bytes
    // start and how many it declares; 0 when there is none.
    uint64_t nSecondDataOffset = 0;
    uint32_t nSecondDataBytes = 0;
    WavProblem problem = WavProblem::None;  // set when the header was refused
    static constexpr uint64_t kToTheEnd = UINT64_MAX;
};

// Reads and checks the header of a 16-bit PCM or 32-bit float WAV. Any thread.
bool ReadWavFileInfo(const std::string& path, WavFileInfo* info, std::string* error);
// The same from an open descriptor, which is left at the first sample byte; name stands for
// the input in the messages. Once *interrupt is set (before a read, or by the signal that
// interrupts one) the header fails with problem Interrupted; an interrupted read is retried
// otherwise.
bool ReadWavHeader(int fd, const std::string& name, WavFileInfo* info, std::string* error,
                   const std::atomic<int>* interrupt = nullptr);
