#include "audio/capture/WaveInDevice.h"

#include <cstring>
#include <memory>
#include <new>
#include <stdexcept>
#include <vector>

namespace {

std::vector<std::unique_ptr<CWaveInDevice>>& DeviceList() {
    static std::vector<std::unique_ptr<CWaveInDevice>> list;
    return list;
}

}  // namespace

CWaveInDevice::CWaveInDevice(const WaveInCaps& caps)
    : m_wMid(caps.wMid),
      m_wPid(caps.wPid),
      m_nDriverVersion(caps.vDriverVersion),
      m_nFormats(caps.dwFormats),
      m_wChannels(caps.wChannels) {
    std::memcpy(m_szPname, caps.szPname, sizeof m_szPname - 1);
    m_szPname[sizeof m_szPname - 1] = '\0';
}

bool CWaveInDevice::EnumerateDevices() {
    // The device list outlives any one CWaveIn; PortAudio itself is set up only once.
    static std::unique_ptr<ICaptureBackend> backend = MakePortAudioBackend();
    return EnumerateDevices(*backend);
}

bool CWaveInDevice::EnumerateDevices(ICaptureBackend& backend) {
    const int count = backend.GetDeviceCount();
    auto& list = DeviceList();
    for (int id = 0; id < count; ++id) {
        WaveInCaps caps;
        // A device whose capabilities cannot be read still takes its place, so that list
        // positions stay device ids.
        if (!backend.GetDeviceCaps(static_cast<uint32_t>(id), &caps)) caps = WaveInCaps{};
        std::unique_ptr<CWaveInDevice> record(new (std::nothrow) CWaveInDevice(caps));
        if (!record) return false;
        try {
            list.push_back(std::move(record));
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
    return true;
}

void CWaveInDevice::RemoveAllDevices() { DeviceList().clear(); }

CWaveInDevice* CWaveInDevice::GetDevice(int index) {
    auto& list = DeviceList();
    if (index < 0 || static_cast<size_t>(index) >= list.size()) {
        throw std::out_of_range("capture device index out of range");
    }
    return list[static_cast<size_t>(index)].get();
}

int CWaveInDevice::GetDeviceCount() { return static_cast<int>(DeviceList().size()); }
