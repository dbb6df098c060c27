#pragma once
// Cameras through Qt Multimedia: QMediaDevices for the list, a QCamera in a
// QMediaCaptureSession with a QVideoSink for the pictures. Linux has no camera permission of
// its own: a camera the user may not open fails when it is opened.

#include "platform/Cameras.h"

class QtCameras final : public Cameras {
public:
    QCoro::Task<bool> requestAccess() override;
    QList<MediaDevice> devices() override;
    std::optional<MediaDevice> defaultDevice() override;
    std::unique_ptr<CameraFeed> open(const MediaDevice &device, FrameHandler onFrame, FailureHandler onFailure) override;
};
