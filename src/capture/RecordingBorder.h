#pragma once
// The thin blue ring drawn just outside the rectangle being recorded, so the user sees what is
// recorded without the ring ever being in the recording. Main thread only.

#include "platform/Screens.h"

#include <QRectF>
#include <memory>

class QWidget;

class RecordingBorder final {
public:
    static constexpr int outsetPoints = 3;
    static constexpr qreal ringPoints = 2.5;

    explicit RecordingBorder(Screens &screens);
    ~RecordingBorder();

    // Replaces any border shown; nothing appears when no screen has the display id.
    void show(quint32 displayID, const QRectF &sourceRect);
    void hide();
    // The ring's window while shown.
    QWidget *window() const { return m_window.get(); }

    // The window's frame in global points: the rectangle grown by 3 points on every side.
    static QRect windowGeometry(const ScreenInfo &screen, const QRectF &sourceRect);

private:
    Screens &m_screens;
    std::unique_ptr<QWidget> m_window;
};
