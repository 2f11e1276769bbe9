#include "audio/capture/DeviceLabels.h"

#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>

namespace {

std::string TakeHint(void* hint, const char* id) {
    char* value = snd_device_name_get_hint(hint, id);
    std::string text = value ? value : "";
    std::free(value);
    return text;
}

// ALSA names a card's device "sysdefault:CARD=PCH"; PortAudio lists it as "sysdefault".
const PcmHint* FindHint(const std::string& name, const std::vector<PcmHint>& hints) {
    for (const PcmHint& hint : hints) {
        if (hint.strName == name ||
            (hint.strName.size() > name.size() && hint.strName.compare(0, name.size(), name) == 0 &&
             hint.strName[name.size()] == ':')) {
            return &hint;
        }
    }
    return nullptr;
}

bool ContainsNoCase(std::string text, std::string part) {
    const auto lower = [](std::string& s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    };
    lower(text);
    lower(part);
    return text.find(part) != std::string::npos;
}

}  // namespace

std::vector<PcmHint> AlsaPcmHints() {
    std::vector<PcmHint> result;
    void** hints = nullptr;
    if (snd_device_name_hint(-1, "pcm", &hints) < 0 || !hints) return result;
    for (void** hint = hints; *hint; ++hint) {
        PcmHint entry{TakeHint(*hint, "NAME"), TakeHint(*hint, "DESC")};
        entry.strDescription = entry.strDescription.substr(0, entry.strDescription.find('\n'));
        if (!entry.strName.empty() && !entry.strDescription.empty())
            result.push_back(std::move(entry));
    }
    snd_device_name_free_hint(hints);
    return result;
}

std::string CaptureDeviceLabel(const std::string& name, const std::vector<PcmHint>& hints) {
    if (name == "default") return {};
    if (name == "pulse" || name == "pipewire") {
        // Either name reaches the one sound server that runs (PipeWire answers as PulseAudio
        // too), and the default device is that server's default input.
        const PcmHint* def = FindHint("default", hints);
        if (def && (ContainsNoCase(def->strDescription, "PulseAudio") ||
                    ContainsNoCase(def->strDescription, "PipeWire")))
            return {};
    }
    const PcmHint* hint = FindHint(name, hints);
    return hint ? hint->strDescription + " (" + name + ")" : name;
}
