#include "capture/OverlayWindows.h"

#include <QWidget>

namespace OverlayWindows {

std::optional<ScreenInfo> findScreen(const Screens &screens, quint32 displayID)
{
    for (const ScreenInfo &screen : screens.screens()) {
        if (screen.displayID == displayID)
            return screen;
    }
    return std::nullopt;
}

QRectF toGlobal(const ScreenInfo &screen, const QRectF &rect)
{
    return rect.translated(screen.frame.topLeft());
}

void makeClickThrough(QWidget &window)
{
    window.setWindowFlags(Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint
                          | Qt::X11BypassWindowManagerHint | Qt::WindowDoesNotAcceptFocus
                          | Qt::WindowTransparentForInput | Qt::NoDropShadowWindowHint);
    window.setAttribute(Qt::WA_ShowWithoutActivating);
    window.setAttribute(Qt::WA_TranslucentBackground);
    window.setFocusPolicy(Qt::NoFocus);
}

} // namespace OverlayWindows
