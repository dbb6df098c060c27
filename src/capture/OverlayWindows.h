#pragma once
// What the capture overlays share: finding a display's screen, turning a rectangle in a
// display's points into global points, and the window flags of a frameless, always-on-top
// window that never takes a click or the keyboard.

#include "platform/Screens.h"

#include <QRectF>
#include <optional>

class QWidget;

namespace OverlayWindows {

// The first screen with this id; a screen without an id answers to 0.
std::optional<ScreenInfo> findScreen(const Screens &screens, quint32 displayID);

// A rectangle measured from the display's top-left corner, in global points.
QRectF toGlobal(const ScreenInfo &screen, const QRectF &rect);

// Frameless, on top of everything (also of panels: the window manager is bypassed), without
// focus, clicks going to what lies below.
void makeClickThrough(QWidget &window);

} // namespace OverlayWindows
