#pragma once
// The round live picture of the presenter's camera floating in a corner of the recorded area,
// mirrored like a mirror. It lets every click through and stays on top; the black circle
// appears at once and the picture follows once the camera runs. Any camera problem just
// removes the bubble (the recording goes on) and is logged. Main thread only.

#include "platform/Cameras.h"
#include "platform/Screens.h"

#include <QObject>
#include <QPointer>
#include <QRectF>
#include <memory>
#include <optional>
#include <qcorotask.h>

#include <QWidget>

class CameraBubble final : public QObject {
    Q_OBJECT
public:
    static constexpr qreal borderPoints = 3;

    CameraBubble(Screens &screens, Cameras &cameras, QObject *parent = nullptr);
    ~CameraBubble() override;

    // `sourceRect` in the display's points from its top-left (none: the whole display);
    // `corner` "tl", "tr", "br", anything else bottom-left; no device id: the default camera.
    // Nothing appears when no screen has the display id.
    void show(quint32 displayID, std::optional<QRectF> sourceRect, const QString &corner,
              std::optional<QString> deviceID);
    // Removes the bubble and stops the camera; harmless when nothing is shown.
    void hide();

    // The bubble's window while shown (it is the one window of ours meant to be recorded).
    QWidget *window() const { return m_window; }
    bool isLive() const { return m_feed != nullptr; }

    // The bubble's frame in global points: 0.22 of the area's shorter side across, 0.04 of it
    // in from the area's edges.
    static QRectF bubbleGeometry(const ScreenInfo &screen, const std::optional<QRectF> &sourceRect, const QString &corner);

private:
    QCoro::Task<> startCamera(quint64 generation, std::optional<QString> deviceID);
    void configure(const std::optional<QString> &deviceID);
    void fail(const QString &logLine);

    Screens &m_screens;
    Cameras &m_cameras;
    QPointer<QWidget> m_window;
    std::unique_ptr<CameraFeed> m_feed;
    quint64 m_generation = 0; // which show() an access answer belongs to
};
