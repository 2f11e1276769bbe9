// The mixer service that CRecMixer drives: for one sound card, its destination lines (the
// recording destination among them), each destination's source lines with their component
// types, and the controls of a line: a volume with one value per channel, and the recording
// destination's source selector, either multiple-select ("mixer", one on/off value per item)
// or single-select ("mux", exactly one item on). Each query either succeeds or fails as a
// whole; the caller decides what a failure means.
// Backends: ALSA's simple mixer (the real one) and a fake card described by data (tests).
//
// User-interface thread only; one backend serves one CRecMixer.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>

// Component types of destination lines.
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_SPEAKERS = 4;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_DST_WAVEIN = 7;  // the recording destination

// Component types of source lines.
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED = 0x1000;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_DIGITAL = 0x1001;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_LINE = 0x1002;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_MICROPHONE = 0x1003;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_SYNTHESIZER = 0x1004;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_COMPACTDISC = 0x1005;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_TELEPHONE = 0x1006;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_PCSPEAKER = 0x1007;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_WAVEOUT = 0x1008;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_AUXILIARY = 0x1009;
constexpr uint32_t MIXERLINE_COMPONENTTYPE_SRC_ANALOG = 0x100A;

// Control types.
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MIXER = 0x71010001;  // multiple-select selector
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_MUX = 0x70010001;    // single-select selector
constexpr uint32_t MIXERCONTROL_CONTROLTYPE_VOLUME = 0x50030001;

constexpr size_t kMixerNameSize = 64;

struct MixerLineInfo {
    uint32_t nDestination = 0;  // index of the line's destination (the destination itself too)
    uint32_t nSource = 0;       // index among its destination's sources (source lines only)
    uint32_t nLineID = 0;
    uint32_t nComponentType = 0;
    uint32_t nChannels = 0;
    uint32_t nConnections = 0;  // number of source lines (destinations only)
    char szName[kMixerNameSize] = {};
};

struct MixerControlInfo {
    uint32_t nControlID = 0;
    uint32_t nControlType = 0;
    uint32_t nItems = 0;  // selector items; 0 for a volume
};

// One selector item: the source line it switches and its name.
struct MixerListItem {
    uint32_t nLineID = 0;
    char szName[kMixerNameSize] = {};
};

class IMixerBackend {
public:
    virtual ~IMixerBackend() = default;

    // Opens the mixer of the card named by the capture backend (for ALSA a control device such
    // as "hw:0", "pulse" or "default").
    virtual bool Open(const std::string& card) = 0;
    virtual bool Close() = 0;

    // The destination line of that component type.
    virtual bool GetLineInfoByType(uint32_t componentType, MixerLineInfo* line) = 0;
    // Source line `source` of destination `destination`.
    virtual bool GetLineInfoBySource(uint32_t destination, uint32_t source,
                                     MixerLineInfo* line) = 0;
    virtual bool GetLineInfoById(uint32_t lineId, MixerLineInfo* line) = 0;
    // The line's control of that type.
    virtual bool GetLineControl(uint32_t lineId, uint32_t controlType,
                                MixerControlInfo* control) = 0;

    // Selectors: items.size() and values.size() are the control's nItems.
    virtual bool GetListText(const MixerControlInfo& control, std::span<MixerListItem> items) = 0;
    virtual bool GetBooleans(const MixerControlInfo& control, std::span<int32_t> values) = 0;
    virtual bool SetBooleans(const MixerControlInfo& control, std::span<const int32_t> values) = 0;
    // Volume: one value per channel on the scale 0 to 65,535.
    virtual bool SetUnsigned(const MixerControlInfo& control, std::span<const uint32_t> values) = 0;
};

// The real backend: ALSA's simple mixer.
std::unique_ptr<IMixerBackend> MakeAlsaMixerBackend();

// The source type an ALSA element or capture-source item name stands for ("Line", "Front Mic",
// "CD", "IEC958 In", ...); SRC_UNDEFINED for any other.
uint32_t SourceTypeForName(const std::string& name);
