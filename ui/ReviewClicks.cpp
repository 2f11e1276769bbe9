#include "ui/ReviewClicks.h"

#include <algorithm>
#include <utility>

#include "take/ClickRepairStream.h"

namespace {
constexpr size_t kPieceBytes = 1 << 20;  // read at once; the stream holds back seconds anyway

bool Earlier(const ClickRepair& a, const ClickRepair& b) {
    return a.nFrame != b.nFrame ? a.nFrame < b.nFrame : a.nChannel < b.nChannel;
}
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
    std::sort(repairs->begin(), repairs->end(), Earlier);
    return ClickSearch::Done;
}

void CReviewClicks::Set(std::vector<ClickRepair> repairs) {
    m_repairs = std::move(repairs);
    std::sort(m_repairs.begin(), m_repairs.end(), Earlier);
    Regroup();
    Notify(-1);
}

std::vector<ClickRepair> CReviewClicks::Remove(size_t click) {
    const ReviewClick c = m_clicks[click];
    const auto first = m_repairs.begin() + ptrdiff_t(c.nRepair);
    const auto last = first + ptrdiff_t(c.nRepairs);
    std::vector<ClickRepair> removed(std::make_move_iterator(first), std::make_move_iterator(last));
    m_repairs.erase(first, last);
    Regroup();
    Notify(int(click));
    return removed;
}

void CReviewClicks::Restore(std::vector<ClickRepair> repairs) {
    if (repairs.empty()) return;
    const uint64_t frame = repairs.front().nFrame;
    for (ClickRepair& r : repairs) {
        const auto at = std::upper_bound(m_repairs.begin(), m_repairs.end(), r, Earlier);
        m_repairs.insert(at, std::move(r));
    }
    Regroup();
    Notify(int(ClickFrom(frame)));
}

size_t CReviewClicks::CountIn(uint64_t first, uint64_t end) const {
    return ClickFrom(end) - ClickFrom(first);
}

size_t CReviewClicks::ClickFrom(uint64_t frame) const {
    return size_t(std::lower_bound(m_clicks.begin(), m_clicks.end(), frame,
                                   [](const ReviewClick& c, uint64_t f) { return c.nFirst < f; }) -
                  m_clicks.begin());
}

void CReviewClicks::Regroup() {
    // The channels' repairs of one click overlap; the list is in order of frame, so a click is
    // a run of repairs each beginning before the run's end.
    m_clicks.clear();
    for (size_t i = 0; i < m_repairs.size(); ++i) {
        const ClickRepair& r = m_repairs[i];
        const uint64_t end = r.nFrame + r.nLength;
        if (!m_clicks.empty() && r.nFrame < m_clicks.back().nEnd) {
            ReviewClick& c = m_clicks.back();
            c.nEnd = std::max(c.nEnd, end);
            ++c.nRepairs;
        } else {
            m_clicks.push_back({r.nFrame, end, i, 1});
        }
    }
}

void CReviewClicks::Notify(int click) {
    if (onChanged) onChanged(std::min(click, int(m_clicks.size()) - 1));
}

namespace {

class CSetRepairs : public QUndoCommand {
public:
    CSetRepairs(CReviewClicks& clicks, std::vector<ClickRepair> repairs, const QString& text)
        : QUndoCommand(text),
          m_clicks(clicks),
          m_before(clicks.Repairs()),
          m_after(std::move(repairs)) {}
    void redo() override { m_clicks.Set(m_after); }
    void undo() override { m_clicks.Set(m_before); }

private:
    CReviewClicks& m_clicks;
    std::vector<ClickRepair> m_before;
    std::vector<ClickRepair> m_after;
};

class CLeaveClick : public QUndoCommand {
public:
    CLeaveClick(CReviewClicks& clicks, size_t click)
        : QUndoCommand(QStringLiteral("Leave This Click")),
          m_clicks(clicks),
          m_nFrame(clicks.Clicks()[click].nFirst) {}
    // By frame, not index: the list's other edits are undone before this one is redone.
    void redo() override {
        const size_t click = m_clicks.ClickFrom(m_nFrame);
        if (click < m_clicks.Clicks().size() && m_clicks.Clicks()[click].nFirst == m_nFrame)
            m_removed = m_clicks.Remove(click);
    }
    void undo() override { m_clicks.Restore(std::move(m_removed)); }

private:
    CReviewClicks& m_clicks;
    uint64_t m_nFrame;
    std::vector<ClickRepair> m_removed;
};

}  // namespace

QUndoCommand* MakeSetRepairs(CReviewClicks& clicks, std::vector<ClickRepair> repairs,
                             const QString& text) {
    return new CSetRepairs(clicks, std::move(repairs), text);
}

QUndoCommand* MakeLeaveClick(CReviewClicks& clicks, size_t click) {
    return new CLeaveClick(clicks, click);
}
