#include "audio/FlacFileWriter.h"

#include <sndfile.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr size_t kChunkFrames = 4096;  // frames converted and encoded at a time
constexpr uint32_t kMaxFlacRate = 655350;
constexpr uint16_t kMaxFlacChannels = 8;

}  // namespace

FlacRefusal CheckFlacFormat(const WAVEFORMATEX& format) {
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) return FlacRefusal::FloatSamples;
    if (format.wFormatTag != WAVE_FORMAT_PCM ||
        (format.wBitsPerSample != 16 && format.wBitsPerSample != 24)) {
        return FlacRefusal::SampleSize;
    }
    if (format.nChannels == 0 || format.nChannels > kMaxFlacChannels) return FlacRefusal::Channels;
    if (format.nSamplesPerSec == 0 || format.nSamplesPerSec > kMaxFlacRate) {
        return FlacRefusal::Rate;
    }
    return FlacRefusal::None;
}

const char* FlacRefusalText(FlacRefusal refusal) {
    switch (refusal) {
        case FlacRefusal::None:
            return "";
        case FlacRefusal::FloatSamples:
            return "FLAC holds integer samples only; 32-bit float audio cannot be kept in it "
                   "without loss (keep it as WAV)";
        case FlacRefusal::SampleSize:
            return "FLAC files are written from 16- or 24-bit integer samples only";
        case FlacRefusal::Channels:
            return "a FLAC file holds 1 to 8 channels";
        case FlacRefusal::Rate:
            return "a FLAC file holds sample rates up to 655,350 Hz";
    }
    return "";
}

struct CFlacFileWriter::Stream {
    SNDFILE* pFile = nullptr;
    std::vector<short> shorts;  // 16-bit samples on their way to the encoder
    std::vector<int> ints;      // 24-bit samples, scaled to the top of an int as libsndfile wants
};

CFlacFileWriter::CFlacFileWriter() = default;

CFlacFileWriter::~CFlacFileWriter() { Drop(); }

void CFlacFileWriter::Drop() {
    if (m_pStream && m_pStream->pFile) sf_close(m_pStream->pFile);
    m_pStream.reset();
}

bool CFlacFileWriter::Fail(const char* what) {
    const char* reason = sf_strerror(m_pStream ? m_pStream->pFile : nullptr);
    m_error.Fail("Cannot %s the FLAC file %s: %s", what, m_strName.c_str(), reason);
    Drop();
    return false;
}

namespace {

// A tag's text as the FLAC library takes it. The text is UTF-8, but the library also refuses the
// two noncharacters U+FFFE and U+FFFF, and libsndfile then frees the refused comment twice: each
// becomes U+FFFD, the replacement character.
std::string TagText(std::string text) {
    for (size_t at = 0; (at = text.find("\xEF\xBF", at)) != std::string::npos; at += 3) {
        if (at + 2 < text.size() && (text[at + 2] == '\xBE' || text[at + 2] == '\xBF')) {
            text[at + 2] = '\xBD';
        }
    }
    return text;
}

}  // namespace

bool CFlacFileWriter::Begin(int fd, const std::string& name, const WAVEFORMATEX& format,
                            const FlacTags& tags) {
    m_error.Clear();
    Drop();
    m_strName = name;
    m_format = format;
    m_nFrames = 0;
    m_nCarry = 0;
    m_refusal = CheckFlacFormat(format);
    if (m_refusal != FlacRefusal::None) {
        m_error.Fail("Cannot write %s: %s.", name.c_str(), FlacRefusalText(m_refusal));
        return false;
    }
    SF_INFO info{};
    info.samplerate = static_cast<int>(format.nSamplesPerSec);
    info.channels = format.nChannels;
    info.format =
        SF_FORMAT_FLAC | (format.wBitsPerSample == 16 ? SF_FORMAT_PCM_16 : SF_FORMAT_PCM_24);
    m_pStream = std::make_unique<Stream>();
    m_pStream->pFile = sf_open_fd(fd, SFM_WRITE, &info, SF_FALSE);
    if (m_pStream->pFile == nullptr) return Fail("start");

    // Tags go in before the first sample, while libsndfile can still put them in the header.
    const std::string track = tags.nTrack > 0 ? std::to_string(tags.nTrack) : std::string();
    const std::pair<int, const std::string*> strings[] = {{SF_STR_TITLE, &tags.strTitle},
                                                          {SF_STR_TRACKNUMBER, &track},
                                                          {SF_STR_ALBUM, &tags.strAlbum},
                                                          {SF_STR_ARTIST, &tags.strArtist}};
    for (const auto& [kind, text] : strings) {
        if (!text->empty() && sf_set_string(m_pStream->pFile, kind, TagText(*text).c_str()) != 0) {
            return Fail("tag");
        }
    }
    const size_t samples = kChunkFrames * format.nChannels;
    if (format.wBitsPerSample == 16) {
        m_pStream->shorts.resize(samples);
    } else {
        m_pStream->ints.resize(samples);
    }
    return true;
}

bool CFlacFileWriter::Write(const void* bytes, size_t count) {
    m_error.Clear();
    if (!m_pStream) {
        m_error.Fail("Cannot write the FLAC file %s: it is not open.", m_strName.c_str());
        return false;
    }
    const size_t frameBytes = m_format.nBlockAlign;
    const auto* in = static_cast<const unsigned char*>(bytes);
    if (m_nCarry > 0) {
        const size_t n = std::min(count, frameBytes - m_nCarry);
        std::memcpy(m_carry + m_nCarry, in, n);
        m_nCarry += n;
        in += n;
        count -= n;
        if (m_nCarry < frameBytes) return true;
        m_nCarry = 0;
        if (!Encode(m_carry, 1)) return false;
    }
    if (!Encode(in, count / frameBytes)) return false;
    m_nCarry = count % frameBytes;
    std::memcpy(m_carry, in + count - m_nCarry, m_nCarry);
    return true;
}

bool CFlacFileWriter::Encode(const unsigned char* in, size_t frames) {
    const size_t channels = m_format.nChannels;
    for (size_t left = frames; left > 0;) {
        const size_t chunk = std::min(left, kChunkFrames);
        const size_t samples = chunk * channels;
        sf_count_t written;
        if (m_format.wBitsPerSample == 16) {
            short* out = m_pStream->shorts.data();
            for (size_t i = 0; i < samples; ++i, in += 2) {
                out[i] = static_cast<short>(static_cast<uint16_t>(in[0] | in[1] << 8));
            }
            written = sf_writef_short(m_pStream->pFile, out, static_cast<sf_count_t>(chunk));
        } else {
            int* out = m_pStream->ints.data();
            for (size_t i = 0; i < samples; ++i, in += 3) {
                out[i] = static_cast<int>(static_cast<uint32_t>(in[0]) << 8 |
                                          static_cast<uint32_t>(in[1]) << 16 |
                                          static_cast<uint32_t>(in[2]) << 24);
            }
            written = sf_writef_int(m_pStream->pFile, out, static_cast<sf_count_t>(chunk));
        }
        if (written != static_cast<sf_count_t>(chunk)) return Fail("write");
        m_nFrames += chunk;
        left -= chunk;
    }
    return true;
}

bool CFlacFileWriter::Finish() {
    m_error.Clear();
    if (!m_pStream) {
        m_error.Fail("Cannot finish the FLAC file %s: it is not open.", m_strName.c_str());
        return false;
    }
    if (m_nCarry > 0) {
        m_error.Fail("Cannot finish the FLAC file %s: its samples end inside a frame.",
                     m_strName.c_str());
        Drop();
        return false;
    }
    SNDFILE* file = m_pStream->pFile;
    // libsndfile starts the stream with its first samples; a song without any still needs its
    // header to be a FLAC file at all.
    if (m_nFrames == 0) sf_command(file, SFC_UPDATE_HEADER_NOW, nullptr, 0);
    m_pStream->pFile = nullptr;
    const int result = sf_close(file);
    m_pStream.reset();
    if (result != 0) {
        m_error.Fail("Cannot finish the FLAC file %s: %s", m_strName.c_str(),
                     sf_error_number(result));
        return false;
    }
    return true;
}
