#pragma once
// The connected screens as the program sees them: ids, frames in points and scale.

#include <QList>
#include <QRect>
#include <QString>
#include <optional>

struct ScreenInfo {
    quint32 displayID = 0;   // stable per output across runs; 0 means "unknown screen"
    QString name;            // the name shown to people
    QRect frame;             // global, in points (device-independent pixels), top-left origin
    QRect visibleArea;       // frame minus panels and docks
    qreal scale = 1.0;       // device pixels per point
    bool online = true;

    bool operator==(const ScreenInfo &) const = default;
};

class Screens {
public:
    virtual ~Screens() = default;
    // In the system's screen order; the primary screen is not necessarily first.
    virtual QList<ScreenInfo> screens() const = 0;
    virtual ScreenInfo primaryScreen() const = 0;
    // The screen holding the window that has the keyboard, if one of ours has it.
    virtual std::optional<ScreenInfo> keyWindowScreen() const = 0;
};
