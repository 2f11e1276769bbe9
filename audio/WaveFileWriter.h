// Writes one song as a RIFF/WAVE file (16-bit PCM or 32-bit IEEE float) through one output
// buffer of the size given to BeginWave. The main window owns one writer for its whole run and
// reuses it for every file; while idle it holds the selected base file's path.
//
// Whenever the output buffer reaches the disk the header's RIFF and data sizes are brought up to
// date, so a file cut off by a crash reads up to its last written buffer. A Write that would take
// the RIFF size past 32 bits fails instead of wrapping.
//
// Through an output that writes later (CQueuedFileOutput), a write that failed is told by the
// next Write or the Close of the same file, with the same text; the header, a file's end and its
// close are waited for, so what they tell is exact.
//
// One thread at a time: the user-interface thread before a recording starts and after it has
// ended, the recording thread in between. No lock of its own.
#pragma once

#include <climits>
#include <cstdint>
#include <memory>

#include "audio/ErrorState.h"
#include "audio/RiffFile.h"
#include "audio/WaveFormat.h"

class CWaveFileWriter {
public:
    CWaveFileWriter();
    virtual ~CWaveFileWriter();

    CWaveFileWriter(const CWaveFileWriter&) = delete;
    CWaveFileWriter& operator=(const CWaveFileWriter&) = delete;

    void SetFileName(const char* path);  // stored within the platform's limit, PATH_MAX - 1 bytes
    const char* GetFileName() const { return m_szFileName; }

    // Closes a still-open file without patching it, then creates (truncates) the file.
    void Create();
    // Builds the format record and writes the header; bufferSize is the output buffer in bytes.
    // The header has reached the file when it returns, through an output that writes later too:
    // a file that cannot take it fails here, before it is given any audio.
    void BeginWave(short bitsPerSample, unsigned long samplesPerSec, short channels,
                   long bufferSize);
    // Appends count bytes; returns the bytes taken (0 on a failure that ends the call early).
    long Write(const void* data, long count);
    // Appends count bytes read from the descriptor from at fromOffset, copied in the kernel where
    // it can (a file re-cut into songs); false on a failure, *readFailed telling a failed read of
    // from (the text then names no file of ours) from a failed write.
    bool WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed);
    // Waits until the bytes written out so far have reached the file, for an output that writes
    // later; false, failing as the write that failed would have, when one of them failed.
    bool Sync();
    // Patches the sizes (padding odd data) and closes the file. After a failure the file stays
    // open, so that Close can be tried again.
    void Close();
    // Lets go of a file that could not be closed: bytes still pending are dropped and the
    // descriptor is released, so that a full disk can be unmounted. Leaves the error alone.
    void Release();
    // Has the open file been deleted (or its folder removed) since it was created?
    bool IsFileRemoved() const;

    WAVEFORMATEX* GetFormat() { return m_pFormat; }
    // Where the files created from now on go (null: the file system); see IFileOutput.
    void SetOutput(IFileOutput* output) { m_file.SetOutput(output); }
    IFileOutput* GetOutput() const { return m_file.GetOutput(); }
    bool IsOpen() const { return m_file.IsOpen(); }
    int GetHandle() const { return m_file.Handle(); }  // the open file's, as its output knows it

    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }
    // The system's error number behind the last failure (0 when it had none).
    int GetErrorNumber() const { return m_file.LastError(); }

    // Largest RIFF size in bytes a file may reach, pad byte included. Tests lower it to reach
    // the limit without writing 4 GiB.
    static constexpr uint64_t kMaxRiffSize = 0xFFFFFFFFu;
    void SetRiffSizeLimit(uint64_t maxRiffSize) { m_nRiffSizeLimit = maxRiffSize; }

private:
    // Fails with format (holding the file name) followed by the system's reason.
    void FailWithReason(const char* format);
    // Would count more sample bytes pass the RIFF size limit?
    bool TooBig(uint64_t count) const;
    void WriteHeaderSteps(MMCKINFO* riff, MMCKINFO* fmt, MMCKINFO* data, const WAVEFORMATEX* format,
                          long bufferSize);

    char m_szFileName[PATH_MAX] = {};
    CRiffFile m_file;
    MMCKINFO m_ckRiff{};
    MMCKINFO m_ckFmt{};
    MMCKINFO m_ckData{};
    MMIOINFO m_info{};  // buffer state, borrowed from m_file for the length of a Write
    WAVEFORMATEX* m_pFormat = nullptr;
    std::unique_ptr<unsigned char[]> m_pFormatStorage;  // m_pFormat points into it
    size_t m_nFormatCapacity = 0;                       // bytes
    uint64_t m_nDataBytes = 0;                          // sample bytes taken since the header
    uint64_t m_nRiffSizeLimit = kMaxRiffSize;
    CErrorState m_error;
};
