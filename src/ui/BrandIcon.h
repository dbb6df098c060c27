#pragma once
// The three tray icons, drawn from their geometry at whatever size the tray asks for, so
// they stay crisp on 2x screens: idle (a play mark in an open ring), recording (white play
// mark on red), paused (white bars on orange).

#include <QColor>
#include <QIcon>
#include <QImage>

class QPainter;

namespace BrandIcon {
enum class State { idle, recording, paused };

// Lazily created and kept.
QIcon icon(State state);
// Draws the 18 x 18 design scaled into `target`; the idle icon uses `inkColor` (the panel's
// text colour, as the system would tint a template image).
void paint(QPainter &painter, const QRectF &target, State state, const QColor &inkColor);
QImage render(State state, int pixelSize, const QColor &inkColor = Qt::black);
} // namespace BrandIcon
