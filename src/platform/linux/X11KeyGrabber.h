#pragma once
// Global hotkeys on X11: passive key grabs on the root window through Qt's own X connection,
// so presses arrive in Qt's event stream. A BadAccess reply means another client holds the
// combination. Each combination is also grabbed with CapsLock and NumLock, which would
// otherwise make it a different combination.

#include "platform/GlobalKeyGrabber.h"

#include <QAbstractNativeEventFilter>
#include <QHash>
#include <QList>
#include <QMap>
#include <QSet>
#include <optional>

struct xcb_connection_t;
struct _XCBKeySymbols; // xcb_key_symbols_t

class X11KeyGrabber final : public GlobalKeyGrabber, private QAbstractNativeEventFilter {
public:
    // Status when the program has no X connection (another platform plugin, no display).
    static constexpr int noDisplay = -2;

    X11KeyGrabber();
    ~X11KeyGrabber() override;

    Registration registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyId id) override;
    void unregisterHotKey(Handle handle) override;
    int addPressHandler(PressHandler handler) override;
    void removePressHandler(int token) override;

    // The X keysym of a stored virtual key code, if it has one.
    static std::optional<quint32> keysymForKeyCode(quint32 keyCode);

private:
    struct Grab {
        quint8 keycode = 0;
        quint16 modifiers = 0; // X modifier mask, without the lock variants
        bool operator==(const Grab &) const = default;
    };
    friend size_t qHash(const Grab &grab, size_t seed) { return qHash(quint32(grab.keycode) << 16 | grab.modifiers, seed); }

    struct Live {
        Grab grab;
        HotKeyId id;
    };

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;
    void readModifierMapping();
    std::optional<quint8> keycodeFor(quint32 keysym) const;
    quint16 xModifiers(quint32 modifiers) const;
    QList<quint16> lockVariants() const;
    // 0 when taken, otherwise the X error code.
    int grabAllVariants(const Grab &grab);
    void ungrabAllVariants(const Grab &grab);
    void deliver(HotKeyId id);

    xcb_connection_t *m_connection = nullptr;
    quint32 m_root = 0;
    _XCBKeySymbols *m_symbols = nullptr;
    quint16 m_altMask = 0;
    quint16 m_superMask = 0;
    quint16 m_numLockMask = 0;

    Handle m_lastHandle = 0;
    QMap<Handle, Live> m_live;       // ordered: the newest registration is the last
    QHash<Grab, int> m_grabCounts;   // registrations sharing one X grab
    int m_lastToken = 0;
    QList<std::pair<int, PressHandler>> m_handlers;
    // Auto-repeat shows up as presses without a release, or as a release and a press with the
    // same time stamp.
    QSet<quint8> m_down;
    QHash<quint8, quint32> m_releaseTimes;
};
