#pragma once
// A rectangle the user chose: the display it lies on and the rectangle in that display's
// points, measured from the display's top-left corner.

#include <QRectF>
#include <QtGlobal>

struct RegionSelection {
    quint32 displayID = 0;
    QRectF rect;

    bool operator==(const RegionSelection &) const = default;
};
