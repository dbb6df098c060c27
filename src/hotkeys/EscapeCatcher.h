#pragma once
// A system-wide Escape key for the length of a region selection or a countdown, so Escape
// cancels even while another program has the keyboard. Armed from construction until disarmed
// or destroyed; only the newest armed catcher is called.

#include "platform/GlobalKeyGrabber.h"

#include <functional>
#include <optional>

class EscapeCatcher final {
public:
    static constexpr quint32 signature = hotKeySignature("TVKE");

    EscapeCatcher(GlobalKeyGrabber &grabber, std::function<void()> onEscape);
    ~EscapeCatcher();
    EscapeCatcher(const EscapeCatcher &) = delete;
    EscapeCatcher &operator=(const EscapeCatcher &) = delete;

    // Releases the key; harmless when already disarmed.
    void disarm();
    bool isArmed() const { return m_handlerToken.has_value(); }

    // The catcher that an Escape press calls, if any.
    static EscapeCatcher *active();

private:
    GlobalKeyGrabber &m_grabber;
    std::function<void()> m_onEscape;
    GlobalKeyGrabber::Handle m_hotKeyRef = 0;
    std::optional<int> m_handlerToken;
};
