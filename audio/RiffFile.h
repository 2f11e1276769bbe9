// A small buffered file for writing RIFF files: chunks are created with a zero size and patched
// on ascent (with a zero pad byte after odd data), and all bytes go through one output buffer
// that reaches the disk in one piece when full. The buffer fills up to the next file offset that
// is a multiple of its size, so full buffers are written at aligned offsets. A writer may borrow
// the buffer state (GetInfo), copy into the buffer itself and hand the state back (SetInfo). A
// writer holding enough bytes to fill the window hands them to Advance instead, which writes them
// from the writer's memory behind the pending bytes, still in one piece at the aligned offset:
// the hot path then copies nothing but the remainder of a block.
//
// Crash safety: every time the buffer reaches the disk, the size fields of the chunks still open
// are brought up to date, so a file cut off at any moment describes the bytes written so far.
//
// Owned by one object (the WAV writer) and used by one thread at a time. POSIX file I/O plus
// pwritev (Linux, the BSDs, macOS 11 and later).
#pragma once

#include <cstddef>
#include <cstdint>

#include "audio/FileOutput.h"

// A chunk as created: identifier, size, form type ("RIFF" chunks only), the file offset of the
// chunk's data and flags.
struct MMCKINFO {
    uint32_t ckid = 0;
    uint32_t cksize = 0;
    uint32_t fccType = 0;
    uint32_t dwDataOffset = 0;
    uint32_t dwFlags = 0;
};

// The borrowed output buffer: bytes [pchBuffer, pchNext) are pending, pchEndWrite is the end of
// the writable part (the window, at most the buffer's size). A borrower sets MMIO_DIRTY after
// copying into the buffer.
struct MMIOINFO {
    uint32_t dwFlags = 0;
    char* pchBuffer = nullptr;
    char* pchNext = nullptr;
    char* pchEndWrite = nullptr;
};

constexpr uint32_t MMIO_DIRTY = 0x10000000;   // MMIOINFO: the buffer holds unwritten bytes
constexpr uint32_t MMIO_CREATERIFF = 0x0020;  // CreateChunk: a "RIFF" chunk with a form type

constexpr uint32_t RiffFourCC(char a, char b, char c, char d) {
    return static_cast<uint32_t>(static_cast<unsigned char>(a)) |
           static_cast<uint32_t>(static_cast<unsigned char>(b)) << 8 |
           static_cast<uint32_t>(static_cast<unsigned char>(c)) << 16 |
           static_cast<uint32_t>(static_cast<unsigned char>(d)) << 24;
}

class CRiffFile {
public:
    // Buffer in bytes until SetBuffer is called; big enough for any header.
    static constexpr long kDefaultBufferSize = 8192;

    CRiffFile() = default;
    // Writes pending bytes out (best effort) and releases the descriptor, so that destroying an
    // object with a file still open neither leaks the descriptor nor drops buffered audio.
    ~CRiffFile();
    CRiffFile(const CRiffFile&) = delete;
    CRiffFile& operator=(const CRiffFile&) = delete;

    // Creates the file for reading and writing, truncating an existing one. Fails when a file is
    // already open or the buffer cannot be allocated; errno tells why the open failed.
    bool Open(const char* path);
    bool IsOpen() const { return m_nFd >= 0; }
    int Handle() const { return m_nFd; }  // the output's handle (or descriptor) of the open file
    // Sends the bytes of the files opened from now on to output instead of the file system
    // (null: the file system again). Only while no file is open; the output must outlive them.
    void SetOutput(IFileOutput* output) { m_pOutput = output; }
    IFileOutput* GetOutput() const { return m_pOutput; }

    // Writes pending bytes out and closes the descriptor; no chunk is ascended. When the pending
    // bytes cannot be written the file stays open and false is returned, unless force is set:
    // then the descriptor is released anyway.
    bool Close(bool force = false);

    // Writes the chunk header (identifier, chunk->cksize, and for MMIO_CREATERIFF the identifier
    // "RIFF" and the form type) and fills in dwDataOffset. The chunk stays open until Ascend.
    bool CreateChunk(MMCKINFO* chunk, uint32_t flags);
    // Ends the chunk at the current position: writes a zero pad byte after odd data and patches
    // the size field when it differs from chunk->cksize. On a write error it fails and changes
    // nothing, so it may be tried again; a chunk already ascended is left alone.
    bool Ascend(MMCKINFO* chunk);

    // Buffered write; returns count, or -1 when the buffer could not be written out.
    long Write(const void* data, long count);

    // Appends count bytes read from the descriptor from at fromOffset, copied in the kernel where
    // the system (or the output) can, else through the buffer. False on a failure, with
    // *readFailed telling a failed (or short) read of from from a failed write.
    bool CopyFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed);

    // Writes pending bytes out, then replaces the buffer with one of size bytes. Returns false
    // (keeping the old buffer) when the pending bytes cannot be written, size is not positive, or
    // the allocation fails; WriteFailed() tells the first case from the others.
    bool SetBuffer(long size);
    bool WriteFailed() const { return m_bWriteFailed; }
    // Waits until the bytes written out so far have reached the file, for an output that writes
    // later (IFileOutput::Sync); false, with LastError, when one of them failed.
    bool Sync();
    // The system's error number of the last failed open, write or close (0 when none has
    // failed since the last successful Open).
    int LastError() const { return m_nLastError; }
    // Has the open file lost its last name (deleted, or its folder removed)? False when none is
    // open, or the system (or the output it goes through) cannot tell.
    bool IsUnlinked() const;

    // Lends the buffer state to the caller; until SetInfo, only Advance may touch the buffer.
    bool GetInfo(MMIOINFO* info) const;
    // Takes the state back; fails when the pointers do not lie within the buffer.
    bool SetInfo(const MMIOINFO* info);
    // Writes the pending bytes [pchBuffer, pchNext) out in one piece and gives an empty buffer.
    // On failure the state is left as it was.
    bool Advance(MMIOINFO* info);
    // As Advance, with the window completed by tailBytes bytes from tail (pchNext + tailBytes
    // must reach pchEndWrite exactly); the tail is never copied into the buffer. On failure the
    // state is left as it was and the tail counts as not written.
    bool Advance(MMIOINFO* info, const void* tail, long tailBytes);

    // Logical write position in bytes (disk plus pending); valid while the state is not lent.
    uint64_t Tell() const {
        return m_nDiskEnd + static_cast<uint64_t>(m_info.pchNext - m_info.pchBuffer);
    }

private:
    // Size field of a chunk not yet ascended, and what was last written into it.
    struct OpenChunk {
        uint64_t nDataOffset;
        uint32_t nLastSize;
    };
    static constexpr int kMaxOpenChunks = 8;
    static constexpr uint64_t kHeadSize = 64;  // bytes of the file kept in m_head

    bool Flush(const char* tail = nullptr, size_t tailBytes = 0);
    void StartWindow();
    // pwrite until done (a short write is continued); keeps m_head in step.
    bool WriteAll(const char* data, size_t count, uint64_t offset);
    // The same for first followed by second in the file, in one system call where possible.
    bool WriteAll2(const char* first, size_t firstBytes, const char* second, size_t secondBytes,
                   uint64_t offset);
    void KeepHead(const char* data, size_t count, uint64_t offset);
    void UpdateOpenChunkSizes();

    int m_nFd = -1;
    IFileOutput* m_pOutput = nullptr;  // null: the file system
    char* m_pBuffer = nullptr;
    long m_nBufferSize = 0;
    MMIOINFO m_info;
    uint64_t m_nDiskEnd = 0;  // bytes of the file that have reached the disk
    OpenChunk m_openChunks[kMaxOpenChunks] = {};
    int m_nOpenChunks = 0;
    bool m_bWriteFailed = false;
    int m_nLastError = 0;
    char m_head[kHeadSize] = {};  // the file's first bytes as they are on disk
};
