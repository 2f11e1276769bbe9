#include "take/ClickRepairEncoder.h"

#include "take/FileSteps.h"

CClickRepairEncoder::CClickRepairEncoder(ISongEncoder& inner, const WAVEFORMATEX& format,
                                         ClickSensitivity sensitivity)
    : m_inner(inner), m_format(format), m_sensitivity(sensitivity) {}

bool CClickRepairEncoder::Begin(const char* path, long number) {
    // A stream of its own per file: what an earlier file held back never reaches this one.
    m_pStream = std::make_unique<CClickRepairStream>(m_format, m_sensitivity);
    m_strPath = path;
    return m_inner.Begin(path, number);
}

bool CClickRepairEncoder::Pass(const void* data, size_t count) {
    if (!m_pStream) return false;
    return m_pStream->Push(data, count, [this](const void* bytes, size_t n) {
        return m_inner.Write(bytes, static_cast<long>(n));
    });
}

bool CClickRepairEncoder::Write(const void* data, long count) {
    return count <= 0 || Pass(data, static_cast<size_t>(count));
}

bool CClickRepairEncoder::WriteFrom(int from, uint64_t fromOffset, uint64_t count,
                                    bool* readFailed) {
    constexpr size_t kPiece = size_t{1} << 20;
    m_copy.resize(kPiece);
    while (count > 0) {
        const size_t want = count < kPiece ? static_cast<size_t>(count) : kPiece;
        if (!ReadAll(from, m_copy.data(), want, fromOffset)) {
            if (readFailed) *readFailed = true;
            return false;
        }
        if (!Pass(m_copy.data(), want)) return false;
        fromOffset += want;
        count -= want;
    }
    return true;
}

bool CClickRepairEncoder::Finish() {
    if (m_pStream) {
        const bool flushed = m_pStream->Finish([this](const void* bytes, size_t n) {
            return m_inner.Write(bytes, static_cast<long>(n));
        });
        m_files.push_back({m_strPath, m_pStream->Repairs().size(), m_pStream->SamplesChanged()});
        m_pStream.reset();
        if (!flushed) return false;
    }
    return m_inner.Finish();
}

void CClickRepairEncoder::Abandon() {
    m_pStream.reset();
    m_inner.Abandon();
}
