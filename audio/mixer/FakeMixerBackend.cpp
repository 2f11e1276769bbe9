#include "audio/mixer/FakeMixerBackend.h"

#include <cstdio>
#include <optional>

namespace {

constexpr uint32_t kDestinationBase = 0xFFFF0000u;
constexpr uint32_t kSelectorBase = 0x80000000u;  // + destination index

class CFakeMixerBackend : public IMixerBackend {
public:
    explicit CFakeMixerBackend(std::shared_ptr<FakeMixerCard> card) : m_pCard(std::move(card)) {}

    bool Open(const std::string& card) override {
        if (Fails(MixerOp::Open)) return false;
        m_pCard->bOpen = true;
        m_pCard->strOpenedCard = card;
        ++m_pCard->nOpens;
        return true;
    }

    bool Close() override {
        if (!m_pCard->bOpen || Fails(MixerOp::Close)) return false;
        m_pCard->bOpen = false;
        return true;
    }

    bool GetLineInfoByType(uint32_t componentType, MixerLineInfo* line) override {
        if (Fails(MixerOp::LineByType)) return false;
        for (size_t d = 0; d < Destinations().size(); ++d) {
            if (Destinations()[d].nType == componentType)
                return Describe(kDestinationBase + uint32_t(d), line);
        }
        return false;
    }

    bool GetLineInfoBySource(uint32_t destination, uint32_t source, MixerLineInfo* line) override {
        return !Fails(MixerOp::LineBySource) && Describe(destination * 0x10000u + source, line);
    }

    bool GetLineInfoById(uint32_t lineId, MixerLineInfo* line) override {
        return !Fails(MixerOp::LineById) && Describe(lineId, line);
    }

    bool GetLineControl(uint32_t lineId, uint32_t controlType, MixerControlInfo* control) override {
        *control = MixerControlInfo{};
        control->nControlType = controlType;
        if (controlType == MIXERCONTROL_CONTROLTYPE_VOLUME) {
            const FakeMixerSource* source = SourceById(lineId);
            if (Fails(MixerOp::VolumeControl) || !source || !source->bHasVolume) return false;
            control->nControlID = lineId;
            return true;
        }
        if (Fails(MixerOp::SelectorControl) || lineId < kDestinationBase) return false;
        const uint32_t d = lineId - kDestinationBase;
        if (d >= Destinations().size() || Destinations()[d].nSelectorType != controlType ||
            controlType == 0)
            return false;
        control->nControlID = kSelectorBase + d;
        control->nItems =
            m_pCard->nClaimedItems ? m_pCard->nClaimedItems : uint32_t(Items(d).size());
        return true;
    }

    bool GetListText(const MixerControlInfo& control, std::span<MixerListItem> items) override {
        const auto sources = SelectorItems(control, items.size());
        if (Fails(MixerOp::ListText) || !sources) return false;
        for (size_t i = 0; i < items.size(); ++i) {
            const uint32_t d = control.nControlID - kSelectorBase;
            const uint32_t s = (*sources)[i];
            items[i] = MixerListItem{};
            items[i].nLineID = d * 0x10000u + s;
            std::snprintf(items[i].szName, sizeof items[i].szName, "%s",
                          Destinations()[d].sources[s].strName.c_str());
        }
        return true;
    }

    bool GetBooleans(const MixerControlInfo& control, std::span<int32_t> values) override {
        const auto sources = SelectorItems(control, values.size());
        if (Fails(MixerOp::GetValues) || !sources) return false;
        const uint32_t d = control.nControlID - kSelectorBase;
        for (size_t i = 0; i < values.size(); ++i)
            values[i] = Destinations()[d].sources[(*sources)[i]].bSelected ? 1 : 0;
        return true;
    }

    bool SetBooleans(const MixerControlInfo& control, std::span<const int32_t> values) override {
        const auto sources = SelectorItems(control, values.size());
        if (Fails(MixerOp::SetValues) || !sources) return false;
        const uint32_t d = control.nControlID - kSelectorBase;
        for (size_t i = 0; i < values.size(); ++i)
            Destinations()[d].sources[(*sources)[i]].bSelected = values[i] != 0;
        ++m_pCard->nSelectorWrites;
        return true;
    }

    bool SetUnsigned(const MixerControlInfo& control, std::span<const uint32_t> values) override {
        FakeMixerSource* source = SourceById(control.nControlID);
        if (Fails(MixerOp::SetVolume) || !source || !source->bHasVolume) return false;
        source->volume.assign(values.begin(), values.end());
        return true;
    }

private:
    bool Fails(MixerOp op) const { return m_pCard->failing.count(op) != 0; }
    std::vector<FakeMixerDestination>& Destinations() { return m_pCard->destinations; }

    FakeMixerSource* SourceById(uint32_t lineId) {
        const uint32_t d = lineId / 0x10000u, s = lineId % 0x10000u;
        if (lineId >= kDestinationBase || d >= Destinations().size() ||
            s >= Destinations()[d].sources.size())
            return nullptr;
        return &Destinations()[d].sources[s];
    }

    // Indices of destination d's sources that have an item in its selector, in order.
    std::vector<uint32_t> Items(uint32_t d) {
        std::vector<uint32_t> items;
        for (uint32_t s = 0; s < Destinations()[d].sources.size(); ++s)
            if (Destinations()[d].sources[s].bInSelector) items.push_back(s);
        return items;
    }

    // The selector's items, when the control is one and the count matches.
    std::optional<std::vector<uint32_t>> SelectorItems(const MixerControlInfo& control,
                                                       size_t count) {
        const uint32_t d = control.nControlID - kSelectorBase;
        if (control.nControlID < kSelectorBase || d >= Destinations().size()) return {};
        std::vector<uint32_t> items = Items(d);
        if (items.size() != count) return {};
        return items;
    }

    bool Describe(uint32_t lineId, MixerLineInfo* line) {
        *line = MixerLineInfo{};
        line->nLineID = lineId;
        if (lineId >= kDestinationBase) {
            const uint32_t d = lineId - kDestinationBase;
            if (d >= Destinations().size()) return false;
            line->nDestination = d;
            line->nComponentType = Destinations()[d].nType;
            line->nChannels = 2;
            line->nConnections = uint32_t(Destinations()[d].sources.size());
            return true;
        }
        const FakeMixerSource* source = SourceById(lineId);
        if (!source) return false;
        line->nDestination = lineId / 0x10000u;
        line->nSource = lineId % 0x10000u;
        line->nComponentType = source->nType;
        line->nChannels = source->nChannels;
        std::snprintf(line->szName, sizeof line->szName, "%s", source->strName.c_str());
        return true;
    }

    std::shared_ptr<FakeMixerCard> m_pCard;
};

}  // namespace

FakeMixerCard FakeMixerCard::Recording(uint32_t selectorType,
                                       std::vector<FakeMixerSource> sources) {
    FakeMixerCard card;
    card.destinations.push_back({MIXERLINE_COMPONENTTYPE_DST_SPEAKERS, 0, {}});
    card.destinations.push_back(
        {MIXERLINE_COMPONENTTYPE_DST_WAVEIN, selectorType, std::move(sources)});
    return card;
}

FakeMixerSource* FakeMixerCard::Source(uint32_t type) {
    for (FakeMixerDestination& destination : destinations) {
        if (destination.nType != MIXERLINE_COMPONENTTYPE_DST_WAVEIN) continue;
        for (FakeMixerSource& source : destination.sources)
            if (source.nType == type) return &source;
    }
    return nullptr;
}

std::vector<uint32_t> FakeMixerCard::SelectedTypes() const {
    std::vector<uint32_t> types;
    for (const FakeMixerDestination& destination : destinations) {
        if (destination.nType != MIXERLINE_COMPONENTTYPE_DST_WAVEIN) continue;
        for (const FakeMixerSource& source : destination.sources)
            if (source.bInSelector && source.bSelected) types.push_back(source.nType);
    }
    return types;
}

std::unique_ptr<IMixerBackend> MakeFakeMixerBackend(std::shared_ptr<FakeMixerCard> card) {
    return std::make_unique<CFakeMixerBackend>(std::move(card));
}
