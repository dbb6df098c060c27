#include "platform/linux/QtScreens.h"

#include <QGuiApplication>
#include <QScreen>
#include <QWindow>

quint32 QtScreens::displayIdForOutput(const QString &outputName)
{
    quint32 hash = 2166136261u;
    for (const char byte : outputName.toUtf8()) {
        hash ^= quint8(byte);
        hash *= 16777619u;
    }
    return hash == 0 ? 1 : hash;
}

ScreenInfo QtScreens::describe(const QScreen &screen)
{
    ScreenInfo info;
    info.displayID = displayIdForOutput(screen.name());
    const QString model = (screen.manufacturer() + QLatin1Char(' ') + screen.model()).trimmed();
    info.name = model.isEmpty() ? screen.name() : model;
    info.frame = screen.geometry();
    info.visibleArea = screen.availableGeometry();
    info.scale = screen.devicePixelRatio();
    return info;
}

QList<ScreenInfo> QtScreens::screens() const
{
    QList<ScreenInfo> result;
    for (const QScreen *screen : QGuiApplication::screens())
        result.append(describe(*screen));
    return result;
}

ScreenInfo QtScreens::primaryScreen() const
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    return screen ? describe(*screen) : ScreenInfo{};
}

std::optional<ScreenInfo> QtScreens::keyWindowScreen() const
{
    const QWindow *window = QGuiApplication::focusWindow();
    if (!window || !window->screen())
        return std::nullopt;
    return describe(*window->screen());
}
