// A WAV file played as a capture device, for tests and the command-line splitter.
//
// API:
//   auto backend = MakeFileCaptureBackend(path, FilePacing::AsFastAsRead);
//   CWaveIn waveIn(std::move(backend));    // then the usual Open/AllocateBuffers/Start/...
//
// The header is read by the WAV reader (audio/WaveFileReader.h). An input opened once by its
// user (a pipe, a FIFO, standard input, or a file that must not be opened again): after
// ReadWavHeader(fd, ...), MakeFileCaptureBackend(fd, name, info, pacing) plays it on from
// there. A pipe is read as a stream, once, and a blocked read gives way to Stop, Reset and Close.
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

#include "audio/WaveFileReader.h"
#include "audio/WaveFormat.h"
#include "audio/capture/QueuedCaptureBackend.h"

enum class FilePacing { RealTime, AsFastAsRead };

class CFileCaptureBackend : public CQueuedCaptureBackend {
public:
    CFileCaptureBackend(std::string path, FilePacing pacing);
    // Plays a descriptor whose header ReadWavHeader has read; takes it over.
    CFileCaptureBackend(int fd, std::string name, const WavFileInfo& info, FilePacing pacing);
    ~CFileCaptureBackend() override;

    // False when the file cannot serve as a device; GetFileError says why.
    bool IsValid() const { return m_bValid; }
    const std::string& GetFileError() const { return m_strError; }
    const WavFileInfo& GetFileInfo() const { return m_info; }
    // Data bytes read from the file since Open. Any thread (a progress display).
    uint64_t GetBytesRead() const { return m_nBytesRead.load(); }
    // Bytes taken from the input since Open: those read and a partial frame left out where a
    // read ended (a stream's reader goes on after them). Any thread.
    uint64_t GetBytesTaken() const { return m_nBytesRead.load() + m_nBytesDropped.load(); }
    // A stream's last bytes, read ahead into buffers the recording never took: copies up to
    // `bytes` of them from data byte `from` (counted as GetBytesTaken counts) into dest and
    // returns how many; 0 once they are no longer kept (it keeps the last MiB). After Close.
    size_t CopyRecent(uint64_t from, void* dest, size_t bytes) const;
    // The error number of a read that failed (the input then ended early), 0 when none did.
    // Any thread.
    int GetReadError() const { return m_nReadErrno.load(); }

    int GetDeviceCount() override;
    bool GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) override;
    bool QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) override;
    // The file's rate is the recording's.
    bool TakesAnyRate() const override { return true; }
    // The file that cannot be read, and why.
    bool GetOpenFailure(char* text, size_t size) const override;
    // A stream's blocked read gives way to these.
    bool Stop() override;
    bool Reset() override;
    bool Close() override;

protected:
    bool OpenSource(uint32_t deviceId, const WAVEFORMATEX& format, SourceTraits* traits) override;
    void CloseSource() override;
    bool StartSource() override { return true; }
    bool StopSource() override { return true; }
    ReadResult ReadSource(void* dest, uint32_t bytes) override;

private:
    bool Accepts(uint32_t deviceId, const WAVEFORMATEX& format) const;

    std::string m_strPath;  // the file, or the name of a descriptor's input
    FilePacing m_pacing;
    bool m_bOwnFd = false;  // the descriptor was handed over: keep it open between Opens
    bool m_bStreamUsed = false;
    std::atomic<bool> m_bCancel{false};  // a stream's read must give way
    std::atomic<int> m_nReadErrno{0};
    bool m_bValid = false;
    std::string m_strError;
    WavFileInfo m_info;
    int m_hFile = -1;
    uint64_t m_nRemaining = 0;
    std::atomic<uint64_t> m_nBytesRead{0};
    std::atomic<uint64_t> m_nBytesDropped{0};
    // A stream's last bytes, in a ring allocated at Open (the device thread never allocates).
    static constexpr size_t kRecentBytes = 1u << 20;
    std::unique_ptr<char[]> m_pRecent;
    uint64_t m_nRecentEnd = 0;  // stream bytes that went through the ring
};

std::unique_ptr<ICaptureBackend> MakeFileCaptureBackend(const std::string& wavPath,
                                                        FilePacing pacing);
std::unique_ptr<CFileCaptureBackend> MakeFileCaptureBackend(int fd, const std::string& name,
                                                            const WavFileInfo& info,
                                                            FilePacing pacing);
