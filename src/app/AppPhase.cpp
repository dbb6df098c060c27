#include "app/AppPhase.h"

QString AppPhase::caseName(Kind kind)
{
    switch (kind) {
    case Kind::idle: return QStringLiteral("idle");
    case Kind::selectingRegion: return QStringLiteral("selectingRegion");
    case Kind::recording: return QStringLiteral("recording");
    case Kind::processing: return QStringLiteral("processing");
    case Kind::uploading: return QStringLiteral("uploading");
    }
    return {};
}

QString AppPhase::description() const
{
    switch (kind) {
    case Kind::recording:
        return QStringLiteral("recording(started: %1)").arg(started.toUTC().toString(Qt::ISODate));
    case Kind::uploading:
        return QStringLiteral("uploading(percent: %1)").arg(percent);
    default:
        return caseName(kind);
    }
}
