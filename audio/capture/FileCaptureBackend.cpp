#include "FileCaptureBackend.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

namespace {

constexpr uint16_t kFormatExtensible = 0xFFFE;

uint16_t Le16(const unsigned char* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t Le32(const unsigned char* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

bool ReadAt(int fd, uint64_t offset, void* dest, size_t bytes) {
    auto* out = static_cast<char*>(dest);
    while (bytes > 0) {
        const ssize_t got = pread(fd, out, bytes, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        out += got;
        offset += static_cast<uint64_t>(got);
        bytes -= static_cast<size_t>(got);
    }
    return true;
}

std::string Describe(uint16_t tag, uint16_t bits) {
    char text[96];
    if (tag == WAVE_FORMAT_PCM) {
        std::snprintf(text, sizeof text, "%u-bit PCM", bits);
    } else if (tag == WAVE_FORMAT_IEEE_FLOAT) {
        std::snprintf(text, sizeof text, "%u-bit float", bits);
    } else {
        std::snprintf(text, sizeof text, "format tag %u with %u bits", tag, bits);
    }
    return text;
}

bool ParseWav(int fd, uint64_t fileSize, const std::string& path, WavFileInfo* info,
              std::string* error) {
    unsigned char riff[12];
    if (fileSize < 12 || !ReadAt(fd, 0, riff, sizeof riff) || std::memcmp(riff, "RIFF", 4) != 0 ||
        std::memcmp(riff + 8, "WAVE", 4) != 0) {
        *error = path + " is not a WAV file (no RIFF/WAVE header)";
        return false;
    }
    bool haveFormat = false;
    uint64_t pos = 12;
    while (pos + 8 <= fileSize) {
        unsigned char chunk[8];
        if (!ReadAt(fd, pos, chunk, sizeof chunk)) break;
        const uint32_t size = Le32(chunk + 4);
        const uint64_t body = pos + 8;
        if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[40] = {};
            if (size < 16 || body + std::min<uint64_t>(size, sizeof fmt) > fileSize ||
                !ReadAt(fd, body, fmt, std::min<size_t>(size, sizeof fmt))) {
                *error = path + " is truncated or damaged (bad \"fmt \" chunk)";
                return false;
            }
            WAVEFORMATEX& f = info->format;
            f.wFormatTag = Le16(fmt);
            f.nChannels = Le16(fmt + 2);
            f.nSamplesPerSec = Le32(fmt + 4);
            f.nAvgBytesPerSec = Le32(fmt + 8);
            f.nBlockAlign = Le16(fmt + 12);
            f.wBitsPerSample = Le16(fmt + 14);
            f.cbSize = 0;
            // The extensible header names the real sample type in its sub-format GUID, whose
            // first two bytes are the plain format tag.
            if (f.wFormatTag == kFormatExtensible && size >= 40) f.wFormatTag = Le16(fmt + 24);
            haveFormat = true;
        } else if (std::memcmp(chunk, "data", 4) == 0) {
            if (!haveFormat) {
                *error = path + " is not a usable WAV file (no \"fmt \" chunk before the data)";
                return false;
            }
            const WAVEFORMATEX& f = info->format;
            const bool pcm16 = f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16;
            const bool float32 = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32;
            if (!pcm16 && !float32) {
                *error = path + " holds " + Describe(f.wFormatTag, f.wBitsPerSample) +
                         " samples; only 16-bit PCM and 32-bit float WAV files can be read";
                return false;
            }
            if (f.nChannels == 0 || f.nSamplesPerSec == 0 ||
                f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8)) {
                *error = path + " has an inconsistent \"fmt \" chunk";
                return false;
            }
            if (body + size > fileSize) {
                char text[160];
                std::snprintf(text, sizeof text,
                              " is truncated: its data chunk declares %u bytes but %llu follow",
                              size, static_cast<unsigned long long>(fileSize - body));
                *error = path + text;
                return false;
            }
            if (size % f.nBlockAlign != 0) {
                *error = path + " is truncated or damaged (the data ends inside a frame)";
                return false;
            }
            info->nDataOffset = body;
            info->nDataBytes = size;
            return true;
        }
        pos = body + size + (size & 1);  // chunks are padded to even sizes
    }
    *error = path + (haveFormat ? " has no data chunk (truncated?)"
                                : " is not a usable WAV file (no \"fmt \" chunk)");
    return false;
}

}  // namespace

bool ReadWavFileInfo(const std::string& path, WavFileInfo* info, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *error = "Cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    struct stat st {};
    bool ok = false;
    if (fstat(fd, &st) != 0) {
        *error = "Cannot read " + path + ": " + std::strerror(errno);
    } else if (S_ISDIR(st.st_mode)) {
        *error = "Cannot read " + path + ": it is a folder";
    } else {
        *info = WavFileInfo{};
        ok = ParseWav(fd, static_cast<uint64_t>(st.st_size), path, info, error);
    }
    ::close(fd);
    return ok;
}

CFileCaptureBackend::CFileCaptureBackend(std::string path, FilePacing pacing)
    : m_strPath(std::move(path)), m_pacing(pacing) {
    m_bValid = ReadWavFileInfo(m_strPath, &m_info, &m_strError);
}

CFileCaptureBackend::~CFileCaptureBackend() { Shutdown(); }

int CFileCaptureBackend::GetDeviceCount() { return m_bValid ? 1 : 0; }

bool CFileCaptureBackend::GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) {
    if (!m_bValid || deviceId != 0 || !caps) return false;
    *caps = WaveInCaps{};
    const size_t slash = m_strPath.find_last_of('/');
    const std::string name = slash == std::string::npos ? m_strPath : m_strPath.substr(slash + 1);
    std::snprintf(caps->szPname, sizeof caps->szPname, "%s", name.c_str());
    caps->wChannels = m_info.format.nChannels;
    return true;
}

bool CFileCaptureBackend::Accepts(uint32_t deviceId, const WAVEFORMATEX& format) const {
    const WAVEFORMATEX& f = m_info.format;
    return m_bValid && (deviceId == 0 || deviceId == WAVE_MAPPER) &&
           format.wFormatTag == f.wFormatTag && format.nChannels == f.nChannels &&
           format.nSamplesPerSec == f.nSamplesPerSec && format.wBitsPerSample == f.wBitsPerSample;
}

bool CFileCaptureBackend::QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) {
    return Accepts(deviceId, format);
}

bool CFileCaptureBackend::OpenSource(uint32_t deviceId, const WAVEFORMATEX& format,
                                     SourceTraits* traits) {
    if (!Accepts(deviceId, format)) return false;
    m_hFile = ::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (m_hFile < 0) return false;
    if (lseek(m_hFile, static_cast<off_t>(m_info.nDataOffset), SEEK_SET) < 0) {
        ::close(m_hFile);
        m_hFile = -1;
        return false;
    }
    m_nRemaining = m_info.nDataBytes;
    m_nBytesRead.store(0);
    if (m_pacing == FilePacing::RealTime) {
        traits->bPaced = true;
        traits->bLossy = true;
        // About 20 ms a piece, so a late reader loses little more than it must.
        traits->nMaxPieceBytes = static_cast<uint32_t>(std::min<uint64_t>(
            1u << 20, uint64_t{format.nSamplesPerSec} * format.nBlockAlign / 50));
    } else {
        traits->bPaced = false;
        traits->bLossy = false;
        traits->nMaxPieceBytes = 1u << 20;
    }
    return true;
}

void CFileCaptureBackend::CloseSource() {
    if (m_hFile >= 0) ::close(m_hFile);
    m_hFile = -1;
}

CQueuedCaptureBackend::ReadResult CFileCaptureBackend::ReadSource(void* dest, uint32_t bytes) {
    ReadResult result;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes, m_nRemaining));
    auto* out = static_cast<char*>(dest);
    while (result.nBytes < want) {
        const ssize_t got = ::read(m_hFile, out + result.nBytes, want - result.nBytes);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        result.nBytes += static_cast<uint32_t>(got);
    }
    // A read error ends the input like the end of the data does; whole frames only.
    result.nBytes -= result.nBytes % FrameBytes();
    m_nRemaining -= result.nBytes;
    m_nBytesRead.fetch_add(result.nBytes);
    result.bEnd = result.nBytes < bytes;
    return result;
}

std::unique_ptr<ICaptureBackend> MakeFileCaptureBackend(const std::string& wavPath,
                                                        FilePacing pacing) {
    return std::make_unique<CFileCaptureBackend>(wavPath, pacing);
}
