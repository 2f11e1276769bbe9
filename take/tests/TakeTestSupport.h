// What the take and keep tests share: a take written as numbered song files whose samples
// encode their frame numbers, and the sample bytes of a list of files one after the other.
#pragma once

#include <string>
#include <vector>

#include "take/Take.h"
#include "tests/support/TestFiles.h"

namespace taketest {

using namespace testsupport;

// Writes base's song files 1, 2, ... with the given frame counts, cut from one side of loud
// and quiet stretches; the side's sample bytes.
inline Bytes WriteTake(const std::string& base, const WavFormat& format,
                       const std::vector<long>& frames) {
    long total = 0;
    for (long n : frames) total += n;
    const Bytes side = MakeSamples(format, {{total / 3, true}, {total / 3, false}, {total, true}});
    const size_t frameBytes = size_t(format.FrameBytes());
    size_t at = 0;
    const size_t dot = base.rfind('.');
    for (size_t k = 0; k < frames.size(); ++k) {
        const size_t bytes = size_t(frames[k]) * frameBytes;
        WriteWav(base.substr(0, dot) + std::to_string(k + 1) + base.substr(dot), format,
                 Bytes(side.begin() + long(at), side.begin() + long(at + bytes)));
        at += bytes;
    }
    return Bytes(side.begin(), side.begin() + long(at));
}

inline Bytes Concatenated(const std::vector<std::string>& paths) {
    Bytes all;
    for (const std::string& p : paths) {
        const Bytes data = ReadWav(p).Data();
        all.insert(all.end(), data.begin(), data.end());
    }
    return all;
}

}  // namespace taketest
