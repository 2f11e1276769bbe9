// Tooltips of the main window and the Custom Settings dialog, with their texts from the string
// table: window tools (a control's own tooltip) and rectangle tools (an area of the owner's
// client area, the LED meters). User-interface thread.
#pragma once

#include <QObject>
#include <QRect>
#include <vector>

class QWidget;

class CRecorderToolTip : public QObject {
public:
    explicit CRecorderToolTip(QObject* parent = nullptr) : QObject(parent) {}

    void AddWindowTool(QWidget* control, int stringId);
    // The rectangle is in the owner's client coordinates, taken once.
    void AddRectTool(QWidget* owner, int stringId, const QRect& rect, int toolId);
    // A line added under a rectangle tool's text (empty: none), as the meters say why they are
    // dark.
    void SetRectNote(int toolId, const QString& note);
    // A line under a window tool's text (empty: none), as the base-file list names the folder
    // of the chosen file.
    void SetWindowNote(QWidget* control, const QString& note);
    // Tooltips on or off for every tool.
    void Activate(bool on);

    // The text of the rectangle tool at a point of the owner, or an empty string.
    QString TextAt(const QWidget* owner, const QPoint& pos) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    struct RectTool {
        QWidget* pOwner;
        QRect rect;
        int nId;
        QString text;
        QString note;
    };
    std::vector<RectTool> m_rectTools;
    struct WindowTool {
        QWidget* pControl;
        QString text;
        QString note;
        QString Full() const { return note.isEmpty() ? text : text + QLatin1Char('\n') + note; }
    };
    std::vector<WindowTool> m_windowTools;
    bool m_bActive = true;
};
