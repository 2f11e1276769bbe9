#include "settings/Archive.h"

#include <algorithm>
#include <cstring>
#include <vector>

CArchiveWriter::CArchiveWriter(Sink sink) : m_sink(std::move(sink)) {}

void CArchiveWriter::WriteBytes(const void* data, size_t size) {
    const auto* p = static_cast<const uint8_t*>(data);
    while (size > 0 && !m_bFailed) {
        size_t n = std::min(size, kBufferSize - m_nUsed);
        std::memcpy(m_buffer + m_nUsed, p, n);
        m_nUsed += n;
        p += n;
        size -= n;
        if (m_nUsed == kBufferSize) {
            if (!m_sink(m_buffer, m_nUsed)) m_bFailed = true;
            m_nUsed = 0;
        }
    }
}

void CArchiveWriter::WriteU8(uint8_t v) { WriteBytes(&v, 1); }

void CArchiveWriter::WriteU16(uint16_t v) {
    const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    WriteBytes(b, 2);
}

void CArchiveWriter::WriteU32(uint32_t v) {
    const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                          static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
    WriteBytes(b, 4);
}

void CArchiveWriter::WriteCount(uint32_t count) {
    if (count < 0xFFFF) {
        WriteU16(static_cast<uint16_t>(count));
    } else {
        WriteU16(0xFFFF);
        WriteU32(count);
    }
}

void CArchiveWriter::WriteString(const std::string& s) {
    // Strings of 4 GiB and more cannot be framed; names never come near that.
    const auto length = static_cast<uint32_t>(s.size());
    if (length < 0xFF) {
        WriteU8(static_cast<uint8_t>(length));
    } else {
        WriteU8(0xFF);
        if (length < 0xFFFE) {
            WriteU16(static_cast<uint16_t>(length));
        } else {
            WriteU16(0xFFFF);
            WriteU32(length);
        }
    }
    WriteBytes(s.data(), length);
}

bool CArchiveWriter::Flush() {
    if (!m_bFailed && m_nUsed > 0) {
        if (!m_sink(m_buffer, m_nUsed)) m_bFailed = true;
    }
    m_nUsed = 0;
    return !m_bFailed;
}

bool CArchiveReader::Take(void* dest, size_t size) {
    if (m_bFailed || size > Remaining()) {
        m_bFailed = true;
        return false;
    }
    std::memcpy(dest, m_pData + m_nPos, size);
    m_nPos += size;
    return true;
}

bool CArchiveReader::ReadU8(uint8_t& v) { return Take(&v, 1); }

bool CArchiveReader::ReadU16(uint16_t& v) {
    uint8_t b[2];
    if (!Take(b, 2)) return false;
    v = static_cast<uint16_t>(b[0] | (b[1] << 8));
    return true;
}

bool CArchiveReader::ReadU32(uint32_t& v) {
    uint8_t b[4];
    if (!Take(b, 4)) return false;
    v = static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
        (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    return true;
}

bool CArchiveReader::ReadI32(int32_t& v) {
    uint32_t u;
    if (!ReadU32(u)) return false;
    v = static_cast<int32_t>(u);
    return true;
}

bool CArchiveReader::ReadCount(uint32_t& count) {
    uint16_t c16;
    if (!ReadU16(c16)) return false;
    if (c16 != 0xFFFF) {
        count = c16;
        return true;
    }
    return ReadU32(count);
}

// The wide marker 0xFF 0xFFFE may appear once, before the length proper; a second 0xFFFE after
// it is an ordinary 16-bit length.
bool CArchiveReader::ReadStringLength(uint32_t& length, bool& wide) {
    wide = false;
    uint8_t b;
    if (!ReadU8(b)) return false;
    if (b < 0xFF) {
        length = b;
        return true;
    }
    uint16_t w;
    if (!ReadU16(w)) return false;
    if (w == 0xFFFE) {
        wide = true;
        if (!ReadU8(b)) return false;
        if (b < 0xFF) {
            length = b;
            return true;
        }
        if (!ReadU16(w)) return false;
    }
    if (w < 0xFFFF) {
        length = w;
        return true;
    }
    return ReadU32(length);
}

bool CArchiveReader::ReadString(std::string& s) {
    uint32_t length;
    bool wide;
    if (!ReadStringLength(length, wide)) return false;
    const uint64_t bytes = wide ? uint64_t{length} * 2 : uint64_t{length};
    if (bytes > Remaining()) {
        m_bFailed = true;
        return false;
    }
    const uint8_t* p = m_pData + m_nPos;
    m_nPos += bytes;
    if (!wide) {
        s.assign(reinterpret_cast<const char*>(p), length);
        return true;
    }
    std::vector<uint16_t> units(length);
    for (uint32_t i = 0; i < length; ++i) {
        units[i] = static_cast<uint16_t>(p[2 * i] | (p[2 * i + 1] << 8));
    }
    s = Utf16ToCp1252(units.data(), units.size());
    return true;
}

namespace {

// Code points of the Windows-1252 bytes 0x80 to 0x9F; 0 where the byte is undefined and maps to
// the C1 control of the same value.
constexpr uint16_t kCp1252High[32] = {
    0x20AC, 0,      0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0,      0x017D, 0,      0,      0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0,      0x017E, 0x0178};

char ToCp1252(uint16_t u) {
    if (u < 0x80 || (u >= 0xA0 && u <= 0xFF)) return static_cast<char>(u);
    if (u >= 0x80 && u <= 0x9F) return kCp1252High[u - 0x80] == 0 ? static_cast<char>(u) : '?';
    for (int i = 0; i < 32; ++i) {
        if (kCp1252High[i] == u) return static_cast<char>(0x80 + i);
    }
    return '?';
}

}  // namespace

std::string Utf16ToCp1252(const uint16_t* units, size_t count) {
    std::string out;
    out.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const uint16_t u = units[i];
        if (u >= 0xD800 && u < 0xDC00 && i + 1 < count && units[i + 1] >= 0xDC00 &&
            units[i + 1] < 0xE000) {
            ++i;  // a character outside the basic plane: one '?'
            out += '?';
        } else {
            out += ToCp1252(u);
        }
    }
    return out;
}
