#pragma once
// The windows a recording shows around itself: the region selection, the countdown, the ring
// around the recorded rectangle and the camera bubble. Recording control talks to them only
// through this, so that its logic runs without a desktop. Main thread only.

#include "capture/RegionSelection.h"

#include <QRectF>
#include <QString>
#include <optional>
#include <qcorotask.h>

class CaptureOverlays {
public:
    virtual ~CaptureOverlays() = default;

    // The rectangle the user dragged, or nothing when they cancelled.
    virtual QCoro::Task<std::optional<RegionSelection>> selectRegion() = 0;
    // True when the countdown ran out, false when the user cancelled it.
    virtual QCoro::Task<bool> countdown(quint32 displayID, std::optional<QRectF> sourceRect, int seconds, bool atCorner) = 0;

    virtual void showBorder(quint32 displayID, const QRectF &sourceRect) = 0;
    virtual void hideBorder() = 0;

    // `corner` is the camera corner setting; no device id: the default camera.
    virtual void showCameraBubble(quint32 displayID, std::optional<QRectF> sourceRect, const QString &corner,
                                  std::optional<QString> deviceID) = 0;
    virtual void hideCameraBubble() = 0;
};
