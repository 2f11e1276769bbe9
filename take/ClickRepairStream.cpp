#include "take/ClickRepairStream.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

// Music the repairer sees on either side of the frames it judges: far more than the stretch its
// model is fitted on, so that a click near a piece's edge is judged as it would be inside.
size_t MarginFrames(uint32_t rate) { return std::max<size_t>(4096, rate / 4); }
// Frames judged at a time: long beside the margins, so that judging them twice costs little.
size_t CoreFrames(uint32_t rate) { return 16 * MarginFrames(rate); }

bool IsFloat(const WAVEFORMATEX& format) { return format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT; }

void Store(float v, bool bFloat, uint8_t* at) {
    if (bFloat) {
        std::memcpy(at, &v, sizeof v);
        return;
    }
    const float scaled = std::clamp(std::nearbyint(v * 32768.0f), -32768.0f, 32767.0f);
    const auto s = static_cast<int16_t>(scaled);
    std::memcpy(at, &s, sizeof s);
}

}  // namespace

CClickRepairStream::CClickRepairStream(const WAVEFORMATEX& format, ClickSensitivity sensitivity)
    : m_format(format),
      m_sensitivity(sensitivity),
      m_bSupported(Supports(format)),
      m_nFrameBytes(format.nBlockAlign) {}

bool CClickRepairStream::Supports(const WAVEFORMATEX& format) {
    const bool b16 = format.wFormatTag == WAVE_FORMAT_PCM && format.wBitsPerSample == 16;
    const bool bFloat = IsFloat(format) && format.wBitsPerSample == 32;
    return (b16 || bFloat) && format.nChannels > 0 && format.nSamplesPerSec > 0 &&
           format.nBlockAlign == format.nChannels * format.wBitsPerSample / 8;
}

bool CClickRepairStream::Push(const void* data, size_t count, const Sink& out) {
    if (m_bFinished) {
        // The next song: its frames count from its own start.
        m_buffer.clear();
        m_nBufferStart = 0;
        m_nDone = 0;
        m_repairs.clear();
        m_reached.clear();
        m_nSamplesChanged = 0;
        m_bFinished = false;
    }
    if (count == 0) return true;
    if (!m_bSupported) return out(data, count);
    const auto* bytes = static_cast<const uint8_t*>(data);
    m_buffer.insert(m_buffer.end(), bytes, bytes + count);
    return Process(false, out);
}

bool CClickRepairStream::Finish(const Sink& out) {
    if (m_bFinished) Push(nullptr, 0, out);  // a song without frames
    const bool ok = !m_bSupported || Process(true, out);
    m_bFinished = true;
    return ok;
}

bool CClickRepairStream::Process(bool bLast, const Sink& out) {
    const size_t margin = MarginFrames(m_format.nSamplesPerSec);
    const size_t core = CoreFrames(m_format.nSamplesPerSec);
    const int channels = m_format.nChannels;
    const uint64_t buffered = m_nBufferStart + m_buffer.size() / m_nFrameBytes;
    m_reached.resize(static_cast<size_t>(channels), 0);
    while (true) {
        uint64_t coreEnd = 0;
        if (buffered >= m_nDone + core + margin) {
            coreEnd = m_nDone + core;
        } else if (bLast && buffered > m_nDone) {
            coreEnd = buffered;
        } else {
            return true;
        }
        const uint64_t first = m_nDone - std::min<uint64_t>(margin, m_nDone);
        const uint64_t last = std::min<uint64_t>(buffered, coreEnd + margin);
        const size_t frames = static_cast<size_t>(last - first);
        const uint8_t* from = m_buffer.data() + (first - m_nBufferStart) * m_nFrameBytes;
        m_window.assign(from, from + frames * m_nFrameBytes);
        ClickRepairResult found;
        if (IsFloat(m_format)) {
            found = RepairClicks(reinterpret_cast<float*>(m_window.data()), frames, channels,
                                 m_format.nSamplesPerSec, m_sensitivity);
        } else {
            found = RepairClicks(reinterpret_cast<int16_t*>(m_window.data()), frames, channels,
                                 m_format.nSamplesPerSec, m_sensitivity);
        }
        const size_t before = m_repairs.size();
        for (ClickRepair& r : found.repairs) {
            r.nFrame += first;
            uint64_t& end = m_reached[static_cast<size_t>(r.nChannel)];
            if (r.nFrame < m_nDone || r.nFrame >= coreEnd || r.nFrame < end) continue;
            end = r.nFrame + r.nLength;
            for (size_t i = 0; i < r.original.size(); ++i) {
                m_nSamplesChanged += r.original[i] != r.repaired[i];
            }
            m_repairs.push_back(std::move(r));
        }
        std::sort(m_repairs.begin() + static_cast<std::ptrdiff_t>(before), m_repairs.end(),
                  [](const ClickRepair& a, const ClickRepair& b) {
                      return a.nFrame != b.nFrame ? a.nFrame < b.nFrame : a.nChannel < b.nChannel;
                  });

        // The judged frames as they came, with every repair that reaches into them.
        const size_t count = static_cast<size_t>(coreEnd - m_nDone);
        const uint8_t* done = m_buffer.data() + (m_nDone - m_nBufferStart) * m_nFrameBytes;
        m_window.assign(done, done + count * m_nFrameBytes);
        ApplyRepairsAt(m_window.data(), m_format, m_nDone, count, m_repairs, true);
        if (!out(m_window.data(), m_window.size())) return false;
        m_nDone = coreEnd;

        const uint64_t keep = m_nDone - std::min<uint64_t>(margin, m_nDone);
        if (keep > m_nBufferStart) {
            m_buffer.erase(m_buffer.begin(),
                           m_buffer.begin() + static_cast<std::ptrdiff_t>((keep - m_nBufferStart) *
                                                                          m_nFrameBytes));
            m_nBufferStart = keep;
        }
    }
}

void ApplyRepairsAt(void* bytes, const WAVEFORMATEX& format, uint64_t first, size_t frames,
                    const std::vector<ClickRepair>& repairs, bool bRepaired) {
    if (!CClickRepairStream::Supports(format)) return;
    const bool bFloat = IsFloat(format);
    const size_t sampleBytes = format.wBitsPerSample / 8;
    auto* out = static_cast<uint8_t*>(bytes);
    const uint64_t end = first + frames;
    for (const ClickRepair& r : repairs) {
        if (r.nFrame >= end || r.nFrame + r.nLength <= first || r.nChannel < 0 ||
            r.nChannel >= format.nChannels) {
            continue;
        }
        const std::vector<float>& values = bRepaired ? r.repaired : r.original;
        const uint64_t from = std::max(first, r.nFrame);
        const uint64_t to = std::min<uint64_t>(end, r.nFrame + values.size());
        for (uint64_t f = from; f < to; ++f) {
            Store(values[static_cast<size_t>(f - r.nFrame)], bFloat,
                  out + (f - first) * format.nBlockAlign +
                      static_cast<size_t>(r.nChannel) * sampleBytes);
        }
    }
}
