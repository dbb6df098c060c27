#pragma once
// What the tray menu holds, as a function of the application state: one layout per phase
// (and one for a sign-in in progress). It keeps no state of its own.

#include "ui/MenuEntry.h"

class AppState;

namespace MenuContent {
QList<MenuEntry> build(AppState &app);
// The "Camera Bubble" picker's rows: title and stored value, in menu order.
const QList<std::pair<QString, QString>> &cameraCorners();
} // namespace MenuContent
