// Helpers for the WAV writer tests: scratch folders, whole-file reads, header fields, known
// sample streams, independent readers run as child processes, and a private tmpfs mount.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace writer_test {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it.
class ScratchDir {
public:
    ScratchDir();
    ~ScratchDir();
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;
    const std::string& Path() const { return m_szPath; }
    std::string File(const std::string& name) const { return m_szPath + "/" + name; }

private:
    std::string m_szPath;
};

std::vector<uint8_t> ReadAll(const std::string& path);
void WriteAll(const std::string& path, const std::vector<uint8_t>& bytes);
uint32_t Le32(const std::vector<uint8_t>& bytes, size_t offset);
uint16_t Le16(const std::vector<uint8_t>& bytes, size_t offset);

// A byte stream whose samples are known: 16-bit samples (bits 16) or floats in [-1, 1) (bits
// 32), little-endian, sample j derived from j alone. Any prefix is a prefix of the stream.
std::vector<uint8_t> SampleStream(size_t bytes, int bits);

// What libsndfile makes of a file.
struct SndfileView {
    bool bOpened = false;
    std::string szError;
    int64_t nFrames = 0;
    int nChannels = 0;
    int nRate = 0;
    int nSubFormat = 0;               // SF_FORMAT_PCM_16, SF_FORMAT_FLOAT, ...
    std::vector<int16_t> samples16;   // when 16-bit PCM
    std::vector<float> samplesFloat;  // when float
};
SndfileView ReadWithSndfile(const std::string& path);

// Samples that a reader must produce from the first `bytes` of SampleStream.
std::vector<int16_t> Expected16(const std::vector<uint8_t>& stream, size_t bytes);
std::vector<float> ExpectedFloat(const std::vector<uint8_t>& stream, size_t bytes);

// Runs a program (no shell), returning its exit status (-1 if it did not exit normally) and
// what it wrote to stdout; stderr is discarded.
struct ToolResult {
    int nStatus = -1;
    std::string szOut;
};
ToolResult RunTool(const std::vector<std::string>& argv);
bool ToolInstalled(const std::string& name);

// A tmpfs mounted in a child's private mount namespace, reached from here through
// /proc/<child>/root, so that nothing leaks into the machine's mounts and the mount goes away
// with the child. Mounting needs CAP_SYS_ADMIN: check Ready() and Why().
class PrivateTmpfs {
public:
    PrivateTmpfs(const std::string& mountPoint, const std::string& options, bool readOnly);
    ~PrivateTmpfs();
    PrivateTmpfs(const PrivateTmpfs&) = delete;
    PrivateTmpfs& operator=(const PrivateTmpfs&) = delete;
    bool Ready() const { return m_bReady; }
    const std::string& Why() const { return m_szWhy; }
    std::string File(const std::string& name) const;

private:
    pid_t m_nChild = -1;
    int m_hRelease = -1;  // closing it lets the child end
    bool m_bReady = false;
    std::string m_szWhy;
    std::string m_szMountPoint;
};

}  // namespace writer_test
