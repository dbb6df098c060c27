#include "server/Clock.h"

QDateTime Clock::now() const
{
    return QDateTime::fromMSecsSinceEpoch(nowMs(), Qt::UTC);
}

qint64 Clock::nowMs() const
{
    return QDateTime::currentMSecsSinceEpoch() + m_offsetMs.load();
}

void Clock::advance(qint64 seconds)
{
    m_offsetMs += seconds * 1000;
}

QString Clock::isoText(qint64 epochMs)
{
    return QDateTime::fromMSecsSinceEpoch(epochMs, Qt::UTC).toString(Qt::ISODateWithMs);
}
