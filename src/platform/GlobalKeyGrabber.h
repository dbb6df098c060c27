#pragma once
// System-wide hotkeys: a key with modifiers that reaches this program whichever window has the
// keyboard. Keys use the stored virtual key numbering and modifier mask of HotKeyCombo; the
// implementation maps them to the desktop's own keys.

#include <QtGlobal>
#include <functional>

// Who a registration belongs to: a four-character signature and a number within it.
struct HotKeyId {
    quint32 signature = 0;
    quint32 id = 0;
    bool operator==(const HotKeyId &) const = default;
};

// Four characters packed big-endian, so 'TVKH' reads as written.
constexpr quint32 hotKeySignature(const char (&text)[5])
{
    return (quint32(quint8(text[0])) << 24) | (quint32(quint8(text[1])) << 16) | (quint32(quint8(text[2])) << 8)
        | quint32(quint8(text[3]));
}

class GlobalKeyGrabber {
public:
    using Handle = quint64;
    // Handlers are asked in the order they were added; one answers true when the press was its
    // own, which ends the search.
    using PressHandler = std::function<bool(HotKeyId pressed)>;

    struct Registration {
        Handle handle = 0; // 0: refused
        int status = 0;    // 0 on success, otherwise the system's reason for refusing
    };

    // Status of a key this keyboard cannot type.
    static constexpr int noSuchKey = -1;

    virtual ~GlobalKeyGrabber() = default;

    // Takes the combination for this program. Another program already holding it is a refusal.
    // Registering the same combination twice in this program keeps one system grab; a press then
    // carries the id of the newest live registration.
    virtual Registration registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyId id) = 0;
    virtual void unregisterHotKey(Handle handle) = 0;

    // Presses are delivered on the main thread, while the event is being answered.
    virtual int addPressHandler(PressHandler handler) = 0;
    virtual void removePressHandler(int token) = 0;
};
