#include "tests/support/TestFiles.h"

#include <sndfile.h>
#include <sys/wait.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace testsupport {

CTempDir::CTempDir() {
    std::string pattern = (fs::temp_directory_path() / "vellisto-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    m_szPath = pattern;
}

CTempDir::~CTempDir() {
    std::error_code ignored;
    fs::remove_all(m_szPath, ignored);
}

Bytes ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary | std::ios::ate);
    Bytes bytes(in ? size_t(in.tellg()) : 0);
    in.seekg(0);
    in.read(bytes.data(), std::streamsize(bytes.size()));
    bytes.resize(size_t(in ? bytes.size() : in.gcount()));
    return bytes;
}

void WriteFile(const fs::path& path, const Bytes& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

Bytes MakeSamples(const WavFormat& format, const std::vector<Segment>& plan) {
    long frames = 0;
    for (const Segment& s : plan) frames += s.nFrames;
    // Written in place: the sanitizer builds' tests generate minutes of audio with this.
    const size_t sampleBytes = size_t(format.nBits / 8);
    Bytes out(size_t(frames) * size_t(format.FrameBytes()));
    char* to = out.data();
    long frame = 0;
    for (const Segment& s : plan) {
        for (long i = 0; i < s.nFrames; ++i, ++frame) {
            const int v[2] = {
                s.bLoud ? 1000 + int(frame % 30000) : -500 + int(frame % 1000),
                s.bLoud ? -(1000 + int(frame / 30000 % 30000)) : -500 + int(frame / 1000 % 1000)};
            for (int ch = 0; ch < format.nChannels; ++ch, to += sampleBytes) {
                const int16_t s16 = int16_t(v[ch % 2]);
                const float f = float(v[ch % 2]) / 32768.0f;
                std::memcpy(to, format.nBits == 32 ? static_cast<const void*>(&f) : &s16,
                            sampleBytes);
            }
        }
    }
    return out;
}

long DecodeFrame(const WavFormat& format, const char* frame) {
    int v[2];
    for (int ch = 0; ch < 2; ++ch) {
        if (format.nBits == 32) {
            float f;
            std::memcpy(&f, frame + 4 * ch, 4);
            v[ch] = int(std::lround(f * 32768.0f));
        } else {
            int16_t s;
            std::memcpy(&s, frame + 2 * ch, 2);
            v[ch] = s;
        }
    }
    if (v[0] >= 1000) return (v[0] - 1000) + 30000L * (-v[1] - 1000);
    return (v[0] + 500) + 1000L * (v[1] + 500);
}

namespace {
void PutLe(Bytes& out, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(char(v >> (8 * i)));
}
void PutTag(Bytes& out, const char* tag) { out.insert(out.end(), tag, tag + 4); }
}  // namespace

Bytes MakeWav(const WavFormat& format, const Bytes& samples, bool oddChunk) {
    const bool isFloat = format.nBits == 32;
    const uint32_t fmtSize = isFloat ? 18 : 16, extra = oddChunk ? 12 : 0;
    const uint32_t size = uint32_t(samples.size());
    Bytes h;
    PutTag(h, "RIFF");
    PutLe(h, 4 + 8 + fmtSize + extra + 8 + size + (size & 1), 4);
    PutTag(h, "WAVE");
    PutTag(h, "fmt ");
    PutLe(h, fmtSize, 4);
    PutLe(h, isFloat ? 3 : 1, 2);
    PutLe(h, uint32_t(format.nChannels), 2);
    PutLe(h, uint32_t(format.nRate), 4);
    PutLe(h, uint32_t(format.FrameBytes() * format.nRate), 4);
    PutLe(h, uint32_t(format.FrameBytes()), 2);
    PutLe(h, uint32_t(format.nBits), 2);
    if (isFloat) PutLe(h, 0, 2);
    if (oddChunk) PutTag(h, "LIST"), PutLe(h, 3, 4), PutTag(h, "abc\0");
    PutTag(h, "data");
    PutLe(h, size, 4);
    h.insert(h.end(), samples.begin(), samples.end());
    if (size & 1) h.push_back(0);
    return h;
}

void WriteWav(const fs::path& path, const WavFormat& format, const Bytes& samples) {
    WriteFile(path, MakeWav(format, samples));
}

WavFile ReadWav(const fs::path& path) {
    WavFile w;
    w.bytes = ReadFile(path);
    const Bytes& b = w.bytes;
    auto le = [&b](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(b[at + size_t(i)]);
        return v;
    };
    if (b.size() < 12 || std::memcmp(b.data(), "RIFF", 4) || std::memcmp(b.data() + 8, "WAVE", 4)) {
        w.szProblem = "not a RIFF/WAVE file of " + std::to_string(b.size()) + " bytes";
        return w;
    }
    w.nRiffSize = le(4, 4);
    for (size_t at = 12; at + 8 <= b.size();) {
        const uint32_t size = le(at + 4, 4);
        if (!std::memcmp(b.data() + at, "fmt ", 4) && at + 24 <= b.size()) {
            w.nTag = uint16_t(le(at + 8, 2));
            w.nChannels = uint16_t(le(at + 10, 2));
            w.nRate = le(at + 12, 4);
            w.nBits = uint16_t(le(at + 22, 2));
        } else if (!std::memcmp(b.data() + at, "data", 4)) {
            w.nDataOffset = at + 8;
            w.nDataBytes = size;
            break;
        }
        at += 8 + uint64_t(size) + (size & 1);
    }
    const uint64_t dataEnd = w.nDataOffset + uint64_t(w.nDataBytes) + (w.nDataBytes & 1);
    if (w.nDataOffset == 0) {
        w.szProblem = "no data chunk";
    } else if (uint64_t(w.nRiffSize) + 8 != b.size()) {
        w.szProblem = "RIFF size " + std::to_string(w.nRiffSize) + " in a file of " +
                      std::to_string(b.size()) + " bytes";
    } else if (dataEnd != b.size()) {
        w.szProblem = "data size " + std::to_string(w.nDataBytes) + " at " +
                      std::to_string(w.nDataOffset) + " in a file of " + std::to_string(b.size()) +
                      " bytes";
    }
    return w;
}

Bytes WavFile::Data() const {
    if (nDataOffset == 0 || nDataOffset > bytes.size()) return {};
    const size_t end = std::min(bytes.size(), nDataOffset + size_t(nDataBytes));
    return Bytes(bytes.begin() + long(nDataOffset), bytes.begin() + long(end));
}

SndfileView ReadWithSndfile(const fs::path& path) {
    SndfileView view;
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    if (file == nullptr) {
        view.szError = sf_strerror(nullptr);
        return view;
    }
    view.nFrames = info.frames;
    view.nChannels = info.channels;
    view.nRate = info.samplerate;
    view.bFloat = (info.format & SF_FORMAT_SUBMASK) == SF_FORMAT_FLOAT;
    const sf_count_t samples = info.frames * info.channels;
    view.samples.resize(size_t(samples) * (view.bFloat ? 4 : 2));
    const sf_count_t got =
        view.bFloat ? sf_read_float(file, reinterpret_cast<float*>(view.samples.data()), samples)
                    : sf_read_short(file, reinterpret_cast<short*>(view.samples.data()), samples);
    view.samples.resize(size_t(got) * (view.bFloat ? 4 : 2));
    sf_close(file);
    return view;
}

ToolResult RunTool(const std::string& command) {
    ToolResult result;
    FILE* pipe = ::popen((command + " 2>/dev/null").c_str(), "r");
    if (pipe == nullptr) return result;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0;)
        result.szOut.append(chunk, n);
    const int status = ::pclose(pipe);
    if (WIFEXITED(status)) result.nStatus = WEXITSTATUS(status);
    return result;
}

bool ToolInstalled(const std::string& name) { return RunTool("command -v " + name).nStatus == 0; }

}  // namespace testsupport
