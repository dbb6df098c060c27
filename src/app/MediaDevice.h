#pragma once
// A capture device offered for choice; `id` is its identity in lists.

#include <QString>

struct MediaDevice {
    QString id;
    QString name;
    bool operator==(const MediaDevice &) const = default;
};
