#pragma once
// An in-memory key grabber: combinations can be marked as held by another program, and a
// press is delivered the way the real grabber does (newest registration, handlers in order).

#include "platform/GlobalKeyGrabber.h"

#include <QList>
#include <QMap>
#include <QSet>
#include <utility>

class FakeKeyGrabber final : public GlobalKeyGrabber {
public:
    struct Live {
        quint32 keyCode;
        quint32 modifiers;
        HotKeyId id;
    };

    Registration registerHotKey(quint32 keyCode, quint32 modifiers, HotKeyId id) override
    {
        ++registerCalls;
        if (takenElsewhere.contains({keyCode, modifiers}))
            return {0, refusalStatus};
        const Handle handle = ++m_lastHandle;
        live.insert(handle, Live{keyCode, modifiers, id});
        return {handle, 0};
    }

    void unregisterHotKey(Handle handle) override { live.remove(handle); }

    int addPressHandler(PressHandler handler) override
    {
        m_handlers.append({++m_lastToken, std::move(handler)});
        return m_lastToken;
    }

    void removePressHandler(int token) override
    {
        m_handlers.removeIf([token](const auto &entry) { return entry.first == token; });
    }

    // A press of the combination; false when nothing of this program had it.
    bool press(quint32 keyCode, quint32 modifiers)
    {
        Handle newest = 0;
        for (auto it = live.constBegin(); it != live.constEnd(); ++it) {
            if (it->keyCode == keyCode && it->modifiers == modifiers)
                newest = std::max(newest, it.key());
        }
        if (newest == 0)
            return false;
        const HotKeyId id = live.value(newest).id;
        const auto handlers = m_handlers;
        for (const auto &[token, handler] : handlers) {
            if (handler(id))
                return true;
        }
        return false;
    }

    bool holds(quint32 keyCode, quint32 modifiers) const
    {
        for (const Live &registration : live) {
            if (registration.keyCode == keyCode && registration.modifiers == modifiers)
                return true;
        }
        return false;
    }

    int handlerCount() const { return int(m_handlers.size()); }

    QSet<std::pair<quint32, quint32>> takenElsewhere;
    int refusalStatus = 10;
    QMap<Handle, Live> live;
    int registerCalls = 0;

private:
    Handle m_lastHandle = 0;
    int m_lastToken = 0;
    QList<std::pair<int, PressHandler>> m_handlers;
};
