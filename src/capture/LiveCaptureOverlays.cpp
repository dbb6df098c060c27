#include "capture/LiveCaptureOverlays.h"

LiveCaptureOverlays::LiveCaptureOverlays(Screens &screens, GlobalKeyGrabber &keys, Cameras &cameras)
    : m_selector(screens, keys)
    , m_countdown(screens, keys)
    , m_border(screens)
    , m_bubble(screens, cameras)
{
}

QCoro::Task<std::optional<RegionSelection>> LiveCaptureOverlays::selectRegion()
{
    co_return co_await m_selector.selectRegion();
}

QCoro::Task<bool> LiveCaptureOverlays::countdown(quint32 displayID, std::optional<QRectF> sourceRect, int seconds,
                                                 bool atCorner)
{
    co_return co_await m_countdown.run(displayID, sourceRect, seconds, atCorner);
}
