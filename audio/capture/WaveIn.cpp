#include "audio/capture/WaveIn.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace {

const char kNoDevice[] =
    "No recording device was found.\n"
    "Please check that a sound card is connected and switched on, and that the sound server\n"
    "(PipeWire or PulseAudio) is running; then choose the Recording Device in the Customize\n"
    "settings window.\n";
const char kQueryFailed[] = "Sorry, sound card does not support this RECORD WAV format.\n";
const char kOpenFailed[] =
    "Error with sound card driver (cannot open RECORD device).\n"
    "Please close program, restart the computer, and try again.\n"
    "If the problem persists please contact the manufacturer!\n";
const char kBadBits[] = "Not an acceptable number of bits per sample.\n";
const char kNoMemory[] =
    "Not enough memory to create input data buffer.\nClose some programs and try again.\n";
const char kPrepareFailed[] = "Error with sound card driver (cannot prepare RECORD header).\n";
const char kAddFailed[] = "Error with sound card driver (cannot add RECORD buffer).\n";
const char kStartFailed[] = "Error with sound card driver (cannot start RECORD device).\n";
const char kUnprepareFailed[] = "Error with sound card driver (cannot un-prepare RECORD header).\n";
const char kStopFailed[] = "Error with sound card driver (cannot stop RECORD device).\n";
const char kResetFailed[] = "Error with sound card driver (cannot reset RECORD device).\n";
const char kCloseFailed[] = "Error with sound card driver (cannot close RECORD device).\n";

}  // namespace

CWaveIn::CWaveIn() : CWaveIn(MakePortAudioBackend()) {}

void CWaveIn::Fail(CaptureError kind, const char* text) {
    m_errorKind = kind;
    m_error.Fail("%s", text);
}

void CWaveIn::FailDevice(CaptureError kind, const char* text) {
    if (m_pBackend->HasCaptureDevice()) {
        Fail(kind, text);
    } else {
        Fail(CaptureError::NoDevice, kNoDevice);
    }
}

CWaveIn::CWaveIn(std::unique_ptr<ICaptureBackend> backend) : m_pBackend(std::move(backend)) {}

CWaveIn::~CWaveIn() {
    // The backend may still hold the buffers in its queue: take them back before freeing.
    if (m_bOpen) {
        m_pBackend->Reset();
        m_pBackend->Close();
    }
    // A device still waiting for a read that may never return (the program is leaving) is let
    // go, not waited for: its thread touches only the backend's own memory, which stays.
    if (m_pBackend && m_pBackend->IsClosingInBackground()) (void)m_pBackend.release();
    for (char* buffer : m_pBuffer) delete[] buffer;
}

void CWaveIn::SetDeviceID(uint32_t id) {
    m_error.Clear();
    m_nDeviceID = id;
}

uint32_t CWaveIn::GetDeviceID() {
    m_error.Clear();
    return m_nDeviceID;
}

void* CWaveIn::GetHandle() {
    m_error.Clear();
    return m_bOpen ? static_cast<void*>(m_pBackend.get()) : nullptr;
}

void CWaveIn::QueryFormat(const WAVEFORMATEX* format) {
    m_error.Clear();
    if (!format || !m_pBackend->QueryFormat(m_nDeviceID, *format))
        FailDevice(CaptureError::FormatRefused, kQueryFailed);
}

void CWaveIn::Open(const WAVEFORMATEX* format, WaveInNotifyFn callback, void* instance,
                   unsigned long flags) {
    m_error.Clear();
    const WaveInNotifyFn notify = (flags & CALLBACK_FUNCTION) ? callback : nullptr;
    if (!format || !m_pBackend->Open(m_nDeviceID, *format, notify, instance)) {
        FailDevice(CaptureError::OpenFailed, kOpenFailed);
        return;
    }
    m_bOpen = true;
}

int CWaveIn::OpenFormat(short bitsPerSample, unsigned long samplesPerSec, short channels) {
    m_error.Clear();
    if (m_bOpen) return -1;
    bool acceptable = true;
    const WAVEFORMATEX format = MakeWaveFormat(bitsPerSample, samplesPerSec, channels, &acceptable);
    if (!acceptable) Fail(CaptureError::BadBits, kBadBits);
    if (!m_pBackend->Open(m_nDeviceID, format, nullptr, nullptr)) {
        FailDevice(CaptureError::OpenFailed, kOpenFailed);
        return 1;
    }
    m_bOpen = true;
    return 0;
}

void CWaveIn::AllocateBuffers(unsigned long size, int count) {
    m_error.Clear();
    if (size > UINT32_MAX || count < 2 || count > kMaxBuffers) {
        Fail(CaptureError::NoMemory, kNoMemory);
        return;
    }
    // A larger size than the blocks were made with would let the device write past their end,
    // and the device must keep no block it holds: change them only while it holds none.
    for (const WAVEHDR& header : m_header) {
        if (header.dwFlags.load() & WHDR_INQUEUE) {
            if (size > m_nAllocated || count != m_nBuffers) {
                Fail(CaptureError::NoMemory, kNoMemory);
                return;
            }
            break;
        }
    }
    if (size > m_nAllocated) {
        for (char*& buffer : m_pBuffer) {
            delete[] buffer;
            buffer = nullptr;
        }
        m_nAllocated = 0;
    }
    bool fresh = true;
    for (int i = 0; i < kMaxBuffers; ++i) {
        if (i >= count) {
            delete[] m_pBuffer[i];
            m_pBuffer[i] = nullptr;
        } else if (m_pBuffer[i]) {
            fresh = false;
        }
    }
    m_nBufferSize = static_cast<uint32_t>(size);
    m_nBuffers = count;
    if (fresh) m_nAllocated = m_nBufferSize;
    for (int i = 0; i < count; ++i) {
        if (m_pBuffer[i]) continue;
        m_pBuffer[i] = new (std::nothrow) char[m_nAllocated];
        if (!m_pBuffer[i]) {
            Fail(CaptureError::NoMemory, kNoMemory);
            return;
        }
    }
}

bool CWaveIn::ArmHeader(int index) {
    WAVEHDR& header = m_header[index];
    // Never rewrite a header the device still owns.
    if (!m_pBuffer[index] || (header.dwFlags.load() & WHDR_INQUEUE)) {
        Fail(CaptureError::PrepareFailed, kPrepareFailed);
        return false;
    }
    header.lpData = m_pBuffer[index];
    header.dwBufferLength = m_nBufferSize;
    header.dwFlags.store(0);
    header.dwLoops = 0;
    if (!m_pBackend->PrepareHeader(&header)) {
        Fail(CaptureError::PrepareFailed, kPrepareFailed);
        return false;
    }
    if (!m_pBackend->AddBuffer(&header)) {
        Fail(CaptureError::AddFailed, kAddFailed);
        return false;
    }
    return true;
}

void CWaveIn::Start() {
    m_error.Clear();
    // Started already: the queue order, and so the current index, belongs to the device.
    for (const WAVEHDR& header : m_header) {
        if (header.dwFlags.load() & WHDR_INQUEUE) {
            Fail(CaptureError::PrepareFailed, kPrepareFailed);
            return;
        }
    }
    for (int i = 0; i < m_nBuffers; ++i) {
        m_nCurrent = i;
        if (!ArmHeader(i)) return;
    }
    m_nCurrent = 0;
    if (!m_pBackend->Start()) Fail(CaptureError::StartFailed, kStartFailed);
}

bool CWaveIn::IsBufferDone() const {
    return (m_header[m_nCurrent].dwFlags.load() & WHDR_DONE) != 0;
}

unsigned long CWaveIn::ReadBuffer(void* dest) {
    m_error.Clear();
    WAVEHDR& header = m_header[m_nCurrent];
    // A header that was never completed is refused like one still in the device's queue.
    if (!(header.dwFlags.load() & WHDR_DONE) || !m_pBackend->UnprepareHeader(&header)) {
        Fail(CaptureError::UnprepareFailed, kUnprepareFailed);
        return 0;
    }
    const uint32_t bytes = std::min(header.dwBytesRecorded.load(), header.dwBufferLength);
    m_nBytesTaken = bytes;
    std::memcpy(dest, header.lpData, bytes);
    if (!ArmHeader(m_nCurrent)) return 0;
    m_nCurrent = (m_nCurrent + 1) % m_nBuffers;
    return m_nBytesTaken;
}

unsigned long CWaveIn::Stop(void* dest) {
    m_error.Clear();
    if (!m_pBackend->Stop()) {
        Fail(CaptureError::StopFailed, kStopFailed);
        return 0;
    }
    return TakeCompleted(dest);
}

unsigned long CWaveIn::ReadStopped(void* dest) {
    m_error.Clear();
    return TakeCompleted(dest);
}

// The current header's bytes when the device has completed it; the header is then taken (not
// handed out again) and the next one becomes current.
unsigned long CWaveIn::TakeCompleted(void* dest) {
    WAVEHDR& header = m_header[m_nCurrent];
    if (!(header.dwFlags.load() & WHDR_DONE) || !m_pBackend->UnprepareHeader(&header)) {
        m_nBytesTaken = 0;
        return 0;
    }
    const uint32_t bytes = std::min(header.dwBytesRecorded.load(), header.dwBufferLength);
    m_nBytesTaken = bytes;
    std::memcpy(dest, header.lpData, bytes);
    header.dwFlags.store(header.dwFlags.load() & ~WHDR_DONE);
    m_nCurrent = (m_nCurrent + 1) % m_nBuffers;
    return m_nBytesTaken;
}

void CWaveIn::Close() {
    m_error.Clear();
    if (!m_pBackend->Reset()) Fail(CaptureError::ResetFailed, kResetFailed);
    if (!m_pBackend->Close()) Fail(CaptureError::CloseFailed, kCloseFailed);
    m_bOpen = false;
}

uint64_t CWaveIn::GetLostFrames() const { return m_pBackend->GetLostFrames(); }

uint64_t CWaveIn::GetOverflowCount() const { return m_pBackend->GetOverflowCount(); }

bool CWaveIn::GetDeviceFailure(char* text, size_t size) const {
    return m_pBackend->GetDeviceFailure(text, size);
}
