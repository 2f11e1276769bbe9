#include "ui/ReviewCuts.h"

#include <algorithm>

void CReviewCuts::Reset(uint64_t totalFrames, std::vector<uint64_t> cuts,
                        std::vector<std::string> titles) {
    m_nTotalFrames = totalFrames;
    m_cuts.clear();
    for (uint64_t cut : cuts) {
        if (cut == 0 || cut >= totalFrames) continue;
        if (!m_cuts.empty() && cut <= m_cuts.back()) continue;
        m_cuts.push_back(cut);
    }
    m_titles = std::move(titles);
    m_titles.resize(SongCount());
    Changed(-1);
}

size_t CReviewCuts::SongAt(uint64_t frame) const {
    return size_t(std::upper_bound(m_cuts.begin(), m_cuts.end(), frame) - m_cuts.begin());
}

uint64_t CReviewCuts::Clamp(size_t cut, int64_t frame) const {
    const int64_t low = cut == 0 ? 1 : int64_t(m_cuts[cut - 1]) + 1;
    const int64_t high =
        cut + 1 < m_cuts.size() ? int64_t(m_cuts[cut + 1]) - 1 : int64_t(m_nTotalFrames) - 1;
    return uint64_t(std::clamp(frame, low, std::max(low, high)));
}

bool CReviewCuts::CanAddAt(uint64_t frame) const {
    return frame > 0 && frame < m_nTotalFrames &&
           !std::binary_search(m_cuts.begin(), m_cuts.end(), frame);
}

void CReviewCuts::SetCut(size_t cut, uint64_t frame) {
    m_cuts[cut] = Clamp(cut, int64_t(frame));
    Changed(int(cut));
}

size_t CReviewCuts::InsertCut(uint64_t frame, const std::string& title) {
    const size_t song = SongAt(frame);
    m_cuts.insert(m_cuts.begin() + ptrdiff_t(song), frame);
    m_titles.insert(m_titles.begin() + ptrdiff_t(song) + 1, title);
    Changed(int(song));
    return song;
}

std::string CReviewCuts::RemoveCut(size_t cut) {
    std::string second = std::move(m_titles[cut + 1]);
    m_cuts.erase(m_cuts.begin() + ptrdiff_t(cut));
    m_titles.erase(m_titles.begin() + ptrdiff_t(cut) + 1);
    Changed(cut < m_cuts.size() ? int(cut) : int(m_cuts.size()) - 1);
    return second;
}

void CReviewCuts::SetTitles(std::vector<std::string> titles) {
    m_titles = std::move(titles);
    m_titles.resize(SongCount());
    Changed(-1);
}

void CReviewCuts::Changed(int cut) {
    if (onChanged) onChanged(cut);
}

namespace {

class CMoveCut : public QUndoCommand {
public:
    CMoveCut(CReviewCuts& cuts, size_t cut, uint64_t to, const QString& text)
        : QUndoCommand(text), m_cuts(cuts), m_nCut(cut), m_nFrom(cuts.Cuts()[cut]), m_nTo(to) {}
    void redo() override { m_cuts.SetCut(m_nCut, m_nTo); }
    void undo() override { m_cuts.SetCut(m_nCut, m_nFrom); }

private:
    CReviewCuts& m_cuts;
    size_t m_nCut;
    uint64_t m_nFrom;
    uint64_t m_nTo;
};

class CAddCut : public QUndoCommand {
public:
    CAddCut(CReviewCuts& cuts, uint64_t frame)
        : QUndoCommand(QStringLiteral("Add Cut")), m_cuts(cuts), m_nFrame(frame) {}
    void redo() override { m_nCut = m_cuts.InsertCut(m_nFrame, {}); }
    void undo() override { m_cuts.RemoveCut(m_nCut); }

private:
    CReviewCuts& m_cuts;
    uint64_t m_nFrame;
    size_t m_nCut = 0;
};

class CJoinAt : public QUndoCommand {
public:
    CJoinAt(CReviewCuts& cuts, size_t cut)
        : QUndoCommand(QStringLiteral("Join")),
          m_cuts(cuts),
          m_nCut(cut),
          m_nFrame(cuts.Cuts()[cut]) {}
    void redo() override { m_strSecond = m_cuts.RemoveCut(m_nCut); }
    void undo() override { m_cuts.InsertCut(m_nFrame, m_strSecond); }

private:
    CReviewCuts& m_cuts;
    size_t m_nCut;
    uint64_t m_nFrame;
    std::string m_strSecond;
};

class CSetTitles : public QUndoCommand {
public:
    CSetTitles(CReviewCuts& cuts, std::vector<std::string> titles, const QString& text)
        : QUndoCommand(text), m_cuts(cuts), m_before(cuts.Titles()), m_after(std::move(titles)) {}
    void redo() override { m_cuts.SetTitles(m_after); }
    void undo() override { m_cuts.SetTitles(m_before); }

private:
    CReviewCuts& m_cuts;
    std::vector<std::string> m_before;
    std::vector<std::string> m_after;
};

// Every cut and title at once.
class CSetCuts : public QUndoCommand {
public:
    CSetCuts(CReviewCuts& cuts, std::vector<uint64_t> to, std::vector<std::string> titles,
             const QString& text)
        : QUndoCommand(text),
          m_cuts(cuts),
          m_before(cuts.Cuts()),
          m_beforeTitles(cuts.Titles()),
          m_after(std::move(to)),
          m_afterTitles(std::move(titles)) {}
    void redo() override { m_cuts.Reset(m_cuts.TotalFrames(), m_after, m_afterTitles); }
    void undo() override { m_cuts.Reset(m_cuts.TotalFrames(), m_before, m_beforeTitles); }

private:
    CReviewCuts& m_cuts;
    std::vector<uint64_t> m_before;
    std::vector<std::string> m_beforeTitles;
    std::vector<uint64_t> m_after;
    std::vector<std::string> m_afterTitles;
};

}  // namespace

QUndoCommand* MakeSetCuts(CReviewCuts& cuts, std::vector<uint64_t> to,
                          std::vector<std::string> titles, const QString& text) {
    return new CSetCuts(cuts, std::move(to), std::move(titles), text);
}

QUndoCommand* MakeMoveCut(CReviewCuts& cuts, size_t cut, uint64_t to, const QString& text) {
    return new CMoveCut(cuts, cut, cuts.Clamp(cut, int64_t(to)), text);
}

QUndoCommand* MakeAddCut(CReviewCuts& cuts, uint64_t frame) {
    return cuts.CanAddAt(frame) ? new CAddCut(cuts, frame) : nullptr;
}

QUndoCommand* MakeJoinAt(CReviewCuts& cuts, size_t cut) { return new CJoinAt(cuts, cut); }

QUndoCommand* MakeSetTitles(CReviewCuts& cuts, std::vector<std::string> titles,
                            const QString& text) {
    return new CSetTitles(cuts, std::move(titles), text);
}
