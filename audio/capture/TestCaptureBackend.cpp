#include "audio/capture/TestCaptureBackend.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

CTestCaptureBackend::CTestCaptureBackend(Delivery delivery) : m_delivery(delivery) {
    WaveInCaps caps;
    std::snprintf(caps.szPname, sizeof caps.szPname, "%s", "Test Capture");
    caps.wChannels = 2;
    m_devices.push_back(caps);
}

CTestCaptureBackend::~CTestCaptureBackend() {
    ReleaseHang();
    Shutdown();
    const void* self = this;
    if (m_pHolder) m_pHolder->compare_exchange_strong(self, nullptr);
}

void CTestCaptureBackend::HangAfter(uint64_t bytes) {
    std::lock_guard<std::mutex> guard(m_hangMutex);
    m_nHangAt = bytes;
}

void CTestCaptureBackend::ReleaseHang() {
    {
        std::lock_guard<std::mutex> guard(m_hangMutex);
        m_nHangAt = UINT64_MAX;
    }
    m_hangCond.notify_all();
}

bool CTestCaptureBackend::IsHanging() const {
    std::lock_guard<std::mutex> guard(m_hangMutex);
    return m_bHanging;
}

bool CTestCaptureBackend::WaitSourceClosed(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_hangMutex);
    return m_hangCond.wait_for(lock, std::chrono::milliseconds(timeoutMs),
                               [this] { return m_bSourceClosed; });
}

void CTestCaptureBackend::CloseSource() {
    {
        std::lock_guard<std::mutex> guard(m_hangMutex);
        m_bSourceClosed = true;
    }
    m_hangCond.notify_all();
}

void CTestCaptureBackend::SetDevices(std::vector<WaveInCaps> devices) {
    m_devices = std::move(devices);
}

void CTestCaptureBackend::FailAt(TestOp op, int fromCall) {
    const int i = static_cast<int>(op);
    m_nFailFrom[i] = m_nCalls[i] + std::max(fromCall, 1);
}

void CTestCaptureBackend::ClearFailures() {
    for (auto& from : m_nFailFrom) from.store(0);
}

int CTestCaptureBackend::CallCount(TestOp op) const { return m_nCalls[static_cast<int>(op)]; }

bool CTestCaptureBackend::Allowed(TestOp op) {
    const int i = static_cast<int>(op);
    const int call = ++m_nCalls[i];
    const int from = m_nFailFrom[i].load();
    return from == 0 || call < from;
}

void CTestCaptureBackend::SetSource(std::vector<uint8_t> bytes) {
    m_source = std::move(bytes);
    m_nTotalBytes = m_source.size();
    m_generator = [this](uint64_t offset, uint8_t* dest, uint32_t n) {
        std::memcpy(dest, m_source.data() + offset, n);
    };
}

void CTestCaptureBackend::SetGeneratedSource(uint64_t totalBytes, Generator generator) {
    m_nTotalBytes = totalBytes;
    m_generator = std::move(generator);
}

void CTestCaptureBackend::FailAfter(uint64_t bytes) { m_nFailAt = bytes; }

void CTestCaptureBackend::StallAfter(uint64_t bytes) {
    m_nStallAt.store(bytes);
    Wake();
}

void CTestCaptureBackend::Resume() {
    m_nStallAt.store(UINT64_MAX);
    Wake();
}

CTestCaptureBackend::Generator CTestCaptureBackend::FrameCounter(const WAVEFORMATEX& format) {
    const uint32_t frameBytes = format.nBlockAlign;
    const uint16_t channels = format.nChannels;
    const bool isFloat = format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT;
    return [=](uint64_t offset, uint8_t* dest, uint32_t n) {
        // Byte by byte, so that pieces may start and end anywhere in a frame.
        for (uint32_t i = 0; i < n; ++i) {
            const uint64_t at = offset + i;
            const uint32_t frame = static_cast<uint32_t>(at / frameBytes);
            const uint32_t inFrame = static_cast<uint32_t>(at % frameBytes);
            uint8_t sample[4];
            if (isFloat) {
                // Channel c carries (frame + c) / 2^24 exactly: small values in [0, 1), so a
                // clamp to full scale leaves them alone.
                const uint32_t c = inFrame / 4;
                const float v = static_cast<float>((frame + c) & 0xFFFFFF) / 16777216.0f;
                std::memcpy(sample, &v, 4);
                dest[i] = sample[inFrame % 4];
            } else {
                // 16-bit: channel 0 the low half of the frame number, channel 1 the high half,
                // further channels the channel number.
                const uint32_t c = inFrame / 2;
                const uint16_t v = c == 0   ? static_cast<uint16_t>(frame & 0xFFFF)
                                   : c == 1 ? static_cast<uint16_t>(frame >> 16)
                                            : static_cast<uint16_t>(c);
                dest[i] = static_cast<uint8_t>(inFrame % 2 == 0 ? v & 0xFF : v >> 8);
            }
        }
        (void)channels;
    };
}

uint32_t CTestCaptureBackend::FrameNumberAt(const WAVEFORMATEX& format, const uint8_t* data,
                                            size_t frame) {
    const uint8_t* p = data + frame * format.nBlockAlign;
    if (format.wFormatTag == WAVE_FORMAT_IEEE_FLOAT) {
        float v;
        std::memcpy(&v, p, 4);
        return static_cast<uint32_t>(v * 16777216.0f);
    }
    const uint32_t low = static_cast<uint32_t>(p[0] | (p[1] << 8));
    const uint32_t high = format.nChannels > 1 ? static_cast<uint32_t>(p[2] | (p[3] << 8)) : 0;
    return low | (high << 16);
}

int CTestCaptureBackend::GetDeviceCount() { return static_cast<int>(m_devices.size()); }

bool CTestCaptureBackend::GetDeviceCaps(uint32_t deviceId, WaveInCaps* caps) {
    if (!Allowed(TestOp::GetDeviceCaps) || deviceId >= m_devices.size() || !caps) return false;
    *caps = m_devices[deviceId];
    return true;
}

bool CTestCaptureBackend::QueryFormat(uint32_t deviceId, const WAVEFORMATEX& format) {
    (void)format;
    if (!Allowed(TestOp::QueryFormat)) return false;
    return deviceId == WAVE_MAPPER ? !m_devices.empty() : deviceId < m_devices.size();
}

bool CTestCaptureBackend::Open(uint32_t deviceId, const WAVEFORMATEX& format, WaveInNotifyFn notify,
                               void* instance) {
    m_pszOpenFailure = kTestRefused;
    if (!Allowed(TestOp::Open)) return false;
    if (m_pHolder) {
        const void* none = nullptr;
        if (!m_pHolder->compare_exchange_strong(none, this) && none != this) {
            m_pszOpenFailure = kTestBusy;
            return false;
        }
    }
    if (!CQueuedCaptureBackend::Open(deviceId, format, notify, instance)) {
        if (m_pHolder) m_pHolder->store(nullptr);
        return false;
    }
    m_pszOpenFailure = nullptr;
    return true;
}

bool CTestCaptureBackend::GetOpenFailure(char* text, size_t size) const {
    if (!m_pszOpenFailure || size == 0) return false;
    std::snprintf(text, size, "%s", m_pszOpenFailure);
    return true;
}

bool CTestCaptureBackend::PrepareHeader(WAVEHDR* header) {
    return Allowed(TestOp::Prepare) && CQueuedCaptureBackend::PrepareHeader(header);
}

bool CTestCaptureBackend::UnprepareHeader(WAVEHDR* header) {
    return Allowed(TestOp::Unprepare) && CQueuedCaptureBackend::UnprepareHeader(header);
}

bool CTestCaptureBackend::AddBuffer(WAVEHDR* header) {
    return Allowed(TestOp::AddBuffer) && CQueuedCaptureBackend::AddBuffer(header);
}

bool CTestCaptureBackend::Start() {
    return Allowed(TestOp::Start) && CQueuedCaptureBackend::Start();
}

bool CTestCaptureBackend::Stop() { return Allowed(TestOp::Stop) && CQueuedCaptureBackend::Stop(); }

bool CTestCaptureBackend::Reset() {
    return Allowed(TestOp::Reset) && CQueuedCaptureBackend::Reset();
}

bool CTestCaptureBackend::Close() {
    if (!Allowed(TestOp::Close)) return false;
    const bool closed = CQueuedCaptureBackend::Close();
    const void* self = this;
    if (closed && m_pHolder) m_pHolder->compare_exchange_strong(self, nullptr);
    return closed;
}

bool CTestCaptureBackend::OpenSource(uint32_t deviceId, const WAVEFORMATEX& format,
                                     SourceTraits* traits) {
    if (deviceId != WAVE_MAPPER && deviceId >= m_devices.size()) return false;
    if (deviceId == WAVE_MAPPER && m_devices.empty()) return false;
    m_openedFormat = format;
    m_nOpenedDevice = deviceId;
    {
        std::lock_guard<std::mutex> guard(m_hangMutex);
        m_bSourceClosed = false;
    }
    m_nPosition.store(0);
    traits->bPaced = false;
    traits->bLossy = m_delivery == Delivery::Manual;
    traits->nMaxPieceBytes = 1u << 20;
    return true;
}

CQueuedCaptureBackend::ReadResult CTestCaptureBackend::Take(void* dest, uint32_t bytes) {
    ReadResult result;
    const uint64_t position = m_nPosition.load();
    const uint64_t stallAt = m_nStallAt.load();
    const bool failing = m_nFailAt < m_nTotalBytes && m_nFailAt <= stallAt;
    const bool stalling = !failing && stallAt < m_nTotalBytes;
    const uint64_t limit = failing ? m_nFailAt : stalling ? stallAt : m_nTotalBytes;
    uint64_t available = limit > position ? limit - position : 0;
    available -= available % FrameBytes();
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(bytes, available));
    if (n > 0) {
        if (m_generator) {
            m_generator(position, static_cast<uint8_t*>(dest), n);
        } else {
            std::memset(dest, 0, n);
        }
        m_nPosition.store(position + n);
    }
    result.nBytes = n;
    if (n < bytes) {
        if (!stalling) {
            result.bEnd = true;
            if (failing) result.pszFailure = kTestFailure;
        } else if (n == 0) {
            result.bStall = true;
        }
    }
    return result;
}

CQueuedCaptureBackend::ReadResult CTestCaptureBackend::ReadSource(void* dest, uint32_t bytes) {
    if (m_delivery == Delivery::Manual) {
        ReadResult result;
        result.bStall = true;
        return result;
    }
    {
        std::unique_lock<std::mutex> lock(m_hangMutex);
        if (m_nPosition.load() + bytes > m_nHangAt) {
            m_bHanging = true;
            m_hangCond.wait(lock, [this] { return m_nHangAt == UINT64_MAX; });
            m_bHanging = false;
        }
    }
    return Take(dest, bytes);
}

uint64_t CTestCaptureBackend::Produce(uint64_t bytes) {
    bytes -= bytes % FrameBytes();
    return Push(bytes, [this](void* dest, uint32_t n) { return Take(dest, n); });
}
