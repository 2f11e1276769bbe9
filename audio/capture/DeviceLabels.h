// How the device box names capture devices. PortAudio lists ALSA's plugin devices by their bare
// names ("pulse", "default", "sysdefault"); ALSA describes most of them ("PulseAudio Sound
// Server"). The box shows that description, and leaves out the devices that are the system
// default again under another name, which its "System Default" entry already stands for.
// No state; any thread (the ALSA lookup reads the configuration, so the user-interface thread
// calls it when the box is filled).
#pragma once

#include <string>
#include <vector>

struct PcmHint {
    std::string strName;         // "pulse", "sysdefault:CARD=PCH", ...
    std::string strDescription;  // its first line
};

// ALSA's described PCM devices; empty when ALSA has none.
std::vector<PcmHint> AlsaPcmHints();

// The text for the device PortAudio calls name: its description followed by the name in
// brackets where ALSA has one ("PulseAudio Sound Server (pulse)"), else the name as it is (a
// card's own device already reads "HDA Intel PCH: ALC892 Analog (hw:0,0)"). Empty when the box
// leaves it out: "default", and the sound server ("pulse", "pipewire") when the default is a
// sound server.
std::string CaptureDeviceLabel(const std::string& name, const std::vector<PcmHint>& hints);
