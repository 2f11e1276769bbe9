// The cuts of a take under review and the titles of its songs, with the edits the Review window
// offers as undoable commands: move a cut, add one, remove one (joining two songs), retitle.
// Positions are frames from the start of the take; a take of N frames with cuts c1 < c2 < ...
// holds the songs [0, c1), [c1, c2), ..., [ck, N). Every cut lies strictly inside the take and
// strictly between its neighbours, so no song is ever empty.
//
// Owned by the Review window; user-interface thread only.
#pragma once

#include <QUndoCommand>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

class CReviewCuts {
public:
    // cuts ascending (any that break the rule above are dropped); titles one per song, padded
    // with empty ones or cut to fit.
    void Reset(uint64_t totalFrames, std::vector<uint64_t> cuts,
               std::vector<std::string> titles = {});

    uint64_t TotalFrames() const { return m_nTotalFrames; }
    const std::vector<uint64_t>& Cuts() const { return m_cuts; }
    size_t SongCount() const { return m_cuts.size() + 1; }
    uint64_t SongStart(size_t song) const { return song == 0 ? 0 : m_cuts[song - 1]; }
    uint64_t SongEnd(size_t song) const {
        return song < m_cuts.size() ? m_cuts[song] : m_nTotalFrames;
    }
    const std::vector<std::string>& Titles() const { return m_titles; }
    // The song that holds frame (the last one for the end of the take).
    size_t SongAt(uint64_t frame) const;

    // The nearest position that cut may take: at least one frame after the cut before it (or
    // the take's start) and one before the cut after it (or the take's end).
    uint64_t Clamp(size_t cut, int64_t frame) const;
    // Whether a new cut may go at frame: inside the take and on no existing cut.
    bool CanAddAt(uint64_t frame) const;

    void SetCut(size_t cut, uint64_t frame);
    // Splits the song that holds frame; the second part gets title. Returns the new cut's index.
    size_t InsertCut(uint64_t frame, const std::string& title);
    // Joins the two songs on either side of the cut; the first keeps its title. Returns the
    // title of the second.
    std::string RemoveCut(size_t cut);
    void SetTitles(std::vector<std::string> titles);

    // Called after every change, with the cut the change concerns (-1: none in particular).
    std::function<void(int cut)> onChanged;

private:
    void Changed(int cut);

    uint64_t m_nTotalFrames = 0;
    std::vector<uint64_t> m_cuts;
    std::vector<std::string> m_titles;
};

// The undoable edits. Each applies itself on redo (also when first pushed on a stack).
QUndoCommand* MakeMoveCut(CReviewCuts& cuts, size_t cut, uint64_t to, const QString& text);
// Null when no cut may go at frame.
QUndoCommand* MakeAddCut(CReviewCuts& cuts, uint64_t frame);
QUndoCommand* MakeJoinAt(CReviewCuts& cuts, size_t cut);
// Every cut and title at once (as Reset takes them).
QUndoCommand* MakeSetCuts(CReviewCuts& cuts, std::vector<uint64_t> to,
                          std::vector<std::string> titles, const QString& text);
QUndoCommand* MakeSetTitles(CReviewCuts& cuts, std::vector<std::string> titles,
                            const QString& text);
