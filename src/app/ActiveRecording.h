#pragma once
// The recording in progress.

#include <QList>
#include <QRectF>
#include <QString>
#include <optional>

struct ActiveRecording {
    quint32 displayID = 0;
    std::optional<QRectF> sourceRect; // absent: the whole display
    QList<QString> segments;          // finished segment files, in recording order
    bool asGif = false;
    bool operator==(const ActiveRecording &) const = default;
};
