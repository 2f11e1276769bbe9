#include "audio/capture/FileCaptureBackend.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>

CFileCaptureBackend::CFileCaptureBackend(std::string path, FilePacing pacing)
    : m_strPath(std::move(path)), m_pacing(pacing) {
    m_bValid = ReadWavFileInfo(m_strPath, &m_info, &m_strError);
}

CFileCaptureBackend::CFileCaptureBackend(int fd, std::string name, const WavFileInfo& info,
                                         FilePacing pacing)
    : m_strPath(std::move(name)), m_pacing(pacing), m_bOwnFd(true), m_info(info), m_hFile(fd) {
    m_bValid = fd >= 0 && info.format.nBlockAlign != 0;
    if (!m_bValid) m_strError = "Cannot read " + m_strPath;
}

CFileCaptureBackend::~CFileCaptureBackend() {
    Shutdown();
    if (m_bOwnFd && m_hFile >= 0) ::close(m_hFile);
}

int CFileCaptureBackend::GetDeviceCount() { return m_bValid ? 1 : 0; }

bool CFileCaptureBackend::GetOpenFailure(char* text, size_t size) const {
    if (m_bValid || m_strError.empty() || size == 0) return false;
    std::snprintf(text, size, "%s", m_strError.c_str());
    return true;
}

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
    if (m_bOwnFd) {
        // A stream plays once; a file starts again at its data's first byte.
        if (m_info.bStream ? m_bStreamUsed
                           : lseek(m_hFile, static_cast<off_t>(m_info.nDataOffset), SEEK_SET) < 0) {
            return false;
        }
        m_bStreamUsed = true;
    } else {
        m_hFile = ::open(m_strPath.c_str(), O_RDONLY | O_CLOEXEC);
        if (m_hFile < 0) return false;
        if (lseek(m_hFile, static_cast<off_t>(m_info.nDataOffset), SEEK_SET) < 0) {
            ::close(m_hFile);
            m_hFile = -1;
            return false;
        }
    }
    m_nRemaining = m_info.nDataBytes;
    m_nBytesRead.store(0);
    m_nBytesDropped.store(0);
    m_nRecentEnd = 0;
    if (m_info.bStream && !m_pRecent) m_pRecent.reset(new char[kRecentBytes]);
    m_nReadErrno.store(0);
    m_bCancel.store(false);
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
        traits->nWakeBatch = 4;
    }
    return true;
}

void CFileCaptureBackend::CloseSource() {
    if (m_bOwnFd) return;
    if (m_hFile >= 0) ::close(m_hFile);
    m_hFile = -1;
}

bool CFileCaptureBackend::Stop() {
    m_bCancel.store(true);
    return CQueuedCaptureBackend::Stop();
}

bool CFileCaptureBackend::Reset() {
    m_bCancel.store(true);
    return CQueuedCaptureBackend::Reset();
}

bool CFileCaptureBackend::Close() {
    m_bCancel.store(true);
    return CQueuedCaptureBackend::Close();
}

size_t CFileCaptureBackend::CopyRecent(uint64_t from, void* dest, size_t bytes) const {
    if (!m_pRecent || from > m_nRecentEnd || m_nRecentEnd - from > kRecentBytes) return 0;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(bytes, m_nRecentEnd - from));
    auto* out = static_cast<char*>(dest);
    for (size_t k = 0; k < n;) {
        const size_t at = static_cast<size_t>((from + k) % kRecentBytes);
        const size_t c = std::min(n - k, kRecentBytes - at);
        std::memcpy(out + k, m_pRecent.get() + at, c);
        k += c;
    }
    return n;
}

CQueuedCaptureBackend::ReadResult CFileCaptureBackend::ReadSource(void* dest, uint32_t bytes) {
    ReadResult result;
    const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(bytes, m_nRemaining));
    auto* out = static_cast<char*>(dest);
    while (result.nBytes < want) {
        if (m_info.bStream) {
            // A pipe may hold back its data for ever: wait in slices, so that Stop is seen.
            pollfd ready{m_hFile, POLLIN, 0};
            const int polled = ::poll(&ready, 1, 100);
            if (m_bCancel.load()) {
                result.bStall = result.nBytes == 0;
                break;
            }
            if (polled == 0 || (polled < 0 && errno == EINTR)) continue;
        }
        const ssize_t got = ::read(m_hFile, out + result.nBytes, want - result.nBytes);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) m_nReadErrno.store(errno);
        if (got <= 0) break;
        if (m_pRecent) {
            for (ssize_t k = 0; k < got;) {
                const size_t at = static_cast<size_t>(m_nRecentEnd % kRecentBytes);
                const size_t n = std::min(static_cast<size_t>(got - k), kRecentBytes - at);
                std::memcpy(m_pRecent.get() + at, out + result.nBytes + k, n);
                m_nRecentEnd += n;
                k += static_cast<ssize_t>(n);
            }
        }
        result.nBytes += static_cast<uint32_t>(got);
    }
    // A read error ends the input like the end of the data does; whole frames only.
    const uint32_t partial = result.nBytes % FrameBytes();
    if (partial != 0) m_nBytesDropped.fetch_add(partial);
    result.nBytes -= partial;
    if (m_nRemaining != WavFileInfo::kToTheEnd) m_nRemaining -= result.nBytes;
    m_nBytesRead.fetch_add(result.nBytes);
    result.bEnd = !result.bStall && result.nBytes < bytes;
    return result;
}

std::unique_ptr<ICaptureBackend> MakeFileCaptureBackend(const std::string& wavPath,
                                                        FilePacing pacing) {
    return std::make_unique<CFileCaptureBackend>(wavPath, pacing);
}

std::unique_ptr<CFileCaptureBackend> MakeFileCaptureBackend(int fd, const std::string& name,
                                                            const WavFileInfo& info,
                                                            FilePacing pacing) {
    return std::make_unique<CFileCaptureBackend>(fd, name, info, pacing);
}
