#pragma once
// The real overlay windows behind CaptureOverlays.

#include "capture/CameraBubble.h"
#include "capture/CaptureOverlays.h"
#include "capture/CountdownOverlay.h"
#include "capture/RecordingBorder.h"
#include "capture/RegionSelector.h"

class Cameras;
class GlobalKeyGrabber;
class Screens;

class LiveCaptureOverlays final : public CaptureOverlays {
public:
    LiveCaptureOverlays(Screens &screens, GlobalKeyGrabber &keys, Cameras &cameras);

    QCoro::Task<std::optional<RegionSelection>> selectRegion() override;
    QCoro::Task<bool> countdown(quint32 displayID, std::optional<QRectF> sourceRect, int seconds, bool atCorner) override;
    void showBorder(quint32 displayID, const QRectF &sourceRect) override { m_border.show(displayID, sourceRect); }
    void hideBorder() override { m_border.hide(); }
    void showCameraBubble(quint32 displayID, std::optional<QRectF> sourceRect, const QString &corner,
                          std::optional<QString> deviceID) override
    {
        m_bubble.show(displayID, sourceRect, corner, deviceID);
    }
    void hideCameraBubble() override { m_bubble.hide(); }

    RegionSelector &selector() { return m_selector; }
    CountdownOverlay &countdownOverlay() { return m_countdown; }

private:
    RegionSelector m_selector;
    CountdownOverlay m_countdown;
    RecordingBorder m_border;
    CameraBubble m_bubble;
};
