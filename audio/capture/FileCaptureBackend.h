// A WAV file played as a capture device, for tests and the command-line splitter.
//
// API:
//   WavFileInfo info; std::string error;
//   ReadWavFileInfo(path, &info, &error)   // the file's format and data chunk, or a one-line
//                                          // reason it cannot be used (not a WAV, another
//                                          // sample format, truncated, unreadable)
//   auto backend = MakeFileCaptureBackend(path, FilePacing::AsFastAsRead);
//   CWaveIn waveIn(std::move(backend));    // then the usual Open/AllocateBuffers/Start/...
//
// The device list holds one device, named after the file; ids 0 and -1 (WAVE_MAPPER) open it.
// QueryFormat and Open accept exactly the file's format (tag, channels, rate, bits) and refuse
// any other, so a recorder set to another format gets the device's refusal. Each Open starts at
// the first byte of the data chunk. Buffers are completed in queue order with whole frames; at
// the end of the data the buffer being filled is completed with what it holds (a short block,
// possibly empty) and nothing more is completed after it.
//
// Pacing: AsFastAsRead reads the file as fast as the reader takes buffers and never loses data;
// RealTime delivers at the format's byte rate and, like a sound card, drops (and counts in
// GetLostFrames) data that arrives while no buffer is queued for longer than a short grace.
// The file is read on the backend's own thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "QueuedCaptureBackend.h"
#include "WaveFormat.h"

enum class FilePacing { RealTime, AsFastAsRead };

struct WavFileInfo {
    WAVEFORMATEX format{};     // as found in the "fmt " chunk (extensible formats reduced to 1/3)
    uint64_t nDataOffset = 0;  // bytes from the file's start to the first sample
    uint64_t nDataBytes = 0;   // bytes of samples, a whole number of frames
};

// Reads and checks the header of a 16-bit PCM or 32-bit float WAV. Any thread.
bool ReadWavFileInfo(const std::string& path, WavFileInfo* info, std::string* error);

class CFileCaptureBackend : public CQueuedCaptureBackend {
  public:
    CFileCaptureBackend(std::string path, FilePacing pacing);
    ~CFileCaptureBackend() override;

    // False when the file cannot serve as a device; GetFileError says why.
    bool IsValid() const { return m_bValid; }
    const std::string& GetFileError() const { return m_strError; }
    const WavFileInfo& GetFileInfo() const { return m_info; }
    // Data bytes read from the file since Open. Any thread (a progress display).
    uint64_t GetBytesRead() const { return m_nBytesRead.load(); }

    int GetDeviceCount() override;
    bool GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) override;
    bool QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) override;

  protected:
    bool OpenSource(uint32_t deviceId, const WAVEFORMATEX& format, SourceTraits* traits) override;
    void CloseSource() override;
    bool StartSource() override { return true; }
    bool StopSource() override { return true; }
    ReadResult ReadSource(void* dest, uint32_t bytes) override;

  private:
    bool Accepts(uint32_t deviceId, const WAVEFORMATEX& format) const;

    std::string m_strPath;
    FilePacing m_pacing;
    bool m_bValid = false;
    std::string m_strError;
    WavFileInfo m_info;
    int m_hFile = -1;
    uint64_t m_nRemaining = 0;
    std::atomic<uint64_t> m_nBytesRead{0};
};

std::unique_ptr<ICaptureBackend> MakeFileCaptureBackend(const std::string& wavPath,
                                                        FilePacing pacing);
