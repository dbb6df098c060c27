#pragma once
// Screens from Qt's view of the X server's monitors.

#include "platform/Screens.h"

class QScreen;

class QtScreens final : public Screens {
public:
    QList<ScreenInfo> screens() const override;
    ScreenInfo primaryScreen() const override;
    std::optional<ScreenInfo> keyWindowScreen() const override;

    static ScreenInfo describe(const QScreen &screen);
    // FNV-1a of the output name: stable across runs, never 0 (0 means "unknown screen").
    static quint32 displayIdForOutput(const QString &outputName);
};
