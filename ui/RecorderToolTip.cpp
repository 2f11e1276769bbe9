#include "ui/RecorderToolTip.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

#include "resources/Resources.h"

void CRecorderToolTip::AddWindowTool(QWidget* control, int stringId) {
    const QString text = QString::fromLatin1(LoadResString(stringId));
    m_windowTools.push_back({control, text, {}});
    if (m_bActive) control->setToolTip(text);
}

void CRecorderToolTip::AddRectTool(QWidget* owner, int stringId, const QRect& rect, int toolId) {
    if (std::none_of(m_rectTools.begin(), m_rectTools.end(),
                     [owner](const RectTool& t) { return t.pOwner == owner; })) {
        owner->installEventFilter(this);
    }
    m_rectTools.push_back({owner, rect, toolId, QString::fromLatin1(LoadResString(stringId)), {}});
}

void CRecorderToolTip::SetRectNote(int toolId, const QString& note) {
    for (RectTool& tool : m_rectTools)
        if (tool.nId == toolId) tool.note = note;
}

void CRecorderToolTip::SetWindowNote(QWidget* control, const QString& note) {
    for (WindowTool& tool : m_windowTools) {
        if (tool.pControl != control) continue;
        tool.note = note;
        if (m_bActive) control->setToolTip(tool.Full());
    }
}

void CRecorderToolTip::Activate(bool on) {
    m_bActive = on;
    for (const WindowTool& tool : m_windowTools)
        tool.pControl->setToolTip(on ? tool.Full() : QString());
}

QString CRecorderToolTip::TextAt(const QWidget* owner, const QPoint& pos) const {
    for (const RectTool& tool : m_rectTools)
        if (tool.pOwner == owner && tool.rect.contains(pos))
            return tool.note.isEmpty() ? tool.text : tool.text + QLatin1Char('\n') + tool.note;
    return {};
}

bool CRecorderToolTip::eventFilter(QObject* watched, QEvent* event) {
    // Children without a tooltip of their own pass the request on to the owner, in the owner's
    // coordinates; the meters are such children.
    if (event->type() == QEvent::ToolTip && m_bActive) {
        auto* owner = static_cast<QWidget*>(watched);
        auto* help = static_cast<QHelpEvent*>(event);
        const QString text = TextAt(owner, help->pos());
        if (!text.isEmpty()) {
            QToolTip::showText(help->globalPos(), text, owner);
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
