// The object-archive byte stream of the presets file: little-endian integers, counts with a
// 32-bit escape and length-prefixed 8-bit strings, the layout the program's presets files have
// always had. The writer pushes 4096-byte blocks to a sink; the reader works on bytes already in
// memory and never throws: every read reports failure, after which the reader stays failed.
//
// Pure byte handling, no files: used by the presets file code on the user-interface thread and
// by the splitter on its main thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

class CArchiveWriter {
public:
    static constexpr size_t kBufferSize = 4096;

    // The sink receives each full buffer and the rest on Flush; returning false makes this and
    // every later write fail (disk full, I/O error).
    using Sink = std::function<bool(const uint8_t* data, size_t size)>;

    explicit CArchiveWriter(Sink sink);
    CArchiveWriter(const CArchiveWriter&) = delete;
    CArchiveWriter& operator=(const CArchiveWriter&) = delete;

    void WriteU8(uint8_t v);
    void WriteU16(uint16_t v);
    void WriteU32(uint32_t v);
    void WriteI32(int32_t v) { WriteU32(static_cast<uint32_t>(v)); }
    void WriteBytes(const void* data, size_t size);

    // A count below 0xFFFF as 16 bits, otherwise 0xFFFF and 32 bits.
    void WriteCount(uint32_t count);
    // Length prefix (one byte below 255; 0xFF + 16 bits below 0xFFFE; 0xFF 0xFFFF + 32 bits),
    // then the bytes unchanged, no terminator.
    void WriteString(const std::string& s);

    // Hands the buffered rest to the sink. False if any write so far has failed.
    bool Flush();
    bool Failed() const { return m_bFailed; }

private:
    Sink m_sink;
    uint8_t m_buffer[kBufferSize];
    size_t m_nUsed = 0;
    bool m_bFailed = false;
};

class CArchiveReader {
public:
    CArchiveReader(const uint8_t* data, size_t size) : m_pData(data), m_nSize(size) {}

    bool ReadU8(uint8_t& v);
    bool ReadU16(uint16_t& v);
    bool ReadU32(uint32_t& v);
    bool ReadI32(int32_t& v);
    bool ReadCount(uint32_t& count);
    // Reads either string form: 8-bit characters as they are, or the wide form (0xFF 0xFFFE,
    // then a length in 16-bit characters) converted to Windows-1252. A length longer than what
    // is left fails before anything is allocated.
    bool ReadString(std::string& s);

    size_t Remaining() const { return m_nSize - m_nPos; }
    size_t Position() const { return m_nPos; }
    bool Failed() const { return m_bFailed; }

private:
    bool Take(void* dest, size_t size);
    bool ReadStringLength(uint32_t& length, bool& wide);

    const uint8_t* m_pData;
    size_t m_nSize;
    size_t m_nPos = 0;
    bool m_bFailed = false;
};

// UTF-16 code units to Windows-1252 bytes; what the code page cannot hold becomes '?' (a
// surrogate pair gives one '?').
std::string Utf16ToCp1252(const uint16_t* units, size_t count);
