#pragma once
// Holds a fake's coroutine at a point until the test opens the gate: how tests make a wait
// last while they do something else.

#include <QTimer>
#include <qcorosignal.h>
#include <qcorotask.h>

class Gate {
public:
    void close() { m_closed = true; }
    void open()
    {
        m_closed = false;
        m_opened.start(0);
    }
    bool isClosed() const { return m_closed; }
    int waiting() const { return m_waiting; }

    QCoro::Task<> pass()
    {
        ++m_waiting;
        while (m_closed) {
            m_opened.setSingleShot(true);
            co_await qCoro(&m_opened, &QTimer::timeout);
        }
        --m_waiting;
    }

private:
    bool m_closed = false;
    int m_waiting = 0;
    QTimer m_opened;
};
