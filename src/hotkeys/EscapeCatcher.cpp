#include "hotkeys/EscapeCatcher.h"

#include "hotkeys/HotKeyCombo.h"

#include <QCoreApplication>

namespace {
EscapeCatcher *activeCatcher = nullptr;
}

EscapeCatcher::EscapeCatcher(GlobalKeyGrabber &grabber, std::function<void()> onEscape)
    : m_grabber(grabber)
    , m_onEscape(std::move(onEscape))
{
    m_handlerToken = m_grabber.addPressHandler([](HotKeyId pressed) {
        if (pressed.signature != signature)
            return false;
        // Whoever is active when the event loop gets to it is called, so a catcher disarmed
        // meanwhile never is.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [] {
                if (activeCatcher) {
                    const auto callback = activeCatcher->m_onEscape;
                    if (callback)
                        callback();
                }
            },
            Qt::QueuedConnection);
        return true;
    });
    activeCatcher = this;
    // If another program holds plain Escape, this catcher simply never fires.
    m_hotKeyRef = m_grabber.registerHotKey(HotKeyCombo::escapeKeyCode, 0, HotKeyId{signature, 1}).handle;
}

EscapeCatcher::~EscapeCatcher()
{
    disarm();
}

void EscapeCatcher::disarm()
{
    if (m_hotKeyRef != 0) {
        m_grabber.unregisterHotKey(m_hotKeyRef);
        m_hotKeyRef = 0;
    }
    if (m_handlerToken) {
        m_grabber.removePressHandler(*m_handlerToken);
        m_handlerToken.reset();
    }
    if (activeCatcher == this)
        activeCatcher = nullptr;
}

EscapeCatcher *EscapeCatcher::active()
{
    return activeCatcher;
}
