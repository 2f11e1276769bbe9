#include "audio/RiffFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <new>

namespace {

void StoreLe32(char* out, uint32_t value) {
    out[0] = static_cast<char>(value & 0xFF);
    out[1] = static_cast<char>((value >> 8) & 0xFF);
    out[2] = static_cast<char>((value >> 16) & 0xFF);
    out[3] = static_cast<char>((value >> 24) & 0xFF);
}

uint32_t ClampToU32(uint64_t value) {
    return value > 0xFFFFFFFFu ? 0xFFFFFFFFu : static_cast<uint32_t>(value);
}

}  // namespace

CRiffFile::~CRiffFile() {
    if (IsOpen()) Close(true);
    delete[] m_pBuffer;
}

bool CRiffFile::Open(const char* path) {
    if (IsOpen() || path == nullptr) {
        errno = EINVAL;
        return false;
    }
    // A buffer left from the previous file is reused: a recording opens one file per song and
    // need not allocate each time.
    if (m_pBuffer == nullptr) {
        m_pBuffer = new (std::nothrow) char[kDefaultBufferSize];
        if (m_pBuffer == nullptr) {
            errno = ENOMEM;
            return false;
        }
        m_nBufferSize = kDefaultBufferSize;
    }
    int fd = m_pOutput ? m_pOutput->Open(path)
                       : ::open(path, O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
    if (fd < 0) {
        m_nLastError = errno;
        return false;
    }
    m_nLastError = 0;
    m_nFd = fd;
    m_nDiskEnd = 0;
    m_nOpenChunks = 0;
    m_bWriteFailed = false;
    StartWindow();
    return true;
}

bool CRiffFile::IsUnlinked() const {
    if (!IsOpen()) return false;
    // An output's handles are its own, not descriptors of ours to ask.
    return m_pOutput ? m_pOutput->IsUnlinked(m_nFd) : DescriptorUnlinked(m_nFd);
}

void CRiffFile::StartWindow() {
    // The window ends where the file offset reaches the next multiple of the buffer size. After
    // a 44-byte header the first window is shorter, and from then on every full buffer lands on
    // page boundaries: the kernel then copies whole pages, which costs markedly less than the
    // same bytes 44 bytes off.
    uint64_t room =
        static_cast<uint64_t>(m_nBufferSize) - m_nDiskEnd % static_cast<uint64_t>(m_nBufferSize);
    m_info.dwFlags = 0;
    m_info.pchBuffer = m_pBuffer;
    m_info.pchNext = m_pBuffer;
    m_info.pchEndWrite = m_pBuffer + room;
}

bool CRiffFile::Close(bool force) {
    if (!IsOpen()) return false;
    bool flushed = Flush();
    if (!flushed && !force) return false;
    bool closed = (m_pOutput ? m_pOutput->Close(m_nFd) : ::close(m_nFd)) == 0;
    if (!closed) m_nLastError = errno;
    m_nFd = -1;
    m_nDiskEnd = 0;
    m_nOpenChunks = 0;
    StartWindow();
    return flushed && closed;
}

bool CRiffFile::WriteAll(const char* data, size_t count, uint64_t offset) {
    const char* start = data;
    const uint64_t startOffset = offset;
    const size_t total = count;
    while (count > 0) {
        const iovec piece = {const_cast<char*>(data), count};
        ssize_t n = m_pOutput ? m_pOutput->WriteAt(m_nFd, &piece, 1, offset)
                              : ::pwrite(m_nFd, data, count, static_cast<off_t>(offset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            // A write that takes nothing without an error has run out of room.
            m_nLastError = n < 0 ? errno : ENOSPC;
            return false;
        }
        data += n;
        count -= static_cast<size_t>(n);
        offset += static_cast<uint64_t>(n);
    }
    KeepHead(start, total, startOffset);
    return true;
}

bool CRiffFile::WriteAll2(const char* first, size_t firstBytes, const char* second,
                          size_t secondBytes, uint64_t offset) {
    iovec pieces[2] = {{const_cast<char*>(first), firstBytes},
                       {const_cast<char*>(second), secondBytes}};
    iovec* next = firstBytes == 0 ? pieces + 1 : pieces;
    int count = static_cast<int>(pieces + 2 - next);
    uint64_t at = offset;
    size_t left = firstBytes + secondBytes;
    while (left > 0) {
        ssize_t n = m_pOutput ? m_pOutput->WriteAt(m_nFd, next, count, at)
                              : ::pwritev(m_nFd, next, count, static_cast<off_t>(at));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_nLastError = n < 0 ? errno : ENOSPC;
            return false;
        }
        at += static_cast<uint64_t>(n);
        left -= static_cast<size_t>(n);
        // A short write goes on from the first byte that did not make it.
        size_t done = static_cast<size_t>(n);
        while (count > 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    KeepHead(first, firstBytes, offset);
    KeepHead(second, secondBytes, offset + firstBytes);
    return true;
}

void CRiffFile::KeepHead(const char* data, size_t count, uint64_t offset) {
    if (offset >= kHeadSize) return;
    size_t inHead = std::min<uint64_t>(count, kHeadSize - offset);
    std::memcpy(m_head + offset, data, inHead);
}

bool CRiffFile::Flush(const char* tail, size_t tailBytes) {
    size_t pending = static_cast<size_t>(m_info.pchNext - m_info.pchBuffer);
    if (pending + tailBytes == 0) return true;
    // Size fields still in the buffer go out already describing the bytes written with them,
    // so that no moment exists at which the disk holds a header that claims nothing.
    const uint64_t bufferEnd = m_nDiskEnd + pending;
    const uint64_t end = bufferEnd + tailBytes;
    bool patchedHere[kMaxOpenChunks] = {};
    for (int i = 0; i < m_nOpenChunks; ++i) {
        OpenChunk& chunk = m_openChunks[i];
        if (chunk.nDataOffset - 4 < m_nDiskEnd || chunk.nDataOffset > bufferEnd) continue;
        StoreLe32(m_info.pchBuffer + (chunk.nDataOffset - 4 - m_nDiskEnd),
                  ClampToU32(end - chunk.nDataOffset));
        patchedHere[i] = true;
    }
    // A failed write leaves the pending bytes in place: the next flush retries at the same
    // offset, overwriting whatever part did reach the disk.
    bool written = tailBytes == 0
                       ? WriteAll(m_info.pchBuffer, pending, m_nDiskEnd)
                       : WriteAll2(m_info.pchBuffer, pending, tail, tailBytes, m_nDiskEnd);
    if (!written) {
        m_bWriteFailed = true;
        return false;
    }
    m_nDiskEnd = end;
    StartWindow();
    for (int i = 0; i < m_nOpenChunks; ++i) {
        if (patchedHere[i])
            m_openChunks[i].nLastSize = ClampToU32(end - m_openChunks[i].nDataOffset);
    }
    UpdateOpenChunkSizes();
    return true;
}

void CRiffFile::UpdateOpenChunkSizes() {
    // Best effort: a failure here costs only crash safety, and the ascent patches (which are
    // checked) write the final sizes anyway. When every stale field lies in the head of the file
    // (a WAV header's RIFF and data sizes do), one write from the copy of the head updates them
    // all at once: cheaper, and no reader ever sees one size new and the other old.
    char head[kHeadSize];
    std::memcpy(head, m_head, kHeadSize);
    uint64_t low = kHeadSize;
    uint64_t high = 0;
    bool allInHead = true;
    for (int i = 0; i < m_nOpenChunks; ++i) {
        const OpenChunk& chunk = m_openChunks[i];
        if (chunk.nDataOffset > m_nDiskEnd) continue;
        uint32_t size = ClampToU32(m_nDiskEnd - chunk.nDataOffset);
        if (size == chunk.nLastSize) continue;
        uint64_t field = chunk.nDataOffset - 4;
        if (field + 4 > kHeadSize) {
            allInHead = false;
            break;
        }
        StoreLe32(head + field, size);
        if (field < low) low = field;
        if (field + 4 > high) high = field + 4;
    }
    if (allInHead) {
        if (high == 0 || !WriteAll(head + low, high - low, low)) return;
        for (int i = 0; i < m_nOpenChunks; ++i) {
            OpenChunk& chunk = m_openChunks[i];
            if (chunk.nDataOffset <= m_nDiskEnd)
                chunk.nLastSize = ClampToU32(m_nDiskEnd - chunk.nDataOffset);
        }
        return;
    }
    for (int i = 0; i < m_nOpenChunks; ++i) {  // outermost first
        OpenChunk& chunk = m_openChunks[i];
        if (chunk.nDataOffset > m_nDiskEnd) continue;
        uint32_t size = ClampToU32(m_nDiskEnd - chunk.nDataOffset);
        if (size == chunk.nLastSize) continue;
        char field[4];
        StoreLe32(field, size);
        if (WriteAll(field, sizeof field, chunk.nDataOffset - 4)) chunk.nLastSize = size;
    }
}

long CRiffFile::Write(const void* data, long count) {
    if (!IsOpen() || count < 0 || (count > 0 && data == nullptr)) return -1;
    const char* src = static_cast<const char*>(data);
    long left = count;
    while (left > 0) {
        if (m_info.pchNext == m_info.pchEndWrite && !Flush()) return -1;
        long room = static_cast<long>(m_info.pchEndWrite - m_info.pchNext);
        long n = left < room ? left : room;
        std::memcpy(m_info.pchNext, src, static_cast<size_t>(n));
        m_info.pchNext += n;
        m_info.dwFlags |= MMIO_DIRTY;
        src += n;
        left -= n;
    }
    return count;
}

bool CRiffFile::CopyFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) {
    *readFailed = false;
    if (!IsOpen()) return false;
    bool kernel = true;
    bool copied = false;  // bytes went past the buffer: the window and size fields follow
    bool ok = true;
    while (ok && count > 0) {
        if (kernel) {
            // The kernel's bytes go behind those already pending.
            if (m_info.pchNext != m_info.pchBuffer && !Flush()) return false;
            const size_t want = static_cast<size_t>(std::min<uint64_t>(count, 1u << 30));
            loff_t in = static_cast<loff_t>(fromOffset), out = static_cast<loff_t>(m_nDiskEnd);
            const ssize_t n = m_pOutput
                                  ? m_pOutput->CopyAt(m_nFd, from, fromOffset, want, m_nDiskEnd)
                                  : ::copy_file_range(from, &in, m_nFd, &out, want, 0);
            if (n > 0) {
                m_nDiskEnd += static_cast<uint64_t>(n);
                fromOffset += static_cast<uint64_t>(n);
                count -= static_cast<uint64_t>(n);
                copied = true;
                continue;
            }
            if (n < 0 && errno == EINTR) continue;
            if (n == 0) {
                m_nLastError = EIO;  // the source ends before its bytes
                *readFailed = true;
                ok = false;
            } else if (errno == EXDEV || errno == ENOSYS || errno == EINVAL ||
                       errno == EOPNOTSUPP) {
                kernel = false;
            } else {
                m_nLastError = errno;
                m_bWriteFailed = true;
                ok = false;
            }
            continue;
        }
        if (copied) {
            StartWindow();
            copied = false;
        }
        if (m_info.pchNext == m_info.pchEndWrite && !Flush()) return false;
        const size_t room = static_cast<size_t>(m_info.pchEndWrite - m_info.pchNext);
        const ssize_t n = ::pread(from, m_info.pchNext, std::min<uint64_t>(room, count),
                                  static_cast<off_t>(fromOffset));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            m_nLastError = n < 0 ? errno : EIO;
            *readFailed = true;
            return false;
        }
        m_info.pchNext += n;
        m_info.dwFlags |= MMIO_DIRTY;
        fromOffset += static_cast<uint64_t>(n);
        count -= static_cast<uint64_t>(n);
    }
    if (copied) {
        StartWindow();
        UpdateOpenChunkSizes();
    }
    return ok;
}

bool CRiffFile::CreateChunk(MMCKINFO* chunk, uint32_t flags) {
    if (!IsOpen() || chunk == nullptr || m_nOpenChunks == kMaxOpenChunks) return false;
    bool riff = (flags & MMIO_CREATERIFF) != 0;
    if (riff) chunk->ckid = RiffFourCC('R', 'I', 'F', 'F');
    uint64_t dataOffset = Tell() + 8;
    if (dataOffset > 0xFFFFFFFFu) return false;
    char header[12];
    StoreLe32(header, chunk->ckid);
    StoreLe32(header + 4, chunk->cksize);
    long length = 8;
    if (riff) {
        StoreLe32(header + 8, chunk->fccType);
        length = 12;
    }
    if (Write(header, length) != length) return false;
    chunk->dwDataOffset = static_cast<uint32_t>(dataOffset);
    chunk->dwFlags = MMIO_DIRTY;
    m_openChunks[m_nOpenChunks++] = OpenChunk{dataOffset, chunk->cksize};
    return true;
}

bool CRiffFile::Ascend(MMCKINFO* chunk) {
    if (!IsOpen() || chunk == nullptr || chunk->dwDataOffset < 8) return false;
    // Already ascended: a retried close must neither pad twice nor count the pad as data.
    if ((chunk->dwFlags & MMIO_DIRTY) == 0) return true;
    uint64_t end = Tell();
    if (end < chunk->dwDataOffset) return false;
    uint32_t size = ClampToU32(end - chunk->dwDataOffset);
    uint64_t field = chunk->dwDataOffset - 4u;

    // The chunk's bytes reach the disk before the size that claims them. Every failure below
    // leaves the state as it was, so the ascent can be tried again.
    if (field < m_nDiskEnd && !Flush()) return false;
    bool padded = (size & 1u) != 0;
    if (padded) {
        const char pad = 0;
        if (Write(&pad, 1) != 1) return false;
    }
    if (size != chunk->cksize) {
        char bytes[4];
        StoreLe32(bytes, size);
        if (field >= m_nDiskEnd) {
            std::memcpy(m_info.pchBuffer + (field - m_nDiskEnd), bytes, sizeof bytes);
        } else if (!WriteAll(bytes, sizeof bytes, field)) {
            if (padded) --m_info.pchNext;  // the pad is the last pending byte
            return false;
        }
    }
    for (int i = 0; i < m_nOpenChunks; ++i) {
        if (m_openChunks[i].nDataOffset == chunk->dwDataOffset) {
            for (int j = i + 1; j < m_nOpenChunks; ++j) m_openChunks[j - 1] = m_openChunks[j];
            --m_nOpenChunks;
            break;
        }
    }
    chunk->cksize = size;
    chunk->dwFlags = 0;
    return true;
}

bool CRiffFile::SetBuffer(long size) {
    m_bWriteFailed = false;
    if (!IsOpen() || size <= 0) return false;
    if (!Flush()) return false;
    if (size != m_nBufferSize) {
        char* buffer = new (std::nothrow) char[static_cast<size_t>(size)];
        if (buffer == nullptr) return false;
        delete[] m_pBuffer;
        m_pBuffer = buffer;
        m_nBufferSize = size;
    }
    StartWindow();
    return true;
}

bool CRiffFile::Sync() {
    if (!IsOpen()) return false;
    if (m_pOutput && m_pOutput->Sync(m_nFd) != 0) {
        m_nLastError = errno;
        return false;
    }
    return true;
}

bool CRiffFile::GetInfo(MMIOINFO* info) const {
    if (!IsOpen() || info == nullptr) return false;
    *info = m_info;
    return true;
}

bool CRiffFile::SetInfo(const MMIOINFO* info) {
    if (!IsOpen() || info == nullptr || info->pchBuffer != m_pBuffer ||
        info->pchEndWrite != m_info.pchEndWrite || info->pchNext < m_pBuffer ||
        info->pchNext > info->pchEndWrite) {
        return false;
    }
    m_info = *info;
    return true;
}

bool CRiffFile::Advance(MMIOINFO* info) {
    if (!SetInfo(info)) return false;
    if (!Flush()) return false;
    *info = m_info;
    return true;
}

bool CRiffFile::Advance(MMIOINFO* info, const void* tail, long tailBytes) {
    if (info == nullptr || tail == nullptr || tailBytes <= 0 ||
        info->pchEndWrite - info->pchNext != tailBytes || !SetInfo(info)) {
        return false;
    }
    if (!Flush(static_cast<const char*>(tail), static_cast<size_t>(tailBytes))) return false;
    *info = m_info;
    return true;
}
