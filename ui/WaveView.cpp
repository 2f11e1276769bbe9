#include "ui/WaveView.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace {
constexpr int kGrabPixels = 4;  // how near a press must be to take hold of a cut
const QColor kBackground(0, 0, 0);
const QColor kWave(50, 200, 50);
const QColor kCut(0, 200, 255);
const QColor kSelected(255, 220, 0);
const QColor kGapLine(220, 60, 60);
const QColor kPlay(255, 255, 255);
const QColor kClick(255, 120, 200);
}  // namespace

CWaveView::CWaveView(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::StrongFocus);
    setMinimumHeight(60);
    setAttribute(Qt::WA_OpaquePaintEvent);
}

void CWaveView::SetSource(PeakSource source) {
    m_source = std::move(source);
    Reload();
}

void CWaveView::SetRange(uint64_t first, uint64_t last) {
    last = std::max(last, first + 1);
    if (first == m_nFirst && last == m_nLast) return;
    m_nFirst = first;
    m_nLast = last;
    Reload();
}

void CWaveView::SetCuts(const std::vector<uint64_t>& cuts, const QStringList& labels,
                        int selected) {
    m_cuts = cuts;
    m_labels = labels;
    m_nSelected = selected;
    update();
}

void CWaveView::SetClicks(const std::vector<uint64_t>& clicks, int selected) {
    if (clicks == m_clicks && selected == m_nSelectedClick) return;
    m_clicks = clicks;
    m_nSelectedClick = selected;
    update();
}

void CWaveView::SetGapLevel(double amplitude) {
    m_fGapLevel = amplitude;
    update();
}

void CWaveView::SetPlayPosition(int64_t frame) {
    if (frame == m_nPlay) return;
    m_nPlay = frame;
    update();
}

void CWaveView::Reload() {
    m_bStale = true;
    update();
}

uint64_t CWaveView::FrameAt(int x) const {
    const int w = std::max(1, width());
    x = std::clamp(x, 0, w);
    return m_nFirst + uint64_t(double(m_nLast - m_nFirst) * x / w);
}

int CWaveView::XOf(uint64_t frame) const {
    const double span = double(m_nLast - m_nFirst);
    return int((double(frame) - double(m_nFirst)) * width() / span);
}

void CWaveView::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    Reload();
}

void CWaveView::paintEvent(QPaintEvent*) {
    QPainter p(this);
    p.fillRect(rect(), kBackground);
    const int w = width();
    const int h = height();
    const double mid = h / 2.0;
    const double half = h / 2.0 - 1;
    if (m_bStale && m_source && w > 0) {
        m_source(m_nFirst, m_nLast, w, m_columns);
        m_bStale = false;
    }
    p.setPen(kWave);
    for (int x = 0; x < w && x < int(m_columns.size()); ++x) {
        const PeakPair& c = m_columns[size_t(x)];
        const int top = int(mid - std::clamp(c.fMax, -1.f, 1.f) * half);
        const int bottom = int(mid - std::clamp(c.fMin, -1.f, 1.f) * half);
        p.drawLine(x, top, x, std::max(top, bottom));
    }
    if (m_fGapLevel >= 0) {
        p.setPen(QPen(kGapLine, 1, Qt::DashLine));
        const int dy = int(m_fGapLevel * half + 0.5);
        p.drawLine(0, int(mid) - dy, w, int(mid) - dy);
        p.drawLine(0, int(mid) + dy, w, int(mid) + dy);
    }
    // A click is a tick from the bottom edge, so that the wave stays readable around it; the
    // selected one reaches higher, in the selection's colour.
    const auto first = std::lower_bound(m_clicks.begin(), m_clicks.end(), m_nFirst);
    for (auto it = first; it != m_clicks.end() && *it <= m_nLast; ++it) {
        const bool selected = int(it - m_clicks.begin()) == m_nSelectedClick;
        if (selected) continue;
        p.setPen(kClick);
        const int x = XOf(*it);
        p.drawLine(x, h - h / 4, x, h);
    }
    if (m_nSelectedClick >= 0 && size_t(m_nSelectedClick) < m_clicks.size()) {
        const uint64_t frame = m_clicks[size_t(m_nSelectedClick)];
        if (frame >= m_nFirst && frame <= m_nLast) {
            p.setPen(QPen(kSelected, 2));
            const int x = XOf(frame);
            p.drawLine(x, h / 2, x, h);
        }
    }
    const QFontMetrics fm(font());
    for (size_t i = 0; i < m_cuts.size(); ++i) {
        if (m_cuts[i] < m_nFirst || m_cuts[i] > m_nLast) continue;
        const uint64_t frame = int(i) == m_nDragging ? m_nDragFrame : m_cuts[i];
        const int x = XOf(frame);
        const QColor colour = int(i) == m_nSelected ? kSelected : kCut;
        p.setPen(QPen(colour, int(i) == m_nSelected ? 2 : 1));
        p.drawLine(x, 0, x, h);
        if (i < size_t(m_labels.size())) {
            const QString label = m_labels[int(i)];
            const QRect box(x + 2, 1, fm.horizontalAdvance(label) + 4, fm.height());
            p.fillRect(box, colour);
            p.setPen(kBackground);
            p.drawText(box, Qt::AlignCenter, label);
        }
    }
    if (m_nPlay >= 0 && uint64_t(m_nPlay) >= m_nFirst && uint64_t(m_nPlay) <= m_nLast) {
        p.setPen(kPlay);
        const int x = XOf(uint64_t(m_nPlay));
        p.drawLine(x, 0, x, h);
    }
    if (hasFocus()) {
        p.setPen(QPen(kSelected, 1, Qt::DotLine));
        p.drawRect(rect().adjusted(0, 0, -1, -1));
    }
}

int CWaveView::CutNear(int x) const {
    int best = -1;
    int bestDistance = kGrabPixels + 1;
    for (size_t i = 0; i < m_cuts.size(); ++i) {
        if (m_cuts[i] < m_nFirst || m_cuts[i] > m_nLast) continue;
        const int d = std::abs(XOf(m_cuts[i]) - x);
        if (d < bestDistance) {
            best = int(i);
            bestDistance = d;
        }
    }
    return best;
}

int CWaveView::ClickNear(int x) const {
    // Clicks lie thick on the overview: the nearest within reach.
    const auto first = std::lower_bound(m_clicks.begin(), m_clicks.end(), FrameAt(x - kGrabPixels));
    int best = -1;
    int bestDistance = kGrabPixels + 1;
    for (auto it = first; it != m_clicks.end() && *it <= FrameAt(x + kGrabPixels); ++it) {
        const int d = std::abs(XOf(*it) - x);
        if (d < bestDistance) {
            best = int(it - m_clicks.begin());
            bestDistance = d;
        }
    }
    return best;
}

void CWaveView::mousePressEvent(QMouseEvent* event) {
    if (event->button() != Qt::LeftButton) return QWidget::mousePressEvent(event);
    const int x = int(event->position().x());
    const int cut = CutNear(x);
    // Only a press where the ticks are drawn takes a click: on a crackly side they stand so thick
    // on the overview that they would leave no room to reach the cuts.
    const int click =
        cut < 0 && event->position().y() >= height() - height() / 4 ? ClickNear(x) : -1;
    if (cut >= 0) {
        m_nDragging = cut;
        m_nDragFrame = m_cuts[size_t(cut)];
        emit CutPressed(cut);
    } else if (click >= 0) {
        emit ClickPressed(click);
    } else {
        emit FrameClicked(FrameAt(x));
    }
}

void CWaveView::mouseMoveEvent(QMouseEvent* event) {
    if (m_nDragging < 0) return QWidget::mouseMoveEvent(event);
    m_nDragFrame = FrameAt(int(event->position().x()));
    emit CutDragged(m_nDragging, m_nDragFrame, false);
    update();
}

void CWaveView::mouseReleaseEvent(QMouseEvent* event) {
    if (m_nDragging < 0) return QWidget::mouseReleaseEvent(event);
    const int cut = m_nDragging;
    m_nDragging = -1;
    if (m_nDragFrame != m_cuts[size_t(cut)]) emit CutDragged(cut, m_nDragFrame, true);
    update();
}
