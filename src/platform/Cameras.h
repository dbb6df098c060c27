#pragma once
// The cameras for the live picture of the presenter: which there are, permission to use them,
// and a running feed that hands each picture over as an image.

#include "app/MediaDevice.h"

#include <QImage>
#include <QList>
#include <functional>
#include <memory>
#include <optional>
#include <qcorotask.h>

// One opened camera. Pictures and failures arrive on the main thread; destroying it stops it.
class CameraFeed {
public:
    virtual ~CameraFeed() = default;
    // Attaches the camera to a session and starts it; false when the session cannot take it.
    virtual bool start() = 0;
    virtual void stop() = 0;
};

class Cameras {
public:
    using FrameHandler = std::function<void(const QImage &frame)>;
    using FailureHandler = std::function<void(const QString &reason)>;

    virtual ~Cameras() = default;

    // Whether the program may use a camera; the desktop asks the user at most once.
    virtual QCoro::Task<bool> requestAccess() = 0;
    // In the system's order; id = the device node the camera is opened with.
    virtual QList<MediaDevice> devices() = 0;
    virtual std::optional<MediaDevice> defaultDevice() = 0;
    // An input for the camera, or nothing when it cannot be opened. `onFailure` reports a camera
    // that stops working after it started.
    virtual std::unique_ptr<CameraFeed> open(const MediaDevice &device, FrameHandler onFrame, FailureHandler onFailure) = 0;
};
