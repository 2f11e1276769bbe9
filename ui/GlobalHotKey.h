// A hot key that works while another application has the focus: a passive key grab on the X11
// root window, delivered through Qt's native event filter. Where no global grab is possible
// (Wayland, offscreen, another client holding the key) Register fails with a reason, and the
// caller falls back to a shortcut inside its window. xcb stays inside the .cpp.
// User-interface thread.
#pragma once

#include <QAbstractNativeEventFilter>
#include <QObject>
#include <QString>
#include <memory>

class CGlobalHotKey : public QObject, public QAbstractNativeEventFilter {
    Q_OBJECT

public:
    explicit CGlobalHotKey(QObject* parent = nullptr);
    ~CGlobalHotKey() override;

    // Grabs Ctrl plus the key with that Latin-1 key symbol ('s' for Ctrl+S), with and without
    // Caps Lock and Num Lock. False, with GetFailure() telling why, when it cannot.
    bool RegisterCtrlKey(char keySym);
    void Unregister();
    bool IsRegistered() const;
    QString GetFailure() const { return m_strFailure; }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr* result) override;

signals:
    void Activated();

private:
    struct Impl;
    std::unique_ptr<Impl> m_pImpl;
    QString m_strFailure;
};
