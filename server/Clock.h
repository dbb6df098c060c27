#pragma once
// The service's notion of "now". Tests move it forward (through a test hook) to expire codes,
// tokens and upload addresses without waiting.

#include <QDateTime>
#include <atomic>

class Clock {
public:
    QDateTime now() const;
    qint64 nowMs() const;
    qint64 nowSeconds() const { return nowMs() / 1000; }
    void advance(qint64 seconds);

    // Milliseconds since 1970 as the ISO 8601 text used in replies, in UTC with milliseconds.
    static QString isoText(qint64 epochMs);

private:
    std::atomic<qint64> m_offsetMs{0};
};
