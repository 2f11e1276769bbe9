// One bar graph of LEDs: n bar LEDs and an overload LED at the far end, laid out vertically
// when the control is taller than wide, horizontally otherwise. The main window owns two of
// them (left and right channel); CMeterThread switches their LEDs from its worker thread.
//
// Every LED is copied from a prebuilt image that holds each LED both dark and lit, so a tick
// costs one small blit per LED that changed. Layout and the image belong to the UI thread;
// SetLed may be called from the meter thread and only stores the state and queues a repaint of
// that LED's rectangle to the UI thread.
#pragma once

#include <QColor>
#include <QPixmap>
#include <QRect>
#include <QWidget>
#include <atomic>
#include <memory>
#include <mutex>

class QFont;

class CLedMeter : public QWidget {
public:
    explicit CLedMeter(QWidget* parent = nullptr);
    ~CLedMeter() override;

    // n bar LEDs plus the overload LED; n <= 0 is ignored. UI thread, while the meter thread
    // is paused or not started.
    void SetLedCount(int n);
    int GetLedCount() const { return m_nLedCount; }

    // Any thread (the meter thread in practice). Out-of-range indexes are ignored.
    void SetLed(int index, bool on);
    // Any thread.
    bool IsLedLit(int index) const;

    // UI thread: the LED's place in the control, and its two colours.
    QRect GetLedRect(int index) const;
    QColor GetDarkColour(int index) const;
    QColor GetLitColour(int index) const;
    bool IsVertical() const { return m_bVertical; }
    // Where the lit copy of each LED lies in the image, relative to its dark copy (pixels).
    QPoint GetLitOffset() const { return {m_nLitOffsetX, m_nLitOffsetY}; }
    bool HasImage() const { return !m_image.isNull(); }

    // The font every meter selects when it builds its image; published by the main window,
    // may be null. UI thread.
    static void SetSharedFont(const QFont* font);

    // Draws one LED (bump edge, fill, glint pixels) in the given state; used for the image and
    // for painting directly when there is no image.
    static void DrawLed(QPainter& painter, const QRect& rect, const QColor& dark, const QColor& lit,
                        bool on, const QPalette& system);

protected:
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    struct Led {
        QColor clrDark;
        QColor clrLit;
        QRect rect;
    };

    void Layout();
    void BuildImage();
    void FlushDirty();  // UI thread: turns the worker's dirty bits into update(rect) calls

    int m_nLedCount = 10;
    std::unique_ptr<Led[]> m_pLeds;
    // The worker writes, painting reads; separate from m_pLeds so that layout on a resize keeps
    // the states. Guarded by m_lock only against replacement by SetLedCount.
    std::unique_ptr<std::atomic<int>[]> m_pStates;
    mutable std::mutex m_lock;
    bool m_bVertical = true;
    int m_nLitOffsetX = 0;
    int m_nLitOffsetY = 0;
    QPixmap m_image;

    // One bit per LED whose state changed since the UI thread last looked; bit 63 stands for
    // every LED from 63 on. A repaint request is queued only when the mask was empty.
    std::atomic<uint64_t> m_nDirty{0};
};
