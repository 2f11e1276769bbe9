// A strip of waveform for the Review window: the peaks of a range of a take, one column per
// pixel, with the cuts as numbered markers, the Gap Level as a line on either side of the
// middle, the play position and the repaired clicks as thin ticks. The window uses two: the
// overview of the whole side and the zoomed view around the selected cut. The peaks come from a
// source the window gives (the overview's envelope, or samples read from the take when zoomed in
// further than it resolves).
//
// Cuts are pressed and dragged with the mouse, a click's tick (in the bottom quarter) is pressed
// to select it; a press elsewhere reports the frame clicked.
// Keys are left to the window. User-interface thread only.
#pragma once

#include <QColor>
#include <QStringList>
#include <QWidget>
#include <cstdint>
#include <functional>
#include <vector>

#include "take/Overview.h"

// Fills out with `columns` columns spanning frames [first, last), the lowest and highest sample
// of each as fractions of full scale.
using PeakSource =
    std::function<void(uint64_t first, uint64_t last, int columns, std::vector<PeakPair>& out)>;

class CWaveView : public QWidget {
    Q_OBJECT

public:
    explicit CWaveView(QWidget* parent = nullptr);

    void SetSource(PeakSource source);
    // The frames shown, [first, last); last > first.
    void SetRange(uint64_t first, uint64_t last);
    uint64_t First() const { return m_nFirst; }
    uint64_t Last() const { return m_nLast; }
    // labels: one per cut, drawn beside its marker; selected: a cut index or -1.
    void SetCuts(const std::vector<uint64_t>& cuts, const QStringList& labels, int selected);
    // The repaired clicks' first frames, ascending; selected: an index or -1.
    void SetClicks(const std::vector<uint64_t>& clicks, int selected);
    // The Gap Level as a fraction of full scale; negative: no line.
    void SetGapLevel(double amplitude);
    // The play position as a frame; negative: none.
    void SetPlayPosition(int64_t frame);
    int64_t PlayPosition() const { return m_nPlay; }
    // Re-reads the peaks (the source has more to give, say).
    void Reload();

    // The frame under x and the x of a frame, in widget pixels.
    uint64_t FrameAt(int x) const;
    int XOf(uint64_t frame) const;

signals:
    void CutPressed(int cut);
    void ClickPressed(int click);
    // While dragging, and once more on release with finished true.
    void CutDragged(int cut, quint64 frame, bool finished);
    void FrameClicked(quint64 frame);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int CutNear(int x) const;
    int ClickNear(int x) const;

    PeakSource m_source;
    uint64_t m_nFirst = 0;
    uint64_t m_nLast = 1;
    std::vector<PeakPair> m_columns;
    bool m_bStale = true;
    std::vector<uint64_t> m_cuts;
    QStringList m_labels;
    int m_nSelected = -1;
    std::vector<uint64_t> m_clicks;
    int m_nSelectedClick = -1;
    double m_fGapLevel = -1;
    int64_t m_nPlay = -1;
    int m_nDragging = -1;
    uint64_t m_nDragFrame = 0;
};
