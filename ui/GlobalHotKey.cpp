#include "ui/GlobalHotKey.h"

#include <xcb/xcb.h>

#include <QGuiApplication>
#include <cstdlib>

struct CGlobalHotKey::Impl {
    xcb_connection_t* pConnection = nullptr;
    xcb_window_t root = 0;
    xcb_keycode_t keycode = 0;
    bool bGrabbed = false;
};

namespace {
// Ctrl with each combination of the two lock modifiers, so that the key is not missed while
// Caps Lock or Num Lock (Mod2) is on.
constexpr uint16_t kModifiers[] = {
    XCB_MOD_MASK_CONTROL,
    XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_LOCK,
    XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_2,
    XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2,
};

xcb_keycode_t FindKeycode(xcb_connection_t* c, uint32_t keySym) {
    const xcb_setup_t* setup = xcb_get_setup(c);
    const int first = setup->min_keycode;
    const int count = setup->max_keycode - setup->min_keycode + 1;
    xcb_get_keyboard_mapping_reply_t* reply = xcb_get_keyboard_mapping_reply(
        c,
        xcb_get_keyboard_mapping(c, static_cast<xcb_keycode_t>(first), static_cast<uint8_t>(count)),
        nullptr);
    if (!reply) return 0;
    xcb_keycode_t found = 0;
    const xcb_keysym_t* syms = xcb_get_keyboard_mapping_keysyms(reply);
    const int perCode = reply->keysyms_per_keycode;
    for (int k = 0; k < count && !found; ++k) {
        for (int j = 0; j < perCode; ++j) {
            if (syms[k * perCode + j] == keySym) {
                found = static_cast<xcb_keycode_t>(first + k);
                break;
            }
        }
    }
    std::free(reply);
    return found;
}
}  // namespace

CGlobalHotKey::CGlobalHotKey(QObject* parent)
    : QObject(parent), m_pImpl(std::make_unique<Impl>()) {}

CGlobalHotKey::~CGlobalHotKey() { Unregister(); }

bool CGlobalHotKey::IsRegistered() const { return m_pImpl->bGrabbed; }

bool CGlobalHotKey::RegisterCtrlKey(char keySym) {
    Unregister();
    if (QGuiApplication::platformName() != QLatin1String("xcb")) {
        m_strFailure = QStringLiteral("no global hot keys on the '%1' platform")
                           .arg(QGuiApplication::platformName());
        return false;
    }
    auto* x11 = qApp ? qApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr;
    xcb_connection_t* c = x11 ? x11->connection() : nullptr;
    if (!c) {
        m_strFailure = QStringLiteral("no X11 connection");
        return false;
    }
    const xcb_screen_t* screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    const xcb_keycode_t keycode = FindKeycode(c, static_cast<unsigned char>(keySym));
    if (!screen || keycode == 0) {
        m_strFailure = QStringLiteral("the key is not on this keyboard");
        return false;
    }
    xcb_void_cookie_t cookies[std::size(kModifiers)];
    for (size_t i = 0; i < std::size(kModifiers); ++i) {
        cookies[i] = xcb_grab_key_checked(c, 1, screen->root, kModifiers[i], keycode,
                                          XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
    }
    bool ok = true;
    for (xcb_void_cookie_t cookie : cookies) {
        if (xcb_generic_error_t* error = xcb_request_check(c, cookie)) {
            // BadAccess (10): another client holds the key.
            if (ok) {
                m_strFailure = error->error_code == 10
                                   ? QStringLiteral("another program holds Ctrl+%1")
                                         .arg(QChar(keySym).toUpper())
                                   : QStringLiteral("X11 error %1").arg(error->error_code);
            }
            ok = false;
            std::free(error);
        }
    }
    m_pImpl->pConnection = c;
    m_pImpl->root = screen->root;
    m_pImpl->keycode = keycode;
    if (!ok) {
        for (uint16_t mods : kModifiers) xcb_ungrab_key(c, keycode, screen->root, mods);
        xcb_flush(c);
        return false;
    }
    m_pImpl->bGrabbed = true;
    m_strFailure.clear();
    QCoreApplication::instance()->installNativeEventFilter(this);
    return true;
}

void CGlobalHotKey::Unregister() {
    if (!m_pImpl->bGrabbed) return;
    if (QCoreApplication::instance()) QCoreApplication::instance()->removeNativeEventFilter(this);
    for (uint16_t mods : kModifiers)
        xcb_ungrab_key(m_pImpl->pConnection, m_pImpl->keycode, m_pImpl->root, mods);
    xcb_flush(m_pImpl->pConnection);
    m_pImpl->bGrabbed = false;
}

bool CGlobalHotKey::nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) {
    if (!m_pImpl->bGrabbed || eventType != "xcb_generic_event_t" || !message) return false;
    auto* event = static_cast<xcb_generic_event_t*>(message);
    if ((event->response_type & 0x7f) != XCB_KEY_PRESS) return false;
    auto* press = reinterpret_cast<xcb_key_press_event_t*>(event);
    if (press->detail != m_pImpl->keycode || !(press->state & XCB_MOD_MASK_CONTROL)) return false;
    emit Activated();
    return true;
}
