#include "take/TakeClicks.h"

#include <algorithm>

#include "take/ClickRepairStream.h"

namespace {
constexpr size_t kPieceBytes = 1 << 20;  // read at once; the stream holds back seconds anyway
}  // namespace

ClickSearch FindTakeClicks(const CTakeReader& reader, const std::vector<uint64_t>& cuts,
                           ClickSensitivity sensitivity,
                           const std::function<bool(uint64_t done, uint64_t total)>& onProgress,
                           std::vector<ClickRepair>* repairs) {
    repairs->clear();
    const Take& take = reader.GetTake();
    const size_t frameBytes = take.FrameBytes();
    if (frameBytes == 0) return ClickSearch::ReadFailed;
    const size_t piece = std::max<size_t>(1, kPieceBytes / frameBytes);
    std::vector<uint8_t> buffer(piece * frameBytes);
    CClickRepairStream stream(take.format, sensitivity);
    // Only the repairs are wanted: the window plays and the keep writes them from the take.
    const CClickRepairStream::Sink discard = [](const void*, size_t) { return true; };
    std::vector<uint64_t> bounds{0};
    for (uint64_t cut : cuts) {
        if (cut > bounds.back() && cut < take.nFrames) bounds.push_back(cut);
    }
    bounds.push_back(take.nFrames);
    for (size_t s = 0; s + 1 < bounds.size(); ++s) {
        for (uint64_t at = bounds[s]; at < bounds[s + 1];) {
            const size_t count = size_t(std::min<uint64_t>(piece, bounds[s + 1] - at));
            if (reader.ReadFrames(at, count, buffer.data()) != count)
                return ClickSearch::ReadFailed;
            stream.Push(buffer.data(), count * frameBytes, discard);
            at += count;
            if (onProgress && !onProgress(at, take.nFrames)) return ClickSearch::Cancelled;
        }
        stream.Finish(discard);
        for (ClickRepair r : stream.Repairs()) {
            r.nFrame += bounds[s];
            repairs->push_back(std::move(r));
        }
    }
    std::sort(repairs->begin(), repairs->end(), [](const ClickRepair& a, const ClickRepair& b) {
        return a.nFrame != b.nFrame ? a.nFrame < b.nFrame : a.nChannel < b.nChannel;
    });
    return ClickSearch::Done;
}
