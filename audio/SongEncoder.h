// The container of a song file: what a song file sequence (CSongFiles) asks of a format. The
// encoder creates the file, writes its header, takes the sample bytes in the WAV data layout
// (interleaved, little-endian, whole or cut-up frames), completes the container and closes the
// file. Each encoder owns its container: WAV through CWaveFileWriter (the RIFF chunks), FLAC
// through CFlacFileWriter; the next formats plug in here.
//
// Where a file is created (directly, through a write queue, under a temporary name) is the
// IFileOutput's business. Used by one thread at a time, the thread that uses its sequence.
#pragma once

#include <cstdint>
#include <functional>
#include <limits>
#include <memory>
#include <string>

#include "audio/FileOutput.h"
#include "audio/FlacFileWriter.h"
#include "audio/WaveFileWriter.h"
#include "audio/WaveFormat.h"

class ISongEncoder {
public:
    virtual ~ISongEncoder() = default;

    // Creates the file at path and starts the song number `number` in it. False, with
    // ErrorText and ErrorNumber, when the file cannot be made.
    virtual bool Begin(const char* path, long number) = 0;
    // Appends count bytes of samples.
    virtual bool Write(const void* data, long count) = 0;
    // Appends count bytes of samples read from the descriptor from at fromOffset; false on a
    // failure, with *readFailed when it was the read.
    virtual bool WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) = 0;
    // Waits until the bytes handed over so far are written, for an output that writes later;
    // false when one of them failed.
    virtual bool Sync() { return true; }
    // Completes the container and closes the file. After a failure the file may stay open.
    virtual bool Finish() = 0;
    // Lets go of a file that is not to be finished (or could not be): the descriptor is
    // released, the bytes are left as they are.
    virtual void Abandon() = 0;
    virtual bool IsOpen() const = 0;
    // Has the open file lost its name (deleted, or its folder removed)?
    virtual bool IsFileRemoved() const { return false; }
    // The sample bytes one file can hold at most.
    virtual uint64_t MaxDataBytes() const = 0;
    // The last failure in a sentence (naming the file) and the system's error number (0 when
    // the failure had none).
    virtual const char* ErrorText() const = 0;
    virtual int ErrorNumber() const = 0;
};

// WAV song files through a CWaveFileWriter, which may be one that outlives the encoder (the
// recorder's). Allocates nothing after its construction: the recording thread opens files
// through it.
class CWavSongEncoder final : public ISongEncoder {
public:
    // The largest sample bytes of a WAV file: its RIFF size field counts the header and a pad
    // byte too, and holds 32 bits; the margin fits every header this writer makes.
    static constexpr uint64_t kMaxDataBytes = CWaveFileWriter::kMaxRiffSize - 64;

    // bufferSize: the writer's output buffer in bytes (the recorder's capture buffer size).
    CWavSongEncoder(CWaveFileWriter& writer, const WAVEFORMATEX& format, long bufferSize)
        : m_writer(writer), m_format(format), m_nBufferSize(bufferSize) {}
    void SetFormat(const WAVEFORMATEX& format, long bufferSize) {
        m_format = format;
        m_nBufferSize = bufferSize;
    }

    bool Begin(const char* path, long number) override;
    bool Write(const void* data, long count) override;
    // Copies in the kernel where the system can.
    bool WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) override;
    bool Sync() override;
    bool Finish() override;
    void Abandon() override { m_writer.Release(); }
    bool IsOpen() const override { return m_writer.IsOpen(); }
    bool IsFileRemoved() const override { return m_writer.IsFileRemoved(); }
    uint64_t MaxDataBytes() const override { return kMaxDataBytes; }
    const char* ErrorText() const override { return m_writer.GetErrorText(); }
    int ErrorNumber() const override { return m_writer.GetErrorNumber(); }

private:
    CWaveFileWriter& m_writer;
    WAVEFORMATEX m_format;
    long m_nBufferSize;
};

// FLAC song files, each with its tags. The output must hand out descriptors of real files
// (libsndfile writes them itself); the encoding happens on the caller's thread.
class CFlacSongEncoder final : public ISongEncoder {
public:
    using TagsFor = std::function<FlacTags(long number, const std::string& path)>;

    // The format must pass CheckFlacFormat; tags may be null (no tags).
    CFlacSongEncoder(IFileOutput& output, const WAVEFORMATEX& format, TagsFor tags)
        : m_output(output), m_format(format), m_tags(std::move(tags)) {}
    ~CFlacSongEncoder() override;

    bool Begin(const char* path, long number) override;
    bool Write(const void* data, long count) override;
    bool WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) override;
    bool Finish() override;
    void Abandon() override;
    bool IsOpen() const override { return m_nHandle >= 0; }
    bool IsFileRemoved() const override { return IsOpen() && m_output.IsUnlinked(m_nHandle); }
    uint64_t MaxDataBytes() const override { return std::numeric_limits<uint64_t>::max(); }
    const char* ErrorText() const override { return m_error.Text(); }
    int ErrorNumber() const override { return m_nErrno; }

private:
    bool Fail(const char* text, int error);

    IFileOutput& m_output;
    WAVEFORMATEX m_format;
    TagsFor m_tags;
    CFlacFileWriter m_flac;
    std::string m_strPath;
    std::unique_ptr<char[]> m_pCopy;  // WriteFrom's bytes on their way to the encoder
    int m_nHandle = -1;
    int m_nErrno = 0;
    CErrorState m_error;
};
