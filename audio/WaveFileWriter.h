// Writes one song as a RIFF/WAVE file (16-bit PCM or 32-bit IEEE float) through one output
// buffer of the size given to BeginWave. The main window owns one writer for its whole run and
// reuses it for every file; while idle it holds the selected base file's path.
//
// One thread at a time: the user-interface thread before a recording starts and after it has
// ended, the recording thread in between. No lock of its own.
#pragma once

#include <cstdint>
#include <memory>

#include "ErrorState.h"
#include "RiffFile.h"
#include "WaveFormat.h"

class CWaveFileWriter {
public:
    CWaveFileWriter();
    virtual ~CWaveFileWriter();

    void SetFileName(const char* path);  // stored within 259 bytes
    const char* GetFileName() const { return m_szFileName; }

    // Closes a still-open file without patching it, then creates (truncates) the file.
    void Create();
    // Builds the format record and writes the header; bufferSize is the output buffer in bytes.
    void BeginWave(short bitsPerSample, unsigned long samplesPerSec, short channels,
                   long bufferSize);
    void WriteHeader(MMCKINFO* riff, MMCKINFO* fmt, MMCKINFO* data, const WAVEFORMATEX* format,
                     long bufferSize);
    // Appends count bytes; returns the bytes taken (0 on a failure that ends the call early).
    long Write(const void* data, long count);
    // Patches the sizes (padding odd data) and closes the file.
    void Close();

    WAVEFORMATEX* GetFormat() { return m_pFormat; }
    bool IsOpen() const;

    int GetErrorFlag() const { return m_error.Flag(); }
    const char* GetErrorText() const { return m_error.Text(); }

private:
    char m_szFileName[260] = {};
    std::unique_ptr<CRiffFile> m_pFile;
    MMCKINFO m_ckRiff{};
    MMCKINFO m_ckFmt{};
    MMCKINFO m_ckData{};
    WAVEFORMATEX* m_pFormat = nullptr;
    CErrorState m_error;
};
