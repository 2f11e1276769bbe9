#include "audio/WaveFileReader.h"

#include <fcntl.h>
#include <poll.h>
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
uint64_t Le64(const unsigned char* p) { return Le32(p) | (uint64_t{Le32(p + 4)} << 32); }

// The three containers of WAV data: RIFF (sizes of 32 bits), RF64 (RIFF with the sizes past
// 4 GiB in a "ds64" chunk; also called BW64) and Wave64 (16-byte ids, 64-bit sizes that count
// the chunk's own 24-byte header, chunks aligned to 8 bytes).
enum class Container { Riff, Rf64, Wave64 };

// Wave64's ids: "riff" with its own tail, "wave", "fmt ", "data" and the others with this one.
constexpr unsigned char kW64RiffTail[12] = {0x2E, 0x91, 0xCF, 0x11, 0xA5, 0xD6,
                                            0x28, 0xDB, 0x04, 0xC1, 0x00, 0x00};
constexpr unsigned char kW64Tail[12] = {0xF3, 0xAC, 0xD3, 0x11, 0x8C, 0xD1,
                                        0x00, 0xC0, 0x4F, 0x8E, 0xDB, 0x8A};

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

// Reads a header in order, from a file (at offsets) or from a stream (as it comes).
class CHeaderSource {
public:
    CHeaderSource(int fd, bool seekable, const std::atomic<int>* interrupt)
        : m_fd(fd), m_bSeekable(seekable), m_pInterrupt(interrupt) {}

    // Exactly n bytes, or false (the end, an error, an interruption: see Problem()).
    bool Read(void* dest, size_t n) {
        auto* out = static_cast<char*>(dest);
        while (n > 0) {
            // A stream that never blocks (zeros without end) is stopped here.
            if (m_pInterrupt && m_pInterrupt->load() != 0) {
                m_problem = WavProblem::Interrupted;
                return false;
            }
            const ssize_t got = m_bSeekable ? ::pread(m_fd, out, n, static_cast<off_t>(m_nPos))
                                            : ::read(m_fd, out, n);
            if (got < 0 && errno == EINTR) {
                if (m_pInterrupt && m_pInterrupt->load() != 0) {
                    m_problem = WavProblem::Interrupted;
                    return false;
                }
                continue;
            }
            if (got < 0) m_nErrno = errno;
            if (got <= 0) return false;
            out += got;
            n -= static_cast<size_t>(got);
            m_nPos += static_cast<uint64_t>(got);
        }
        return true;
    }
    bool Skip(uint64_t n) {
        if (m_bSeekable) {
            m_nPos += n;
            return true;
        }
        char scrap[4096];
        while (n > 0) {
            const size_t step = static_cast<size_t>(std::min<uint64_t>(n, sizeof scrap));
            if (!Read(scrap, step)) return false;
            n -= step;
        }
        return true;
    }
    uint64_t Pos() const { return m_nPos; }
    int Fd() const { return m_fd; }
    // Why the last Read failed: None at the end of the input.
    WavProblem Problem() const { return m_nErrno ? WavProblem::Unreadable : m_problem; }
    int Errno() const { return m_nErrno; }

private:
    int m_fd;
    bool m_bSeekable;
    const std::atomic<int>* m_pInterrupt;
    uint64_t m_nPos = 0;
    int m_nErrno = 0;
    WavProblem m_problem = WavProblem::None;
};

// The data sizes streaming writers put in a header they cannot go back to.
bool IsStreamingPlaceholder(uint32_t size) { return size == 0xFFFFFFFFu || size == 0x7FFFF000u; }

// A stream's header, unknown chunks included, ends within this many bytes, or it is given up.
constexpr uint64_t kStreamHeaderLimit = 16u << 20;

bool IsChunkId(const unsigned char* id) {
    for (int k = 0; k < 4; ++k) {
        if (id[k] < 0x20 || id[k] > 0x7E) return false;
    }
    return true;
}

// Does a chunk (or a pad byte and a chunk) begin at `at` of a file?
bool ChunkFollows(int fd, uint64_t at) {
    unsigned char id[5];
    const ssize_t n = ::pread(fd, id, sizeof id, static_cast<off_t>(at));
    return (n >= 4 && IsChunkId(id)) || (n == 5 && IsChunkId(id + 1));
}

// The first "data" chunk among a file's chunks from `at` on, into info.
void FindSecondData(int fd, uint64_t at, uint64_t fileSize, WavFileInfo* info) {
    for (int k = 0; k < 1000 && at + 8 <= fileSize; ++k) {
        unsigned char chunk[8];
        if (::pread(fd, chunk, 8, static_cast<off_t>(at)) != 8 || !IsChunkId(chunk)) return;
        const uint32_t size = Le32(chunk + 4);
        if (std::memcmp(chunk, "data", 4) == 0) {
            info->nSecondDataOffset = at + 8;
            info->nSecondDataBytes = size;
            return;
        }
        at += 8 + uint64_t{size} + (size & 1);
    }
}

// fileSize: the whole file's length, 0 for a stream.
bool ParseWav(CHeaderSource& in, uint64_t fileSize, const std::string& path, WavFileInfo* info,
              std::string* error) {
    auto fail = [&](WavProblem problem, const std::string& text) {
        // A read that failed says why, whatever was being read.
        if (in.Problem() == WavProblem::Interrupted) {
            info->problem = WavProblem::Interrupted;
            *error = "reading " + path + " was interrupted";
        } else if (in.Problem() == WavProblem::Unreadable) {
            info->problem = WavProblem::Unreadable;
            *error = "Cannot read " + path + ": " + std::strerror(in.Errno());
        } else {
            info->problem = problem;
            *error = path + text;
        }
        return false;
    };
    const bool stream = fileSize == 0;
    unsigned char riff[40];
    if ((!stream && fileSize < 12) || !in.Read(riff, 12)) {
        return fail(WavProblem::NotWav, " is not a WAV file (no RIFF/WAVE header)");
    }
    Container container = Container::Riff;
    if (std::memcmp(riff, "riff", 4) == 0) {
        container = Container::Wave64;
        if ((!stream && fileSize < 40) || !in.Read(riff + 12, 28) ||
            std::memcmp(riff + 4, kW64RiffTail, 12) != 0 ||
            std::memcmp(riff + 24, "wave", 4) != 0 || std::memcmp(riff + 28, kW64Tail, 12) != 0) {
            return fail(WavProblem::NotWav, " is not a WAV file (no RIFF/WAVE header)");
        }
    } else if ((std::memcmp(riff, "RF64", 4) == 0 || std::memcmp(riff, "BW64", 4) == 0) &&
               std::memcmp(riff + 8, "WAVE", 4) == 0) {
        container = Container::Rf64;
    } else if (std::memcmp(riff, "RIFF", 4) != 0 || std::memcmp(riff + 8, "WAVE", 4) != 0) {
        return fail(WavProblem::NotWav, " is not a WAV file (no RIFF/WAVE header)");
    }
    const bool w64 = container == Container::Wave64;
    const size_t headerBytes = w64 ? 24 : 8;
    bool haveFormat = false;
    bool haveDs64 = false;
    uint64_t ds64Data = 0;  // RF64: the data chunk's size
    for (;;) {
        unsigned char chunk[24];
        if ((!stream && in.Pos() + headerBytes > fileSize) || !in.Read(chunk, headerBytes)) break;
        uint64_t size = 0;
        if (w64) {
            // An id of another tail is no chunk this reader knows: skipped by its size.
            if (std::memcmp(chunk + 4, kW64Tail, 12) != 0) std::memset(chunk, 0, 4);
            size = Le64(chunk + 16);
            if (size < 24) {
                return fail(WavProblem::Damaged, " is truncated or damaged (bad chunk size)");
            }
            size -= 24;
        } else {
            size = Le32(chunk + 4);
        }
        const uint64_t pad = w64 ? (8 - size % 8) % 8 : (size & 1);  // to the next chunk
        const uint64_t body = in.Pos();
        // A 64-bit size past the file's end would wrap the position round: only the data may
        // claim more than there is (it is then read to the end).
        if (!stream && size > fileSize - body && std::memcmp(chunk, "data", 4) != 0 &&
            std::memcmp(chunk, "fmt ", 4) != 0) {
            break;
        }
        if (stream && std::memcmp(chunk, "data", 4) != 0 &&
            (body > kStreamHeaderLimit || size > kStreamHeaderLimit - body)) {
            return fail(WavProblem::Damaged,
                        " shows no data chunk in its first 16 MiB; not a WAV stream that can be "
                        "split");
        }
        if (container == Container::Rf64 && std::memcmp(chunk, "ds64", 4) == 0) {
            unsigned char ds64[16];
            if (size < 16 || !in.Read(ds64, sizeof ds64) || !in.Skip(size - 16 + pad)) {
                return fail(WavProblem::Damaged, " is truncated or damaged (bad \"ds64\" chunk)");
            }
            ds64Data = Le64(ds64 + 8);
            haveDs64 = true;
        } else if (std::memcmp(chunk, "fmt ", 4) == 0) {
            unsigned char fmt[40] = {};
            const size_t want = static_cast<size_t>(std::min<uint64_t>(size, sizeof fmt));
            if (size < 16 || (!stream && size > fileSize - body) || !in.Read(fmt, want) ||
                !in.Skip(size - want + pad)) {
                return fail(WavProblem::Damaged, " is truncated or damaged (bad \"fmt \" chunk)");
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
                return fail(WavProblem::Damaged,
                            " is not a usable WAV file (no \"fmt \" chunk before the data)");
            }
            const WAVEFORMATEX& f = info->format;
            const bool pcm16 = f.wFormatTag == WAVE_FORMAT_PCM && f.wBitsPerSample == 16;
            const bool float32 = f.wFormatTag == WAVE_FORMAT_IEEE_FLOAT && f.wBitsPerSample == 32;
            if (!pcm16 && !float32) {
                return fail(WavProblem::SampleType,
                            " holds " + Describe(f.wFormatTag, f.wBitsPerSample) +
                                " samples; only 16-bit PCM and 32-bit float WAV files can be read");
            }
            if (f.nChannels == 0 || f.nSamplesPerSec == 0 ||
                f.nBlockAlign != f.nChannels * (f.wBitsPerSample / 8)) {
                return fail(WavProblem::Damaged, " has an inconsistent \"fmt \" chunk");
            }
            // RF64 keeps the data's real size in its "ds64" chunk; one still 0 there was never
            // written (a stream, or a writer cut off), as in a RIFF header.
            bool placeholder = container == Container::Riff && IsStreamingPlaceholder(size);
            if (container == Container::Rf64 && size == 0xFFFFFFFFu) {
                placeholder = !haveDs64 || ds64Data == 0;
                size = haveDs64 ? ds64Data : size;
            }
            info->nDataOffset = body;
            info->nDeclaredBytes = static_cast<uint32_t>(std::min<uint64_t>(size, UINT32_MAX));
            info->bStream = stream;
            auto toTheEnd = [&] {
                info->bSizeToEnd = true;
                info->nDataBytes = stream ? WavFileInfo::kToTheEnd
                                          : (fileSize - body) / f.nBlockAlign * f.nBlockAlign;
                return true;
            };
            const bool follows = stream || size < fileSize - body;
            if (placeholder || (!stream && size > fileSize - body) || (size == 0 && follows)) {
                return toTheEnd();
            }
            info->nPartialBytes = static_cast<uint32_t>(size % f.nBlockAlign);
            if (info->nPartialBytes != 0 && !stream && follows && !w64 &&
                !ChunkFollows(in.Fd(), body + size)) {
                return toTheEnd();
            }
            info->nDataBytes = size - info->nPartialBytes;
            if (!stream && !w64) FindSecondData(in.Fd(), body + size + (size & 1), fileSize, info);
            return true;
        } else if (!in.Skip(size + pad)) {
            break;
        }
    }
    return fail(WavProblem::Damaged, haveFormat ? " has no data chunk (truncated?)"
                                                : " is not a usable WAV file (no \"fmt \" chunk)");
}

}  // namespace

bool ReadWavHeader(int fd, const std::string& name, WavFileInfo* info, std::string* error,
                   const std::atomic<int>* interrupt) {
    *info = WavFileInfo{};
    struct stat st {};
    if (fstat(fd, &st) != 0) {
        info->problem = WavProblem::Unreadable;
        *error = "Cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    if (S_ISDIR(st.st_mode)) {
        info->problem = WavProblem::Unreadable;
        *error = "Cannot read " + name + ": it is a folder";
        return false;
    }
    const bool seekable = S_ISREG(st.st_mode);
    CHeaderSource in(fd, seekable, interrupt);
    if (!ParseWav(in, seekable ? static_cast<uint64_t>(st.st_size) : 0, name, info, error)) {
        return false;
    }
    // A file is read on from the data's first byte; a stream already stands there.
    if (seekable && lseek(fd, static_cast<off_t>(info->nDataOffset), SEEK_SET) < 0) {
        info->problem = WavProblem::Unreadable;
        *error = "Cannot read " + name + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool ReadWavFileInfo(const std::string& path, WavFileInfo* info, std::string* error) {
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        *info = WavFileInfo{};
        info->problem = WavProblem::Unreadable;
        *error = "Cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool ok = ReadWavHeader(fd, path, info, error);
    ::close(fd);
    return ok;
}
