#include "audio/WaveFileWriter.h"

#include <cstdio>
#include <cstring>
#include <new>

namespace {

// The system's reason follows each of these on a line of its own (FailWithReason).
const char kCannotCreate[] = "Cannot create output file %s.\n";
const char kWriterBadBits[] = "Not an acceptable number of bits per sample.\n";
const char kOutOfMemory[] = "Out of memory.\nClose some applications and try again.\n";
const char kCannotWrite[] = "Cannot write to %s.\n";
const char kTooBig[] = "Cannot write to %s.\nA WAV file cannot hold more than 4 GiB.\n";
const char kAscendError[] = "Error writing to %s (ascending error).\n";
const char kCannotRead[] = "Cannot read from %s\n";
const char kCannotClose[] = "Cannot close input file %s.\n";

}  // namespace

CWaveFileWriter::CWaveFileWriter() = default;

// A file still open is released by m_file's destructor, its buffered bytes written out.
CWaveFileWriter::~CWaveFileWriter() = default;

void CWaveFileWriter::FailWithReason(const char* format) {
    char message[CErrorState::kTextSize];
    std::snprintf(message, sizeof message, format, m_szFileName);
    const int cause = m_file.LastError();
    // Without a system error nothing more is known; the old guess stays for a file that could
    // not be created.
    const char* reason = cause != 0                ? std::strerror(cause)
                         : format == kCannotCreate ? "Probably in use by another program!"
                                                   : nullptr;
    if (reason) {
        m_error.Fail("%s%s%s\n", message, reason,
                     reason[std::strlen(reason) - 1] == '!' ? "" : ".");
    } else {
        m_error.Fail("%s", message);
    }
}

void CWaveFileWriter::SetFileName(const char* path) {
    m_error.Clear();
    std::snprintf(m_szFileName, sizeof m_szFileName, "%s", path ? path : "");
}

void CWaveFileWriter::Create() {
    m_error.Clear();
    // The abandoned file keeps whatever sizes its last written buffer left in the header.
    if (m_file.IsOpen()) m_file.Close(true);
    m_ckRiff = MMCKINFO{};
    m_ckFmt = MMCKINFO{};
    m_ckData = MMCKINFO{};
    m_nDataBytes = 0;
    if (!m_file.Open(m_szFileName)) {
        FailWithReason(kCannotCreate);
        return;
    }
    m_file.GetInfo(&m_info);
}

void CWaveFileWriter::BeginWave(short bitsPerSample, unsigned long samplesPerSec, short channels,
                                long bufferSize) {
    m_error.Clear();
    bool acceptable = true;
    WAVEFORMATEX format = MakeWaveFormat(bitsPerSample, samplesPerSec, channels, &acceptable);
    // The header is still written (as PCM); the flag stays raised unless a later step fails
    // with its own message.
    if (!acceptable) m_error.Fail(kWriterBadBits);

    MMCKINFO riff{};
    riff.ckid = RiffFourCC('R', 'I', 'F', 'F');
    riff.fccType = RiffFourCC('W', 'A', 'V', 'E');
    MMCKINFO fmt{};
    fmt.ckid = RiffFourCC('f', 'm', 't', ' ');
    MMCKINFO data{};
    data.ckid = RiffFourCC('d', 'a', 't', 'a');
    WriteHeaderSteps(&riff, &fmt, &data, &format, bufferSize);
}

void CWaveFileWriter::WriteHeaderSteps(MMCKINFO* riff, MMCKINFO* fmt, MMCKINFO* data,
                                       const WAVEFORMATEX* format, long bufferSize) {
    if (riff == nullptr || fmt == nullptr || data == nullptr || format == nullptr) {
        FailWithReason(kCannotWrite);
        return;
    }
    m_ckRiff = *riff;
    m_ckFmt = *fmt;
    m_ckData = *data;
    m_nDataBytes = 0;

    // The record is 18 bytes plus cbSize extra bytes that follow it in memory. The copy grows
    // when a later record carries more extra bytes than the first.
    size_t recordSize = sizeof(WAVEFORMATEX) + format->cbSize;
    if (recordSize > m_nFormatCapacity) {
        std::unique_ptr<unsigned char[]> storage(new (std::nothrow) unsigned char[recordSize]);
        if (!storage) {
            m_error.Fail(kOutOfMemory);
            return;
        }
        m_pFormatStorage = std::move(storage);
        m_nFormatCapacity = recordSize;
        m_pFormat = reinterpret_cast<WAVEFORMATEX*>(m_pFormatStorage.get());
    }
    std::memcpy(m_pFormatStorage.get(), format, recordSize);

    if (!m_file.CreateChunk(&m_ckRiff, MMIO_CREATERIFF) || !m_file.CreateChunk(&m_ckFmt, 0)) {
        FailWithReason(kCannotWrite);
        return;
    }
    // PCM's "fmt " chunk stops before cbSize.
    long formatBytes =
        m_pFormat->wFormatTag == WAVE_FORMAT_PCM ? 16 : static_cast<long>(recordSize);
    if (m_file.Write(m_pFormat, formatBytes) != formatBytes) {
        FailWithReason(kCannotWrite);
        return;
    }
    if (!m_file.Ascend(&m_ckFmt)) {
        FailWithReason(kAscendError);
        return;
    }
    if (!m_file.CreateChunk(&m_ckData, 0)) {
        FailWithReason(kCannotWrite);
        return;
    }
    // Setting the buffer writes the header out. A buffer that cannot be had is of no
    // consequence (the old one serves), but a header that cannot be written is: a recording
    // must not start into a file that already failed.
    if ((!m_file.SetBuffer(bufferSize) && m_file.WriteFailed()) || !m_file.Sync()) {
        FailWithReason(kCannotWrite);
    }
    m_file.GetInfo(&m_info);
}

long CWaveFileWriter::Write(const void* data, long count) {
    m_error.Clear();
    if (count <= 0) return 0;
    if (!m_file.GetInfo(&m_info)) {
        m_error.Fail(kCannotRead, m_szFileName);
        return 0;
    }
    if (data == nullptr || TooBig(static_cast<uint64_t>(count))) {
        m_error.Fail(kTooBig, m_szFileName);
        return 0;
    }

    const char* src = static_cast<const char*>(data);
    long copied = 0;
    long flushed = 0;                  // bytes of this call that reached the disk
    char* callStart = m_info.pchNext;  // where this call's bytes begin in the buffer
    while (copied < count) {
        long room = static_cast<long>(m_info.pchEndWrite - m_info.pchNext);
        long left = count - copied;
        // Bytes that fit stay in the buffer, even when they fill it: the full buffer goes out
        // with the next Write or at Close. Bytes that overrun the window go out straight from
        // the caller's memory behind the pending ones, saving a copy of nearly every byte.
        bool ok = true;
        if (room == 0) {
            ok = m_file.Advance(&m_info);
        } else if (left > room) {
            ok = m_file.Advance(&m_info, src + copied, room);
            if (ok) copied += room;
        } else {
            std::memcpy(m_info.pchNext, src + copied, static_cast<size_t>(left));
            m_info.pchNext += left;
            m_info.dwFlags |= MMIO_DIRTY;
            copied += left;
            continue;
        }
        if (!ok) {
            // The bytes of this call still in the buffer are dropped again. A Write that fits
            // in one buffer then takes all or nothing, so a failure never leaves part of a
            // frame behind to shift every later sample.
            m_info.pchNext = callStart;
            m_file.SetInfo(&m_info);
            m_nDataBytes += static_cast<uint64_t>(flushed);
            FailWithReason(kCannotWrite);
            return 0;
        }
        flushed = copied;
        callStart = m_info.pchBuffer;
    }
    m_nDataBytes += static_cast<uint64_t>(copied);
    if (!m_file.SetInfo(&m_info)) m_error.Fail(kCannotRead, m_szFileName);
    return copied;
}

bool CWaveFileWriter::TooBig(uint64_t count) const {
    // The RIFF size field counts 4 bytes of form type, the "fmt " chunk, the data chunk header,
    // the sample bytes and the pad byte; it must not wrap past 32 bits.
    const uint64_t overhead = m_ckData.dwDataOffset >= 8 ? m_ckData.dwDataOffset - 8u : 0u;
    const uint64_t newData = m_nDataBytes + count;
    return overhead + newData + (newData & 1u) > m_nRiffSizeLimit;
}

bool CWaveFileWriter::WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) {
    m_error.Clear();
    *readFailed = false;
    if (count == 0) return true;
    if (TooBig(count)) {
        m_error.Fail(kTooBig, m_szFileName);
        return false;
    }
    if (!m_file.SetInfo(&m_info)) {
        m_error.Fail(kCannotRead, m_szFileName);
        return false;
    }
    const uint64_t before = m_file.Tell();
    const bool copied = m_file.CopyFrom(from, fromOffset, count, readFailed);
    m_nDataBytes += m_file.Tell() - before;
    m_file.GetInfo(&m_info);
    if (copied) return true;
    if (*readFailed) {
        m_error.Fail("Cannot read the bytes to copy into %s.\n%s.\n", m_szFileName,
                     std::strerror(m_file.LastError()));
    } else {
        FailWithReason(kCannotWrite);
    }
    return false;
}

void CWaveFileWriter::Close() {
    m_error.Clear();
    if (!m_file.SetInfo(&m_info)) {
        FailWithReason(kCannotWrite);
        return;
    }
    bool ascended = m_file.Ascend(&m_ckData) && m_file.Ascend(&m_ckRiff);
    // Keep the borrowed copy in step with the file, so that a Close tried again after a failure
    // hands back the true state.
    m_file.GetInfo(&m_info);
    if (!ascended) {
        FailWithReason(kCannotWrite);
        return;
    }
    // An output that writes later learns of a failed write only now: it is told as the write
    // it was, not as a failed close.
    if (!m_file.Sync()) {
        FailWithReason(kCannotWrite);
        return;
    }
    if (!m_file.Close()) FailWithReason(kCannotClose);
}

bool CWaveFileWriter::Sync() {
    m_error.Clear();
    if (m_file.Sync()) return true;
    FailWithReason(kCannotWrite);
    return false;
}

void CWaveFileWriter::Release() {
    if (m_file.IsOpen()) m_file.Close(true);
}

bool CWaveFileWriter::IsFileRemoved() const { return m_file.IsUnlinked(); }
