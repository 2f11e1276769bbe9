#include "ui/LedMeter.h"

#include <QEvent>
#include <QFont>
#include <QPaintEvent>
#include <QPainter>

namespace {
const QFont* g_pSharedFont = nullptr;

constexpr int kMaskBits = 64;

uint64_t DirtyBit(int index) { return uint64_t{1} << (index < kMaskBits ? index : kMaskBits - 1); }
}  // namespace

CLedMeter::CLedMeter(QWidget* parent) : QWidget(parent) {
    // LEDs cover the whole control and are painted opaque: no background erase needed.
    setAttribute(Qt::WA_OpaquePaintEvent);
}

CLedMeter::~CLedMeter() = default;

void CLedMeter::SetSharedFont(const QFont* font) { g_pSharedFont = font; }

void CLedMeter::SetLedCount(int n) {
    if (n <= 0) return;
    m_nLedCount = n + 1;
    Layout();
}

void CLedMeter::Layout() {
    {
        std::lock_guard guard(m_lock);
        m_pLeds = std::make_unique<Led[]>(m_nLedCount);
        m_pStates = std::make_unique<std::atomic<int>[]>(m_nLedCount);
        for (int i = 0; i < m_nLedCount; ++i) m_pStates[i].store(0);
    }
    const int w = width();
    const int h = height();
    m_bVertical = h > w;
    m_nLitOffsetX = m_bVertical ? w : 0;
    m_nLitOffsetY = m_bVertical ? 0 : h;
    const int n = m_nLedCount;
    const int l = std::max(h, w);
    const int s = 2 * l / (2 * n + 1);
    for (int i = 0; i < n; ++i) {
        Led& led = m_pLeds[i];
        const bool last = i == n - 1;
        if (m_bVertical) {
            led.rect = last ? QRect(0, 0, w, s) : QRect(0, h - (i + 1) * s, w, s);
        } else {
            led.rect = last ? QRect(w - s, 0, s, h) : QRect(i * s, 0, s, h);
        }
        if (last) {
            led.clrDark = QColor(128, 0, 0);
            led.clrLit = QColor(255, 0, 0);
        } else if (i >= n - 11) {
            led.clrDark = QColor(128, 128, 0);
            led.clrLit = QColor(255, 255, 0);
        } else {
            led.clrDark = QColor(0, 102, 0);
            led.clrLit = QColor(0, 255, 0);
        }
    }
    BuildImage();
    update();
}

void CLedMeter::DrawLed(QPainter& painter, const QRect& rect, const QColor& dark, const QColor& lit,
                        bool on, const QPalette& system) {
    // A soft bump: raised outer ring, sunken inner ring, both from the system's 3-D colours so
    // that a colour-scheme change shows in the edges.
    const int l = rect.left(), t = rect.top(), r = rect.right(), b = rect.bottom();
    auto ring = [&painter](int x0, int y0, int x1, int y1, const QColor& topLeft,
                           const QColor& bottomRight) {
        painter.setPen(topLeft);
        painter.drawLine(x0, y0, x1 - 1, y0);
        painter.drawLine(x0, y0, x0, y1 - 1);
        painter.setPen(bottomRight);
        painter.drawLine(x0, y1, x1, y1);
        painter.drawLine(x1, y0, x1, y1);
    };
    ring(l, t, r, b, system.color(QPalette::Light), system.color(QPalette::Shadow));
    ring(l + 1, t + 1, r - 1, b - 1, system.color(QPalette::Dark),
         system.color(QPalette::Midlight));

    const QRect inner = rect.adjusted(2, 2, -2, -2);
    if (inner.isEmpty()) return;
    painter.fillRect(inner, on ? lit : dark);
    painter.setPen(on ? QColor(255, 255, 255) : lit);
    painter.drawPoint(inner.left(), inner.top());
    painter.drawPoint(inner.left() + 1, inner.top());
    painter.drawPoint(inner.left() + 2, inner.top());
    painter.drawPoint(inner.left(), inner.top() + 1);
}

void CLedMeter::BuildImage() {
    m_image = QPixmap();
    const int w = width() + m_nLitOffsetX;
    const int h = height() + m_nLitOffsetY;
    if (w <= 0 || h <= 0 || !m_pLeds) return;
    // Built at the screen's pixel ratio so that the LEDs stay sharp on high-DPI screens.
    const qreal ratio = devicePixelRatioF();
    QPixmap image(QSize(qRound(w * ratio), qRound(h * ratio)));
    if (image.isNull()) return;  // painting falls back to drawing each LED
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::black);
    QPainter painter(&image);
    if (g_pSharedFont) painter.setFont(*g_pSharedFont);
    const QPalette system = palette();
    const QPoint litOffset(m_nLitOffsetX, m_nLitOffsetY);
    for (int i = 0; i < m_nLedCount; ++i) {
        const Led& led = m_pLeds[i];
        DrawLed(painter, led.rect, led.clrDark, led.clrLit, false, system);
        DrawLed(painter, led.rect.translated(litOffset), led.clrDark, led.clrLit, true, system);
    }
    painter.end();
    m_image = image;
}

void CLedMeter::SetLed(int index, bool on) {
    std::lock_guard guard(m_lock);
    if (!m_pStates || index < 0 || index >= m_nLedCount) return;
    const int state = on ? 1 : 0;
    if (m_pStates[index].exchange(state) == state) return;
    // QWidget::update is for the UI thread only: mark the LED and post one flush per burst.
    if (m_nDirty.fetch_or(DirtyBit(index)) == 0) {
        QMetaObject::invokeMethod(this, &CLedMeter::FlushDirty, Qt::QueuedConnection);
    }
}

bool CLedMeter::IsLedLit(int index) const {
    std::lock_guard guard(m_lock);
    if (!m_pStates || index < 0 || index >= m_nLedCount) return false;
    return m_pStates[index].load() != 0;
}

void CLedMeter::FlushDirty() {
    const uint64_t dirty = m_nDirty.exchange(0);
    if (!m_pLeds) return;
    for (int i = 0; i < m_nLedCount; ++i) {
        if (dirty & DirtyBit(i)) update(m_pLeds[i].rect);
    }
}

QRect CLedMeter::GetLedRect(int index) const {
    return (m_pLeds && index >= 0 && index < m_nLedCount) ? m_pLeds[index].rect : QRect();
}
QColor CLedMeter::GetDarkColour(int index) const {
    return (m_pLeds && index >= 0 && index < m_nLedCount) ? m_pLeds[index].clrDark : QColor();
}
QColor CLedMeter::GetLitColour(int index) const {
    return (m_pLeds && index >= 0 && index < m_nLedCount) ? m_pLeds[index].clrLit : QColor();
}

void CLedMeter::paintEvent(QPaintEvent* event) {
    if (!m_pLeds) Layout();
    QPainter painter(this);
    const QPalette system = palette();
    for (int i = 0; i < m_nLedCount; ++i) {
        const Led& led = m_pLeds[i];
        if (!event->region().intersects(led.rect)) continue;
        const bool on = m_pStates[i].load() != 0;
        if (!m_image.isNull()) {
            const QPoint from =
                on ? led.rect.topLeft() + QPoint(m_nLitOffsetX, m_nLitOffsetY) : led.rect.topLeft();
            const qreal ratio = m_image.devicePixelRatio();
            const QRectF source(from.x() * ratio, from.y() * ratio, led.rect.width() * ratio,
                                led.rect.height() * ratio);
            painter.drawPixmap(QRectF(led.rect), m_image, source);
        } else {
            DrawLed(painter, led.rect, led.clrDark, led.clrLit, on, system);
        }
    }
    // The gap between the bar and the overload LED (and any rounding remainder) stays black.
    QRegion rest(rect());
    for (int i = 0; i < m_nLedCount; ++i) rest -= m_pLeds[i].rect;
    rest &= event->region();
    for (const QRect& r : rest) painter.fillRect(r, Qt::black);
}

void CLedMeter::resizeEvent(QResizeEvent* event) {
    QWidget::resizeEvent(event);
    // The control is laid out for its size; keep the states while the geometry follows.
    if (!m_pLeds) return;
    std::unique_ptr<std::atomic<int>[]> kept;
    {
        std::lock_guard guard(m_lock);
        kept = std::move(m_pStates);
    }
    Layout();
    std::lock_guard guard(m_lock);
    m_pStates = std::move(kept);
}

void CLedMeter::changeEvent(QEvent* event) {
    QWidget::changeEvent(event);
    if (event->type() == QEvent::PaletteChange || event->type() == QEvent::StyleChange) {
        BuildImage();
        update();
    }
}
