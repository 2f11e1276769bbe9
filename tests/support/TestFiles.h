// What the tests of every folder share, without Qt or a test framework: temporary folders,
// whole files, WAV files written by hand the way the recorder writes them and read back by a
// parser of our own or by libsndfile, samples that encode their own frame number (a lost,
// repeated or reordered frame then shows in a byte comparison), and programs run as children.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace testsupport {

namespace fs = std::filesystem;
using Bytes = std::vector<char>;

// A fresh folder under the system's temporary folder, removed with everything in it.
class CTempDir {
public:
    CTempDir();
    ~CTempDir();
    CTempDir(const CTempDir&) = delete;
    CTempDir& operator=(const CTempDir&) = delete;
    const std::string& Path() const { return m_szPath; }
    fs::path operator/(const std::string& name) const { return fs::path(m_szPath) / name; }

private:
    std::string m_szPath;
};

Bytes ReadFile(const fs::path& path);  // the whole file; empty when it cannot be read
void WriteFile(const fs::path& path, const Bytes& bytes);

struct WavFormat {
    int nBits = 16;  // 32 is float, anything else PCM
    int nRate = 11025;
    int nChannels = 2;
    int FrameBytes() const { return nBits / 8 * nChannels; }
};

// A stretch of input: loud (every sample at least 1000 / 32768 in magnitude) or near-silent
// (at most 500 / 32768).
struct Segment {
    long nFrames;
    bool bLoud;
};

// Frames whose first two samples encode the frame's number (16-bit, or float holding whole
// multiples of 1 / 32768, which every reader returns exactly); DecodeFrame reads a stereo one.
Bytes MakeSamples(const WavFormat& format, const std::vector<Segment>& plan);
long DecodeFrame(const WavFormat& format, const char* frame);

// RIFF, "fmt " (16 bytes for PCM; 18 with cbSize 0 for float), "data", the samples and a pad
// byte after an odd count. oddChunk puts a 3-byte LIST chunk and its pad byte before "data".
Bytes MakeWav(const WavFormat& format, const Bytes& samples, bool oddChunk = false);
void WriteWav(const fs::path& path, const WavFormat& format, const Bytes& samples);

// A WAV file as our own parser reads it.
struct WavFile {
    Bytes bytes;  // the whole file
    uint32_t nRiffSize = 0;
    uint16_t nTag = 0, nChannels = 0, nBits = 0;
    uint32_t nRate = 0;
    size_t nDataOffset = 0;   // of the first sample; 0 when no "data" chunk was found
    uint32_t nDataBytes = 0;  // as the header declares them
    // "" for a finished file: the RIFF size and the data chunk with its pad byte end exactly
    // where the file ends. Otherwise what is wrong.
    std::string szProblem;
    Bytes Data() const;  // the declared sample bytes that are there
};
WavFile ReadWav(const fs::path& path);

// What libsndfile makes of a file; the samples as stored (16-bit or float, this machine's byte
// order), for a byte comparison with what was written.
struct SndfileView {
    std::string szError;  // "" when the file opened
    int64_t nFrames = 0;
    int nChannels = 0, nRate = 0;
    bool bFloat = false;
    Bytes samples;
};
SndfileView ReadWithSndfile(const fs::path& path);

// Runs a program (no shell) and returns its exit status (-1 when it did not exit, 127 when it
// could not be run) and its standard output; its standard error is discarded.
struct ToolResult {
    int nStatus = -1;
    std::string szOut;
};
ToolResult RunTool(const std::vector<std::string>& argv);
bool ToolInstalled(const std::string& name);

}  // namespace testsupport
