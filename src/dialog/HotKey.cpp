#include "dialog/HotKey.h"

#include <QAbstractNativeEventFilter>
#include <QByteArray>
#include <QCoreApplication>
#include <QGuiApplication>

#include <xcb/xcb.h>

#include <dlfcn.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

constexpr xcb_keysym_t KEYSYM_S = 0x0073;
constexpr xcb_keysym_t KEYSYM_NUM_LOCK = 0xff7f;
constexpr uint16_t HOT_KEY_MODIFIERS = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
// Modifiers that must match exactly; the lock modifiers are ignored.
constexpr uint16_t SIGNIFICANT_MODIFIERS =
    XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_1 | XCB_MOD_MASK_4;
constexpr uint8_t EVENT_TYPE_MASK = 0x7f;  // the top bit marks events sent by clients

// libxcb is already loaded by Qt's X11 platform plugin; its functions are looked up
// there, so the program itself needs no link to it.
struct XcbFunctions {
    decltype(&xcb_get_setup) getSetup = nullptr;
    decltype(&xcb_setup_roots_iterator) rootsIterator = nullptr;
    decltype(&xcb_get_keyboard_mapping) keyboardMapping = nullptr;
    decltype(&xcb_get_keyboard_mapping_reply) keyboardMappingReply = nullptr;
    decltype(&xcb_get_keyboard_mapping_keysyms) keyboardMappingKeysyms = nullptr;
    decltype(&xcb_get_modifier_mapping) modifierMapping = nullptr;
    decltype(&xcb_get_modifier_mapping_reply) modifierMappingReply = nullptr;
    decltype(&xcb_get_modifier_mapping_keycodes) modifierMappingKeycodes = nullptr;
    decltype(&xcb_grab_key_checked) grabKeyChecked = nullptr;
    decltype(&xcb_ungrab_key) ungrabKey = nullptr;
    decltype(&xcb_request_check) requestCheck = nullptr;
    decltype(&xcb_flush) flush = nullptr;

    bool Load() {
        void* library = ::dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
        if (!library) return false;
        auto load = [library](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(::dlsym(library, name));
            return function != nullptr;
        };
        return load(getSetup, "xcb_get_setup") && load(rootsIterator, "xcb_setup_roots_iterator") &&
               load(keyboardMapping, "xcb_get_keyboard_mapping") &&
               load(keyboardMappingReply, "xcb_get_keyboard_mapping_reply") &&
               load(keyboardMappingKeysyms, "xcb_get_keyboard_mapping_keysyms") &&
               load(modifierMapping, "xcb_get_modifier_mapping") &&
               load(modifierMappingReply, "xcb_get_modifier_mapping_reply") &&
               load(modifierMappingKeycodes, "xcb_get_modifier_mapping_keycodes") &&
               load(grabKeyChecked, "xcb_grab_key_checked") && load(ungrabKey, "xcb_ungrab_key") &&
               load(requestCheck, "xcb_request_check") && load(flush, "xcb_flush");
    }
};

// Every keycode that produces `keysym` in any column of the keyboard map.
std::vector<xcb_keycode_t> KeycodesOf(const XcbFunctions& xcb, xcb_connection_t* connection, xcb_keysym_t keysym) {
    std::vector<xcb_keycode_t> codes;
    const xcb_setup_t* setup = xcb.getSetup(connection);
    const int count = setup->max_keycode - setup->min_keycode + 1;
    auto cookie = xcb.keyboardMapping(connection, setup->min_keycode, static_cast<uint8_t>(count));
    std::unique_ptr<xcb_get_keyboard_mapping_reply_t, decltype(&std::free)> reply(
        xcb.keyboardMappingReply(connection, cookie, nullptr), &std::free);
    if (!reply) return codes;
    const xcb_keysym_t* keysyms = xcb.keyboardMappingKeysyms(reply.get());
    const int perCode = reply->keysyms_per_keycode;
    for (int code = 0; code < count; ++code)
        for (int column = 0; column < perCode; ++column)
            if (keysyms[code * perCode + column] == keysym) {
                codes.push_back(static_cast<xcb_keycode_t>(setup->min_keycode + code));
                break;
            }
    return codes;
}

// The modifier bit that NumLock sets; Mod2 on nearly every keyboard map.
uint16_t NumLockMask(const XcbFunctions& xcb, xcb_connection_t* connection) {
    const std::vector<xcb_keycode_t> numLock = KeycodesOf(xcb, connection, KEYSYM_NUM_LOCK);
    std::unique_ptr<xcb_get_modifier_mapping_reply_t, decltype(&std::free)> reply(
        xcb.modifierMappingReply(connection, xcb.modifierMapping(connection), nullptr), &std::free);
    if (reply && !numLock.empty()) {
        const xcb_keycode_t* codes = xcb.modifierMappingKeycodes(reply.get());
        const int perModifier = reply->keycodes_per_modifier;
        for (int modifier = 0; modifier < 8; ++modifier)
            for (int i = 0; i < perModifier; ++i)
                for (xcb_keycode_t code : numLock)
                    if (codes[modifier * perModifier + i] == code) return static_cast<uint16_t>(1u << modifier);
    }
    return XCB_MOD_MASK_2;
}

class CHotKeyFilter : public QAbstractNativeEventFilter {
public:
    CHotKeyFilter(xcb_window_t root, std::vector<xcb_keycode_t> keycodes)
        : m_root(root), m_keycodes(std::move(keycodes)) {}

    void SetCallback(std::function<void()> onPress) { m_onPress = std::move(onPress); }

    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override {
        if (eventType != "xcb_generic_event_t") return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        if ((event->response_type & EVENT_TYPE_MASK) != XCB_KEY_PRESS) return false;
        const auto* press = static_cast<const xcb_key_press_event_t*>(message);
        if (press->event != m_root || (press->state & SIGNIFICANT_MODIFIERS) != HOT_KEY_MODIFIERS) return false;
        for (xcb_keycode_t code : m_keycodes)
            if (press->detail == code) {
                if (m_onPress) m_onPress();
                return true;
            }
        return false;
    }

private:
    xcb_window_t m_root;
    std::vector<xcb_keycode_t> m_keycodes;
    std::function<void()> m_onPress;
};

CHotKeyFilter* theHotKeyFilter = nullptr;

}  // namespace

bool InstallHotKey(std::function<void()> onPress) {
    if (theHotKeyFilter) {
        theHotKeyFilter->SetCallback(std::move(onPress));
        return true;
    }
    if (QGuiApplication::platformName() != QLatin1String("xcb")) return false;
    auto* x11 = qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    xcb_connection_t* connection = x11 ? x11->connection() : nullptr;
    if (!connection) return false;
    static XcbFunctions xcb;
    static const bool loaded = xcb.Load();
    if (!loaded) return false;

    const xcb_window_t root = xcb.rootsIterator(xcb.getSetup(connection)).data->root;
    const std::vector<xcb_keycode_t> keycodes = KeycodesOf(xcb, connection, KEYSYM_S);
    if (keycodes.empty()) return false;
    const uint16_t numLock = NumLockMask(xcb, connection);
    const uint16_t lockStates[] = {0, XCB_MOD_MASK_LOCK, numLock, static_cast<uint16_t>(XCB_MOD_MASK_LOCK | numLock)};
    bool grabbed = true;
    for (xcb_keycode_t code : keycodes)
        for (uint16_t locks : lockStates) {
            auto cookie = xcb.grabKeyChecked(connection, 1, root, static_cast<uint16_t>(HOT_KEY_MODIFIERS | locks),
                                             code, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC);
            if (xcb_generic_error_t* error = xcb.requestCheck(connection, cookie)) {
                std::free(error);
                grabbed = false;
            }
        }
    if (!grabbed) {
        // Another client owns the key: leave none of our grabs behind.
        for (xcb_keycode_t code : keycodes)
            for (uint16_t locks : lockStates)
                xcb.ungrabKey(connection, code, root, static_cast<uint16_t>(HOT_KEY_MODIFIERS | locks));
        xcb.flush(connection);
        return false;
    }
    xcb.flush(connection);

    theHotKeyFilter = new CHotKeyFilter(root, keycodes);
    theHotKeyFilter->SetCallback(std::move(onPress));
    QCoreApplication::instance()->installNativeEventFilter(theHotKeyFilter);
    // The grab ends with the display connection, which ends with the application.
    QObject::connect(QCoreApplication::instance(), &QObject::destroyed, [] {
        delete theHotKeyFilter;
        theHotKeyFilter = nullptr;
    });
    return true;
}
