// Writes one song as a lossless FLAC file, with its title, track number, album and artist as
// tags. It takes the very bytes a WAV song file's data chunk holds (interleaved, little-endian,
// 16- or 24-bit integer samples), so a FLAC song decodes to exactly the samples of the WAV song
// it stands for. FLAC holds integers only: float input is refused, not rounded.
//
// The caller opens the file (exclusively, under a temporary name, as it sees fit) and hands the
// descriptor over; the writer never closes it, so the caller can sync it before it renames.
// libsndfile stays private to the .cpp. One thread at a time; it allocates and encodes, so it is
// no part of the real-time path.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "audio/ErrorState.h"
#include "audio/WaveFormat.h"

// The tags of one song, in UTF-8; an empty text or a track number of 0 is left out.
struct FlacTags {
    std::string strTitle;
    int nTrack = 0;
    std::string strAlbum;
    std::string strArtist;
};

// Why a sample format cannot go into a FLAC file.
enum class FlacRefusal {
    None,
    FloatSamples,  // FLAC holds integers; float audio would lose its exactness
    SampleSize,    // integer samples other than 16 or 24 bits
    Channels,      // none, or more than FLAC's 8
    Rate,          // none, or above FLAC's 655,350 Hz
};
FlacRefusal CheckFlacFormat(const WAVEFORMATEX& format);
// One line saying why, for a person.
const char* FlacRefusalText(FlacRefusal refusal);

class CFlacFileWriter {
public:
    CFlacFileWriter();
    ~CFlacFileWriter();  // abandons an unfinished stream; the descriptor stays open
    CFlacFileWriter(const CFlacFileWriter&) = delete;
    CFlacFileWriter& operator=(const CFlacFileWriter&) = delete;

    // Starts a FLAC stream at the start of fd (open for reading and writing, empty). False with
    // the reason in GetErrorText when the format is refused or the stream cannot be started;
    // `name` is the file as messages call it.
    bool Begin(int fd, const std::string& name, const WAVEFORMATEX& format, const FlacTags& tags);
    // Encodes count bytes in the WAV data layout; a frame cut in two between calls waits for
    // its other bytes.
    bool Write(const void* bytes, size_t count);
    // Writes what is left and the stream's summary (its length and checksum); fails when the
    // bytes ended inside a frame. fd stays open.
    bool Finish();

    uint64_t GetFrames() const { return m_nFrames; }
    FlacRefusal GetRefusal() const { return m_refusal; }  // set when Begin refused the format
    const char* GetErrorText() const { return m_error.Text(); }

private:
    struct Stream;
    bool Fail(const char* what);
    void Drop();
    bool Encode(const unsigned char* bytes, size_t frames);

    std::unique_ptr<Stream> m_pStream;
    std::string m_strName;
    WAVEFORMATEX m_format{};
    FlacRefusal m_refusal = FlacRefusal::None;
    uint64_t m_nFrames = 0;
    unsigned char m_carry[24] = {};  // the start of a frame (at most 8 channels of 3 bytes)
    size_t m_nCarry = 0;
    CErrorState m_error;
};
