#include "engine/LevelMonitor.h"

#include <chrono>
#include <cstdio>
#include <new>

namespace {

void OnDeviceData(void* /*handle*/, unsigned /*message*/, void* instance, uintptr_t /*param1*/,
                  uintptr_t /*param2*/) {
    static_cast<CEvent*>(instance)->Set();
}

// The first line of a capture error text: the reason without the advice around it.
std::string FirstLine(const char* text) {
    std::string line = text ? text : "";
    if (const size_t end = line.find('\n'); end != std::string::npos) line.resize(end);
    return line;
}

}  // namespace

CLevelMonitor::CLevelMonitor(std::unique_ptr<ICaptureBackend> backend)
    : m_waveIn(std::move(backend)) {}

CLevelMonitor::~CLevelMonitor() {
    ForgetMeterLevelSource(this);
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        m_bEnding = true;
    }
    m_cond.notify_all();
    m_dataEvent.Set();
    if (m_thread.joinable()) m_thread.join();
    delete[] m_pBlock;
}

void CLevelMonitor::Monitor(const RecSettings& settings) {
    {
        std::lock_guard<std::mutex> guard(m_mutex);
        if (m_bWanted && settings == m_settings) return;
        m_bWanted = true;
        m_settings = settings;
        ++m_nGeneration;
        if (!m_thread.joinable()) m_thread = std::thread([this] { Run(); });
    }
    m_cond.notify_all();
    // A block loop running on the previous settings looks at its requests at once.
    m_dataEvent.Set();
}

bool CLevelMonitor::Release(int timeoutMs) {
    std::unique_lock<std::mutex> lock(m_mutex);
    m_bWanted = false;
    if (m_state == MonitorState::Failed) m_state = MonitorState::Off;
    lock.unlock();
    m_cond.notify_all();
    m_dataEvent.Set();
    lock.lock();
    return m_cond.wait_for(lock, std::chrono::milliseconds(std::max(timeoutMs, 0)),
                           [this] { return !m_bHolding && !m_bOpening; });
}

MonitorState CLevelMonitor::GetState() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_state;
}

std::string CLevelMonitor::GetFailure() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_state == MonitorState::Failed ? m_strFailure : std::string();
}

bool CLevelMonitor::HoldsDevice() const {
    std::lock_guard<std::mutex> guard(m_mutex);
    return m_bHolding;
}

void CLevelMonitor::GetMeterLevels(int channel, int* power, int* peak, int* clips) {
    m_levels.Read(channel, power, peak, clips);
}

void CLevelMonitor::NotifyState() {
    if (m_onStateChanged) m_onStateChanged();
}

bool CLevelMonitor::NewRequest() const { return m_bWanted && m_nOpenedGeneration != m_nGeneration; }

bool CLevelMonitor::Retrying() const {
    return m_bWanted && m_nOpenedGeneration == m_nGeneration && m_state == MonitorState::Failed;
}

void CLevelMonitor::Run() {
    std::unique_lock<std::mutex> lock(m_mutex);
    for (;;) {
        if (m_bEnding) break;
        if (!NewRequest()) {
            if (!Retrying()) {
                m_cond.wait(lock, [this] { return m_bEnding || NewRequest(); });
                continue;
            }
            // A device that failed comes back by itself (a card plugged in again, a sound server
            // restarted): it is tried again now and then, while it is still wanted. A request
            // or the end comes first.
            if (m_cond.wait_for(lock, std::chrono::milliseconds(std::max(m_nRetryMs, 1)),
                                [this] { return m_bEnding || !Retrying(); })) {
                continue;
            }
        }
        // A retry keeps the failure shown until the device answers.
        const bool again = m_nOpenedGeneration == m_nGeneration;
        const RecSettings settings = m_settings;
        const uint64_t generation = m_nGeneration;
        m_nOpenedGeneration = generation;
        m_bOpening = true;
        if (!again) {
            m_state = MonitorState::Opening;
            m_strFailure.clear();
        }
        lock.unlock();
        if (!again) NotifyState();

        std::string failure;
        const bool opened = OpenDevice(settings, &failure);
        lock.lock();
        m_bOpening = false;
        if (!opened) {
            const bool changed =
                !again || failure != m_strFailure || m_state != MonitorState::Failed;
            // Released meanwhile: the failure is of no interest any more.
            m_state = m_bWanted ? MonitorState::Failed : MonitorState::Off;
            m_strFailure = failure;
            lock.unlock();
            m_cond.notify_all();
            if (changed) NotifyState();
            lock.lock();
            continue;
        }
        m_bHolding = true;
        m_state = MonitorState::Running;
        m_strFailure.clear();
        lock.unlock();
        NotifyState();

        bool failed = false;
        lock.lock();
        while (!m_bEnding && m_bWanted && m_nGeneration == generation) {
            lock.unlock();
            failed = !HandleNextBlock();
            lock.lock();
            if (failed) break;
        }
        lock.unlock();
        char why[CErrorState::kTextSize / 2] = {};
        if (failed && !m_waveIn.GetDeviceFailure(why, sizeof why)) {
            std::snprintf(why, sizeof why, "the recording device stopped delivering audio");
        }
        CloseDevice();
        m_levels.Clear();
        lock.lock();
        m_bHolding = false;
        if (failed && m_bWanted && m_nGeneration == generation) {
            m_state = MonitorState::Failed;
            m_strFailure = why;
        } else {
            m_state = MonitorState::Off;
        }
        lock.unlock();
        m_cond.notify_all();
        NotifyState();
        lock.lock();
    }
}

std::string CLevelMonitor::DescribeOpenFailure(uint32_t deviceId) {
    char why[CErrorState::kTextSize / 2];
    if (m_waveIn.GetBackend()->GetOpenFailure(why, sizeof why)) return why;
    std::string name = "the system's default recording device";
    WaveInCaps caps;
    if (deviceId != WAVE_MAPPER && m_waveIn.GetBackend()->GetDeviceCaps(deviceId, &caps)) {
        name = std::string("the device \"") + caps.szPname + "\"";
    }
    return name + ": " + FirstLine(m_waveIn.GetErrorText());
}

bool CLevelMonitor::OpenDevice(const RecSettings& settings, std::string* failure) {
    RecSettings applied = settings;
    // The window has told the user about a rejected value already; the default stands in.
    ApplySettings(applied, m_analyzer);
    if (!m_pBlock || m_nBlockBytes != m_nBufferSize) {
        delete[] m_pBlock;
        m_nBlockBytes = std::max<long>(m_nBufferSize, 1024);
        m_pBlock = new (std::nothrow) char[m_nBlockBytes];
        if (!m_pBlock) {
            m_nBlockBytes = 0;
            *failure = "not enough memory for the level monitor";
            return false;
        }
    }
    const uint32_t deviceId = static_cast<uint32_t>(settings.nWaveInID);
    const WAVEFORMATEX format =
        MakeWaveFormat(static_cast<short>(settings.wBitsPerSample), settings.nSamplesPerSec,
                       static_cast<short>(settings.wChannels));
    m_waveIn.SetDeviceID(deviceId);
    m_dataEvent.Reset();
    m_waveIn.Open(&format, &OnDeviceData, &m_dataEvent, CALLBACK_FUNCTION);
    if (m_waveIn.GetErrorFlag()) {
        *failure = DescribeOpenFailure(deviceId);
        return false;
    }
    // Two blocks are enough: a late meter loses a block, never the recording's audio.
    m_waveIn.AllocateBuffers(static_cast<unsigned long>(m_nBlockBytes), 2);
    if (!m_waveIn.GetErrorFlag()) m_waveIn.Start();
    if (m_waveIn.GetErrorFlag()) {
        *failure = DescribeOpenFailure(deviceId);
        m_waveIn.Close();
        return false;
    }
    m_analyzer.PrepareRecording();
    return true;
}

bool CLevelMonitor::HandleNextBlock() {
    if (!m_waveIn.IsBufferDone()) {
        m_dataEvent.Lock(m_nWaitSliceMs);
        if (!m_waveIn.IsBufferDone()) return true;
    }
    const long bytes = static_cast<long>(m_waveIn.ReadBuffer(m_pBlock));
    if (m_waveIn.GetErrorFlag()) return false;
    // The detector runs too, as in a recording, but nothing here splits or ends.
    m_analyzer.ProcessBlock(m_pBlock, bytes);
    m_levels.Deposit(m_analyzer.m_fPeak, m_analyzer.m_fPower, m_analyzer.m_nClipCount);
    m_nBlocks.fetch_add(1);
    return bytes == m_nBlockBytes;
}

void CLevelMonitor::CloseDevice() { m_waveIn.Close(); }
