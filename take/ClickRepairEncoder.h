// Song files with their clicks repaired: an encoder that stands in front of another (WAV or
// FLAC) and hands it each file's samples through a click repair stream (ClickRepairStream.h), so
// that every writer of songs (the splitter's modes, a keep) can repair what it writes without
// knowing how. The samples come in as the song is cut, unrepaired (the cuts were decided on
// them); a few seconds are held back and reach the file by the next writes or by Finish. Each
// file's repairs are remembered, by path, for the summary.
//
// Used by the thread that uses its song file sequence, like any encoder. It allocates as it
// goes: it is for the splitter and the keep, never the live recorder's block loop.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "audio/SongEncoder.h"
#include "take/ClickRepairStream.h"

struct RepairedFile {
    std::string strPath;
    size_t nClicks = 0;  // repairs made in the file (a click in both channels counts twice)
    uint64_t nSamplesChanged = 0;
};

class CClickRepairEncoder final : public ISongEncoder {
public:
    // Repairs the files `inner` writes, whose samples are in format.
    CClickRepairEncoder(ISongEncoder& inner, const WAVEFORMATEX& format,
                        ClickSensitivity sensitivity);

    bool Begin(const char* path, long number) override;
    bool Write(const void* data, long count) override;
    bool WriteFrom(int from, uint64_t fromOffset, uint64_t count, bool* readFailed) override;
    bool Sync() override { return m_inner.Sync(); }
    bool Finish() override;
    void Abandon() override;
    bool IsOpen() const override { return m_inner.IsOpen(); }
    bool IsFileRemoved() const override { return m_inner.IsFileRemoved(); }
    uint64_t MaxDataBytes() const override { return m_inner.MaxDataBytes(); }
    const char* ErrorText() const override { return m_inner.ErrorText(); }
    int ErrorNumber() const override { return m_inner.ErrorNumber(); }

    // Every file finished, in order.
    const std::vector<RepairedFile>& Files() const { return m_files; }

private:
    bool Pass(const void* data, size_t count);

    ISongEncoder& m_inner;
    WAVEFORMATEX m_format;
    ClickSensitivity m_sensitivity;
    std::unique_ptr<CClickRepairStream> m_pStream;
    std::string m_strPath;
    std::vector<uint8_t> m_copy;  // WriteFrom's bytes on their way to the stream
    std::vector<RepairedFile> m_files;
};
