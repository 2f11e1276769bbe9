#include "ui/ReviewClicks.h"

#include <algorithm>
#include <utility>

namespace {
bool Earlier(const ClickRepair& a, const ClickRepair& b) {
    return a.nFrame != b.nFrame ? a.nFrame < b.nFrame : a.nChannel < b.nChannel;
}
}  // namespace

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
