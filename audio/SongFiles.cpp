#include "audio/SongFiles.h"

#include <cstdio>
#include <cstring>

CSongFiles::CSongFiles(ISongEncoder& encoder, Namer namer, Overflow overflow)
    : m_encoder(encoder), m_namer(std::move(namer)), m_overflow(overflow) {}

uint64_t CSongFiles::MaxSongBytes() const {
    return m_nMaxSongBytes > 0 ? m_nMaxSongBytes : m_encoder.MaxDataBytes();
}

bool CSongFiles::Fail(SongFileStep step, bool fromEncoder) {
    m_failure.step = step;
    m_failure.nNumber = m_nNumber;
    m_failure.nErrno = fromEncoder ? m_encoder.ErrorNumber() : 0;
    m_failure.bTooLong = false;
    m_failure.bReadFailed = false;
    std::snprintf(m_failure.szPath, sizeof m_failure.szPath, "%s",
                  step == SongFileStep::Name ? "" : m_szPath);
    std::snprintf(m_failure.szText, sizeof m_failure.szText, "%s",
                  fromEncoder ? m_encoder.ErrorText() : "");
    return false;
}

bool CSongFiles::Open(long number) {
    m_failure.step = SongFileStep::None;
    if (m_encoder.IsOpen() && !Finish()) return false;
    m_nNumber = number > 0 ? number : m_nNumber + 1;
    m_nSongBytes = 0;
    if (!m_namer(m_nNumber, m_szPath, sizeof m_szPath)) {
        m_szPath[0] = 0;
        return Fail(SongFileStep::Name, false);
    }
    if (!m_encoder.Begin(m_szPath, m_nNumber)) return Fail(SongFileStep::Open, true);
    return true;
}

bool CSongFiles::Room(uint64_t count) {
    if (m_nSongBytes + count <= MaxSongBytes()) return true;
    if (m_overflow == Overflow::Refuse) {
        Fail(SongFileStep::Write, false);
        m_failure.bTooLong = true;
        std::snprintf(m_failure.szText, sizeof m_failure.szText,
                      "%.900s would pass the largest song file (%llu bytes of samples)", m_szPath,
                      static_cast<unsigned long long>(MaxSongBytes()));
        return false;
    }
    // A file holds at least one write, however large.
    return m_nSongBytes == 0 || Open();
}

bool CSongFiles::Write(const void* data, uint64_t count) {
    m_failure.step = SongFileStep::None;
    if (count == 0) return true;
    if (!Room(count)) return false;
    if (!m_encoder.Write(data, static_cast<long>(count))) return Fail(SongFileStep::Write, true);
    m_nSongBytes += count;
    return true;
}

bool CSongFiles::WriteFrom(int from, uint64_t fromOffset, uint64_t count) {
    m_failure.step = SongFileStep::None;
    if (count == 0) return true;
    if (!Room(count)) return false;
    bool readFailed = false;
    if (!m_encoder.WriteFrom(from, fromOffset, count, &readFailed)) {
        Fail(SongFileStep::Write, true);
        m_failure.bReadFailed = readFailed;
        return false;
    }
    m_nSongBytes += count;
    return true;
}

bool CSongFiles::Sync() {
    m_failure.step = SongFileStep::None;
    if (!m_encoder.IsOpen() || m_encoder.Sync()) return true;
    return Fail(SongFileStep::Write, true);
}

bool CSongFiles::Finish() {
    m_failure.step = SongFileStep::None;
    if (!m_encoder.IsOpen() || m_encoder.Finish()) return true;
    return Fail(SongFileStep::Finish, true);
}

void CSongFiles::Abandon() {
    if (m_encoder.IsOpen()) m_encoder.Abandon();
}
