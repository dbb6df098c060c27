#pragma once
// What the last non-GIF recording captured, so that it can be recorded again. Stored as
// {"displayID": 69733248, "rect": [[x, y], [width, height]]}; no "rect" means the whole display.

#include <QByteArray>
#include <QRectF>
#include <optional>

struct LastSelection {
    quint32 displayID = 0;
    std::optional<QRectF> rect; // in the display's points, origin top-left

    bool operator==(const LastSelection &) const = default;

    QByteArray toJson() const;
    // Nothing when the data is not a valid stored selection.
    static std::optional<LastSelection> fromJson(const QByteArray &json);
};
