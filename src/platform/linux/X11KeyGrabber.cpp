#include "platform/linux/X11KeyGrabber.h"

#include "hotkeys/HotKeyCombo.h"
#include "support/FileLog.h"

#include <QGuiApplication>
#include <xcb/xcb.h>
#include <xcb/xcb_keysyms.h>

#include <cstdlib>
#include <memory>

namespace {

struct FreeDeleter {
    void operator()(void *pointer) const { std::free(pointer); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, FreeDeleter>;

// Stored virtual key codes and the X keysyms (unshifted, as on a US layout) they stand for.
constexpr std::pair<quint32, quint32> keysymTable[] = {
    {0, 'a'},  {11, 'b'}, {8, 'c'},  {2, 'd'},  {14, 'e'}, {3, 'f'},  {5, 'g'},  {4, 'h'},  {34, 'i'},
    {38, 'j'}, {40, 'k'}, {37, 'l'}, {46, 'm'}, {45, 'n'}, {31, 'o'}, {35, 'p'}, {12, 'q'}, {15, 'r'},
    {1, 's'},  {17, 't'}, {32, 'u'}, {9, 'v'},  {13, 'w'}, {7, 'x'},  {16, 'y'}, {6, 'z'},
    {29, '0'}, {18, '1'}, {19, '2'}, {20, '3'}, {21, '4'}, {23, '5'}, {22, '6'}, {26, '7'}, {28, '8'}, {25, '9'},
    {27, '-'}, {24, '='}, {33, '['}, {30, ']'}, {41, ';'}, {39, '\''}, {43, ','}, {47, '.'}, {44, '/'},
    {50, '`'}, {42, '\\'}, {49, ' '},
    {36, 0xff0d},  // Return
    {48, 0xff09},  // Tab
    {51, 0xff08},  // BackSpace
    {53, 0xff1b},  // Escape
    {117, 0xffff}, // Delete
    {115, 0xff50}, // Home
    {119, 0xff57}, // End
    {116, 0xff55}, // Prior
    {121, 0xff56}, // Next
    {123, 0xff51}, {124, 0xff53}, {125, 0xff54}, {126, 0xff52}, // Left, Right, Down, Up
    {122, 0xffbe}, {120, 0xffbf}, {99, 0xffc0},  {118, 0xffc1}, {96, 0xffc2},  {97, 0xffc3}, // F1–F6
    {98, 0xffc4},  {100, 0xffc5}, {101, 0xffc6}, {109, 0xffc7}, {103, 0xffc8}, {111, 0xffc9}, // F7–F12
};

constexpr quint32 altKeysym = 0xffe9;     // Alt_L
constexpr quint32 metaKeysym = 0xffe7;    // Meta_L, which some maps put on Alt
constexpr quint32 superKeysym = 0xffeb;   // Super_L
constexpr quint32 numLockKeysym = 0xff7f; // Num_Lock

constexpr quint16 relevantModifiers = XCB_MOD_MASK_SHIFT | XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1 | XCB_MOD_MASK_2
    | XCB_MOD_MASK_3 | XCB_MOD_MASK_4 | XCB_MOD_MASK_5;

} // namespace

std::optional<quint32> X11KeyGrabber::keysymForKeyCode(quint32 keyCode)
{
    for (const auto &[code, keysym] : keysymTable) {
        if (code == keyCode)
            return keysym;
    }
    return std::nullopt;
}

X11KeyGrabber::X11KeyGrabber()
{
    if (auto *x11 = qGuiApp ? qGuiApp->nativeInterface<QNativeInterface::QX11Application>() : nullptr)
        m_connection = x11->connection();
    if (!m_connection || xcb_connection_has_error(m_connection)) {
        m_connection = nullptr;
        FileLog::write(QStringLiteral("hotkeys: no X11 display, global hotkeys are off"));
        return;
    }
    m_root = xcb_setup_roots_iterator(xcb_get_setup(m_connection)).data->root;
    m_symbols = xcb_key_symbols_alloc(m_connection);
    readModifierMapping();
    QCoreApplication::instance()->installNativeEventFilter(this);
}

X11KeyGrabber::~X11KeyGrabber()
{
    if (!m_connection)
        return;
    if (QCoreApplication::instance())
        QCoreApplication::instance()->removeNativeEventFilter(this);
    for (auto it = m_grabCounts.constBegin(); it != m_grabCounts.constEnd(); ++it)
        ungrabAllVariants(it.key());
    xcb_flush(m_connection);
    xcb_key_symbols_free(m_symbols);
}

void X11KeyGrabber::readModifierMapping()
{
    m_altMask = XCB_MOD_MASK_1;
    m_superMask = XCB_MOD_MASK_4;
    m_numLockMask = XCB_MOD_MASK_2;
    XcbReply<xcb_get_modifier_mapping_reply_t> mapping(
        xcb_get_modifier_mapping_reply(m_connection, xcb_get_modifier_mapping(m_connection), nullptr));
    if (!mapping)
        return;
    const xcb_keycode_t *keycodes = xcb_get_modifier_mapping_keycodes(mapping.get());
    const int perModifier = mapping->keycodes_per_modifier;
    // Which of the eight modifier bits a keysym's key sets, if any.
    const auto maskOf = [&](quint32 keysym) -> std::optional<quint16> {
        const auto keycode = keycodeFor(keysym);
        if (!keycode)
            return std::nullopt;
        for (int modifier = 0; modifier < 8; ++modifier) {
            for (int i = 0; i < perModifier; ++i) {
                if (keycodes[modifier * perModifier + i] == *keycode)
                    return quint16(1u << modifier);
            }
        }
        return std::nullopt;
    };
    m_altMask = maskOf(altKeysym).value_or(maskOf(metaKeysym).value_or(m_altMask));
    m_superMask = maskOf(superKeysym).value_or(m_superMask);
    m_numLockMask = maskOf(numLockKeysym).value_or(m_numLockMask);
}

std::optional<quint8> X11KeyGrabber::keycodeFor(quint32 keysym) const
{
    std::unique_ptr<xcb_keycode_t, FreeDeleter> keycodes(xcb_key_symbols_get_keycode(m_symbols, keysym));
    if (!keycodes || keycodes.get()[0] == XCB_NO_SYMBOL)
        return std::nullopt;
    return keycodes.get()[0];
}

quint16 X11KeyGrabber::xModifiers(quint32 modifiers) const
{
    quint16 mask = 0;
    if (modifiers & HotKeyCombo::shift)
        mask |= XCB_MOD_MASK_SHIFT;
    if (modifiers & HotKeyCombo::control)
        mask |= XCB_MOD_MASK_CONTROL;
    if (modifiers & HotKeyCombo::option)
        mask |= m_altMask;
    if (modifiers & HotKeyCombo::command)
        mask |= m_superMask;
    return mask;
}

QList<quint16> X11KeyGrabber::lockVariants() const
{
    return {0, XCB_MOD_MASK_LOCK, m_numLockMask, quint16(XCB_MOD_MASK_LOCK | m_numLockMask)};
}

int X11KeyGrabber::grabAllVariants(const Grab &grab)
{
    const QList<quint16> variants = lockVariants();
    QList<xcb_void_cookie_t> cookies;
    for (const quint16 variant : variants) {
        cookies.append(xcb_grab_key_checked(m_connection, 0, m_root, grab.modifiers | variant, grab.keycode,
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
    }
    int status = 0;
    QList<quint16> taken;
    for (int i = 0; i < cookies.size(); ++i) {
        XcbReply<xcb_generic_error_t> error(xcb_request_check(m_connection, cookies[i]));
        if (error)
            status = error->error_code;
        else
            taken.append(variants[i]);
    }
    if (status != 0) {
        // Half a grab would fire only with some lock keys on: give it all back.
        for (const quint16 variant : std::as_const(taken))
            xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | variant);
        xcb_flush(m_connection);
    }
    return status;
}

void X11KeyGrabber::ungrabAllVariants(const Grab &grab)
{
    for (const quint16 variant : lockVariants())
        xcb_ungrab_key(m_connection, grab.keycode, m_root, grab.modifiers | variant);
}

GlobalKeyGrabber::Registration X11KeyGrabber::registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyId id)
{
    if (!m_connection)
        return {0, noDisplay};
    const auto keysym = keysymForKeyCode(keyCode);
    const auto keycode = keysym ? keycodeFor(*keysym) : std::nullopt;
    if (!keycode)
        return {0, noSuchKey};
    const Grab grab{*keycode, xModifiers(modifiers)};
    if (m_grabCounts.value(grab) == 0) {
        const int status = grabAllVariants(grab);
        if (status != 0)
            return {0, status};
    }
    ++m_grabCounts[grab];
    const Handle handle = ++m_lastHandle;
    m_live.insert(handle, Live{grab, id});
    return {handle, 0};
}

void X11KeyGrabber::unregisterHotKey(Handle handle)
{
    const auto it = m_live.find(handle);
    if (it == m_live.end())
        return;
    const Grab grab = it->grab;
    m_live.erase(it);
    if (--m_grabCounts[grab] > 0)
        return;
    m_grabCounts.remove(grab);
    // Its release would no longer reach us.
    m_down.remove(grab.keycode);
    ungrabAllVariants(grab);
    xcb_flush(m_connection);
}

int X11KeyGrabber::addPressHandler(PressHandler handler)
{
    m_handlers.append({++m_lastToken, std::move(handler)});
    return m_lastToken;
}

void X11KeyGrabber::removePressHandler(int token)
{
    m_handlers.removeIf([token](const auto &entry) { return entry.first == token; });
}

void X11KeyGrabber::deliver(HotKeyId id)
{
    // A handler may add or remove handlers while it runs.
    const auto handlers = m_handlers;
    for (const auto &[token, handler] : handlers) {
        if (handler(id))
            return;
    }
}

bool X11KeyGrabber::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType != "xcb_generic_event_t")
        return false;
    auto *event = static_cast<xcb_generic_event_t *>(message);
    const quint8 type = event->response_type & ~0x80;
    if (type == XCB_MAPPING_NOTIFY) {
        xcb_refresh_keyboard_mapping(m_symbols, reinterpret_cast<xcb_mapping_notify_event_t *>(event));
        readModifierMapping();
        return false;
    }
    if (type != XCB_KEY_PRESS && type != XCB_KEY_RELEASE)
        return false;
    auto *key = reinterpret_cast<xcb_key_press_event_t *>(event);
    if (key->event != m_root)
        return false;
    if (type == XCB_KEY_RELEASE) {
        // The modifiers may have been let go first, so a release is known by its key alone.
        if (!m_down.remove(key->detail))
            return false;
        m_releaseTimes.insert(key->detail, key->time);
        return true;
    }
    const Grab pressed{key->detail, quint16(key->state & relevantModifiers & ~m_numLockMask)};
    if (!m_grabCounts.contains(pressed))
        return false;
    // Holding the keys down fires once.
    const bool repeat = m_down.contains(key->detail) || (key->time != 0 && m_releaseTimes.value(key->detail) == key->time);
    m_down.insert(key->detail);
    if (repeat)
        return true;
    std::optional<HotKeyId> newest;
    for (const Live &live : std::as_const(m_live)) {
        if (live.grab == pressed)
            newest = live.id;
    }
    if (newest)
        deliver(*newest);
    return true;
}
