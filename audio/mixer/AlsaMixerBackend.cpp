// The mixer backend on ALSA's simple mixer. A card's capture side becomes one recording
// destination (index 0), named after its master "Capture" element, whose own volume is that
// element's. Its sources are either the items of an enumerated capture-source element ("Input
// Source", ...), which then form a single-select selector, or else the elements with a capture
// switch or capture volume, whose switches form the selector: single-select when they are
// exclusive (alsa-lib splits a "Capture Source" control into such switches, one per item),
// multiple-select otherwise. A source without a capture volume of its own is recorded through
// the master one, so that is the volume it is given. Volumes 0..65,535 map linearly onto each
// element's own capture range.
#include <alsa/asoundlib.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <vector>

#include "audio/PortAudioStartUp.h"
#include "audio/mixer/MixerBackend.h"

namespace {

constexpr uint32_t kDestinationLineId = 0xFFFF0000u;
constexpr uint32_t kSelectorControlId = 1;
constexpr uint32_t kDestinationVolumeId = 2;
constexpr uint32_t kSourceVolumeBase = 0x100;  // + source index

struct Source {
    std::string strName;
    uint32_t nType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    snd_mixer_elem_t* pVolume = nullptr;  // the element whose capture volume it is given
    snd_mixer_elem_t* pSwitch = nullptr;  // its capture switch (multiple-select selector)
    unsigned nEnumItem = 0;               // its item of the capture-source element
};

uint32_t CaptureChannels(snd_mixer_elem_t* elem) {
    if (!elem || snd_mixer_selem_is_capture_mono(elem)) return 1;
    uint32_t channels = 0;
    for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
        if (snd_mixer_selem_has_capture_channel(elem, static_cast<snd_mixer_selem_channel_id_t>(c)))
            ++channels;
    }
    return std::max<uint32_t>(channels, 1);
}

void CopyName(char (&dest)[kMixerNameSize], const std::string& name) {
    std::snprintf(dest, sizeof dest, "%s", name.c_str());
}

bool HasCaptureVolume(snd_mixer_elem_t* elem) {
    return elem && snd_mixer_selem_has_capture_volume(elem) &&
           !snd_mixer_selem_has_common_volume(elem);
}

class CAlsaMixerBackend : public IMixerBackend {
public:
    ~CAlsaMixerBackend() override { Close(); }

    bool Open(const std::string& card) override {
        Close();
        if (card.empty()) return false;
        snd_lib_error_set_handler(&IgnoreAlsaError);
        snd_mixer_t* mixer = nullptr;
        if (snd_mixer_open(&mixer, 0) < 0) return false;
        if (snd_mixer_attach(mixer, card.c_str()) < 0 ||
            snd_mixer_selem_register(mixer, nullptr, nullptr) < 0 || snd_mixer_load(mixer) < 0) {
            snd_mixer_close(mixer);
            return false;
        }
        m_pMixer = mixer;
        Scan();
        return true;
    }

    bool Close() override {
        if (!m_pMixer) return false;
        snd_mixer_close(m_pMixer);
        m_pMixer = nullptr;
        m_pCapture = nullptr;
        m_pSourceEnum = nullptr;
        m_bSingleSelect = false;
        m_sources.clear();
        m_selector.clear();
        return true;
    }

    bool GetLineInfoByType(uint32_t componentType, MixerLineInfo* line) override {
        if (!HasRecordingSide() || componentType != MIXERLINE_COMPONENTTYPE_DST_WAVEIN)
            return false;
        return GetLineInfoById(kDestinationLineId, line);
    }

    bool GetLineInfoBySource(uint32_t destination, uint32_t source, MixerLineInfo* line) override {
        if (!HasRecordingSide() || destination != 0) return false;
        return GetLineInfoById(source, line);
    }

    bool GetLineInfoById(uint32_t lineId, MixerLineInfo* line) override {
        if (!HasRecordingSide()) return false;
        *line = MixerLineInfo{};
        if (lineId == kDestinationLineId) {
            line->nLineID = lineId;
            line->nComponentType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
            line->nChannels = m_pCapture ? CaptureChannels(m_pCapture) : 2;
            line->nConnections = static_cast<uint32_t>(m_sources.size());
            CopyName(line->szName, m_pCapture ? snd_mixer_selem_get_name(m_pCapture) : "Capture");
            return true;
        }
        if (lineId >= m_sources.size()) return false;
        const Source& source = m_sources[lineId];
        line->nSource = lineId;
        line->nLineID = lineId;
        line->nComponentType = source.nType;
        line->nChannels = CaptureChannels(source.pVolume ? source.pVolume : source.pSwitch);
        CopyName(line->szName, source.strName);
        return true;
    }

    bool GetLineControl(uint32_t lineId, uint32_t controlType, MixerControlInfo* control) override {
        if (!HasRecordingSide()) return false;
        *control = MixerControlInfo{};
        control->nControlType = controlType;
        if (controlType == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            if (lineId == kDestinationLineId && HasCaptureVolume(m_pCapture)) {
                control->nControlID = kDestinationVolumeId;
                return true;
            }
            if (lineId < m_sources.size() && m_sources[lineId].pVolume) {
                control->nControlID = kSourceVolumeBase + lineId;
                return true;
            }
            return false;
        }
        const bool mux = m_pSourceEnum != nullptr;
        const bool wanted =
            controlType == (mux ? MIXERCONTROL_CONTROLTYPE_MUX : MIXERCONTROL_CONTROLTYPE_MIXER);
        if (lineId != kDestinationLineId || !wanted || m_selector.empty()) return false;
        control->nControlID = kSelectorControlId;
        control->nItems = static_cast<uint32_t>(m_selector.size());
        return true;
    }

    bool GetListText(const MixerControlInfo& control, std::span<MixerListItem> items) override {
        if (!IsSelector(control, items.size())) return false;
        for (size_t i = 0; i < items.size(); ++i) {
            items[i] = MixerListItem{};
            items[i].nLineID = static_cast<uint32_t>(m_selector[i]);
            CopyName(items[i].szName, m_sources[m_selector[i]].strName);
        }
        return true;
    }

    bool GetBooleans(const MixerControlInfo& control, std::span<int32_t> values) override {
        if (!IsSelector(control, values.size())) return false;
        unsigned current = 0;
        if (m_pSourceEnum &&
            snd_mixer_selem_get_enum_item(m_pSourceEnum, SND_MIXER_SCHN_FRONT_LEFT, &current) < 0)
            return false;
        for (size_t i = 0; i < values.size(); ++i) {
            const Source& source = m_sources[m_selector[i]];
            if (m_pSourceEnum) {
                values[i] = source.nEnumItem == current ? 1 : 0;
                continue;
            }
            int on = 0;
            if (snd_mixer_selem_get_capture_switch(source.pSwitch, FirstChannel(source.pSwitch),
                                                   &on) < 0)
                return false;
            values[i] = on ? 1 : 0;
        }
        return true;
    }

    bool SetBooleans(const MixerControlInfo& control, std::span<const int32_t> values) override {
        if (!IsSelector(control, values.size())) return false;
        if (m_pSourceEnum) {
            const auto on =
                std::find_if(values.begin(), values.end(), [](int32_t v) { return v != 0; });
            if (on == values.end()) return true;  // a single-select selector keeps its item
            const unsigned item = m_sources[m_selector[size_t(on - values.begin())]].nEnumItem;
            if (snd_mixer_selem_set_enum_item(m_pSourceEnum, SND_MIXER_SCHN_FRONT_LEFT, item) < 0)
                return false;
            // Per-channel capture sources take the same item on every channel they have.
            for (int c = 1; c <= SND_MIXER_SCHN_LAST; ++c) {
                if (snd_mixer_selem_set_enum_item(
                        m_pSourceEnum, static_cast<snd_mixer_selem_channel_id_t>(c), item) < 0)
                    break;
            }
            return true;
        }
        for (size_t i = 0; i < values.size(); ++i) {
            if (snd_mixer_selem_set_capture_switch_all(m_sources[m_selector[i]].pSwitch,
                                                       values[i] ? 1 : 0) < 0)
                return false;
        }
        return true;
    }

    bool SetUnsigned(const MixerControlInfo& control, std::span<const uint32_t> values) override {
        snd_mixer_elem_t* elem = nullptr;
        if (control.nControlID == kDestinationVolumeId) {
            elem = m_pCapture;
        } else if (control.nControlID >= kSourceVolumeBase &&
                   control.nControlID - kSourceVolumeBase < m_sources.size()) {
            elem = m_sources[control.nControlID - kSourceVolumeBase].pVolume;
        }
        long low = 0, high = 0;
        if (!m_pMixer || !elem || values.empty() ||
            snd_mixer_selem_get_capture_volume_range(elem, &low, &high) < 0)
            return false;
        size_t ordinal = 0;
        for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
            const auto channel = static_cast<snd_mixer_selem_channel_id_t>(c);
            if (!snd_mixer_selem_has_capture_channel(elem, channel)) continue;
            const uint32_t v =
                std::min<uint32_t>(values[std::min(ordinal, values.size() - 1)], 65535);
            const long scaled = low + std::lround(static_cast<double>(high - low) * v / 65535.0);
            if (snd_mixer_selem_set_capture_volume(elem, channel, scaled) < 0) return false;
            ++ordinal;
        }
        return ordinal > 0;
    }

private:
    bool HasRecordingSide() const { return m_pMixer && (m_pCapture || !m_sources.empty()); }

    bool IsSelector(const MixerControlInfo& control, size_t count) const {
        return m_pMixer && control.nControlID == kSelectorControlId && count == m_selector.size();
    }

    static bool IsExclusiveSwitch(snd_mixer_elem_t* elem) {
        return snd_mixer_selem_has_capture_switch(elem) &&
               snd_mixer_selem_has_capture_switch_exclusive(elem);
    }

    static snd_mixer_selem_channel_id_t FirstChannel(snd_mixer_elem_t* elem) {
        for (int c = 0; c <= SND_MIXER_SCHN_LAST; ++c) {
            const auto channel = static_cast<snd_mixer_selem_channel_id_t>(c);
            if (snd_mixer_selem_has_capture_channel(elem, channel)) return channel;
        }
        return SND_MIXER_SCHN_MONO;
    }

    void Scan() {
        std::vector<snd_mixer_elem_t*> captureElems;
        for (snd_mixer_elem_t* elem = snd_mixer_first_elem(m_pMixer); elem;
             elem = snd_mixer_elem_next(elem)) {
            if (!snd_mixer_selem_is_active(elem)) continue;
            if (snd_mixer_selem_is_enumerated(elem)) {
                // Other capture enumerations (a jack's mode, say) choose no source.
                if (!m_pSourceEnum && snd_mixer_selem_is_enum_capture(elem) &&
                    std::strstr(snd_mixer_selem_get_name(elem), "Source"))
                    m_pSourceEnum = elem;
                continue;
            }
            // "Capture" is the master of the capture side (of each converter, by index), not a
            // source the user records from.
            if (std::strcmp(snd_mixer_selem_get_name(elem), "Capture") == 0) {
                if (!m_pCapture && snd_mixer_selem_get_index(elem) == 0) m_pCapture = elem;
                continue;
            }
            if (snd_mixer_selem_has_capture_switch(elem) || HasCaptureVolume(elem))
                captureElems.push_back(elem);
        }
        snd_mixer_elem_t* master = HasCaptureVolume(m_pCapture) ? m_pCapture : nullptr;

        if (m_pSourceEnum) {
            m_bSingleSelect = true;
            const int count = snd_mixer_selem_get_enum_items(m_pSourceEnum);
            for (int i = 0; i < count; ++i) {
                char name[kMixerNameSize] = {};
                if (snd_mixer_selem_get_enum_item_name(m_pSourceEnum, unsigned(i), sizeof name,
                                                       name) < 0)
                    continue;
                Source source;
                source.strName = name;
                source.nType = SourceTypeForName(name);
                source.nEnumItem = unsigned(i);
                source.pVolume = master;
                for (snd_mixer_elem_t* elem : captureElems) {
                    if (HasCaptureVolume(elem) && source.strName == snd_mixer_selem_get_name(elem))
                        source.pVolume = elem;
                }
                m_selector.push_back(m_sources.size());
                m_sources.push_back(source);
            }
            return;
        }
        for (snd_mixer_elem_t* elem : captureElems) {
            if (IsExclusiveSwitch(elem)) m_bSingleSelect = true;
        }
        for (snd_mixer_elem_t* elem : captureElems) {
            Source source;
            source.strName = snd_mixer_selem_get_name(elem);
            if (const unsigned index = snd_mixer_selem_get_index(elem))
                source.strName += " " + std::to_string(index);
            source.nType = SourceTypeForName(source.strName);
            source.pVolume = HasCaptureVolume(elem) ? elem : master;
            if (snd_mixer_selem_has_capture_switch(elem) &&
                (!m_bSingleSelect || IsExclusiveSwitch(elem))) {
                source.pSwitch = elem;
                m_selector.push_back(m_sources.size());
            }
            m_sources.push_back(source);
        }
    }

    snd_mixer_t* m_pMixer = nullptr;
    snd_mixer_elem_t* m_pCapture = nullptr;     // master "Capture", or null
    snd_mixer_elem_t* m_pSourceEnum = nullptr;  // capture-source element, or null
    bool m_bSingleSelect = false;               // the selector is a mux
    std::vector<Source> m_sources;              // line id = index
    std::vector<size_t> m_selector;             // selector items: indices into m_sources
};

bool StartsWith(const std::string& word, const char* prefix) {
    return word.compare(0, std::strlen(prefix), prefix) == 0;
}

}  // namespace

std::unique_ptr<IMixerBackend> MakeAlsaMixerBackend() {
    return std::make_unique<CAlsaMixerBackend>();
}

uint32_t SourceTypeForName(const std::string& name) {
    std::string lower(name);
    for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (lower.find("s/pdif") != std::string::npos) return MIXERLINE_COMPONENTTYPE_SRC_DIGITAL;
    if (lower.find("pc speaker") != std::string::npos) return MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER;
    // Whole words, matched at their start: "Front Mic" and "Mic2" are microphones, a
    // "Headphone" is no telephone. The first word-kind that matches wins.
    std::vector<std::string> words;
    std::string word;
    for (char c : lower + ' ') {
        if (std::isalnum(static_cast<unsigned char>(c))) {
            word += c;
        } else if (!word.empty()) {
            words.push_back(word);
            word.clear();
        }
    }
    static const struct {
        const char* prefix;
        uint32_t type;
    } kKinds[] = {
        {"line", MIXERLINE_COMPONENTTYPE_SRC_LINE},
        {"aux", MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY},
        {"mic", MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE},
        {"cd", MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC},
        {"phone", MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE},
        {"beep", MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER},
        {"digital", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"iec958", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"spdif", MIXERLINE_COMPONENTTYPE_SRC_DIGITAL},
        {"synth", MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER},
        {"analog", MIXERLINE_COMPONENTTYPE_SRC_ANALOG},
        {"wave", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
        {"pcm", MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT},
    };
    for (const auto& kind : kKinds) {
        for (const std::string& w : words) {
            if (StartsWith(w, kind.prefix)) return kind.type;
        }
    }
    return MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
}
