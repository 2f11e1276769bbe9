// A sound card's mixer described by data, for tests: destinations with their source lines
// (types, names, channels, whether each has a volume and an item in the selector), the kind of
// each destination's selector, and any query made to fail. The test keeps the card and reads
// back what the mixer did to it (volumes, selections, writes) after the backend is gone.
//
//   auto card = std::make_shared<FakeMixerCard>(FakeMixerCard::Recording(
//       MIXERCONTROL_CONTROLTYPE_MIXER, {{MIXERLINE_COMPONENTTYPE_SRC_LINE, "Line"}}));
//   card->failing.insert(MixerOp::SetVolume);
//   CRecMixer mixer(MakeFakeMixerBackend(card), volumeControl, messages);
//
// Line ids: destination d is 0xFFFF0000 + d, its source s is d * 0x10000 + s.
// User-interface (test) thread only.
#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "audio/mixer/MixerBackend.h"

// The queries a test can make fail (every call of them fails while listed).
enum class MixerOp {
    Open,
    Close,
    LineByType,       // a destination by its component type
    LineBySource,     // a source line by destination and source index
    LineById,         // any line by its id
    VolumeControl,    // a line's volume control
    SelectorControl,  // the destination's mixer or mux control
    ListText,         // the selector's item texts
    GetValues,        // the selector's values
    SetValues,        // writing the selector's values
    SetVolume,        // writing a volume
};

struct FakeMixerSource {
    uint32_t nType = MIXERLINE_COMPONENTTYPE_SRC_UNDEFINED;
    std::string strName;
    uint32_t nChannels = 2;
    bool bHasVolume = true;
    bool bInSelector = true;
    // State, changed by the mixer.
    bool bSelected = true;
    std::vector<uint32_t> volume;  // the values last set, per channel; empty: never set
};

struct FakeMixerDestination {
    uint32_t nType = MIXERLINE_COMPONENTTYPE_DST_WAVEIN;
    uint32_t nSelectorType = 0;  // MIXERCONTROL_CONTROLTYPE_MIXER, _MUX, or 0 for none
    std::vector<FakeMixerSource> sources;
};

struct FakeMixerCard {
    // A card with a playback destination (index 0, no sources) and a recording destination
    // (index 1) holding these sources, every one selected.
    static FakeMixerCard Recording(uint32_t selectorType, std::vector<FakeMixerSource> sources);

    std::vector<FakeMixerDestination> destinations;
    uint32_t nClaimedItems = 0;  // when not 0, the item count every selector reports
    std::set<MixerOp> failing;

    // What happened.
    bool bOpen = false;
    std::string strOpenedCard;
    int nOpens = 0;
    int nSelectorWrites = 0;

    // The first source of that type in the recording destination, or null.
    FakeMixerSource* Source(uint32_t type);
    // The types of the recording destination's selected sources, in order.
    std::vector<uint32_t> SelectedTypes() const;
};

std::unique_ptr<IMixerBackend> MakeFakeMixerBackend(std::shared_ptr<FakeMixerCard> card);
