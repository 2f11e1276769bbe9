// The clicks the Review window repairs in a take: the repairs found, their frames the take's,
// grouped into clicks (the repairs that overlap, whichever channel), with the undoable edits on
// them: all repairs at once (Repair Clicks) and one click left as it was. Nothing is written
// until Keep, which takes the repairs.
//
// The search itself is the take library's (take/TakeClicks.h). CReviewClicks and the edits are
// owned by the window; user-interface thread only.
#pragma once

#include <QUndoCommand>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "take/TakeClicks.h"

// One click: the repairs [nRepair, nRepair + nRepairs) of the list, over frames [nFirst, nEnd).
struct ReviewClick {
    uint64_t nFirst = 0;
    uint64_t nEnd = 0;
    size_t nRepair = 0;
    size_t nRepairs = 0;
};

class CReviewClicks {
public:
    // Replaces every repair (sorted here).
    void Set(std::vector<ClickRepair> repairs);
    // Takes out the repairs of click and gives them; puts such repairs back.
    std::vector<ClickRepair> Remove(size_t click);
    void Restore(std::vector<ClickRepair> repairs);

    const std::vector<ClickRepair>& Repairs() const { return m_repairs; }
    const std::vector<ReviewClick>& Clicks() const { return m_clicks; }
    // Clicks that begin in frames [first, end).
    size_t CountIn(uint64_t first, uint64_t end) const;
    // The click that begins at frame, or the first after it (Clicks().size() for none).
    size_t ClickFrom(uint64_t frame) const;

    // Called after every change, with the click the change concerns (-1: none in particular).
    std::function<void(int click)> onChanged;

private:
    void Regroup();
    void Notify(int click);

    std::vector<ClickRepair> m_repairs;  // by frame, then channel
    std::vector<ReviewClick> m_clicks;
};

// All the repairs at once; each edit applies itself on redo (also when first pushed).
QUndoCommand* MakeSetRepairs(CReviewClicks& clicks, std::vector<ClickRepair> repairs,
                             const QString& text);
// The click's repairs taken back: it is left as the take has it.
QUndoCommand* MakeLeaveClick(CReviewClicks& clicks, size_t click);
