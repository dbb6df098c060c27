#pragma once
// Screen capture on X11: displays are Qt's screens (ids as QtScreens gives them) with their
// native pixel geometry read from the RandR monitors; recordings go through FFmpeg's x11grab
// (MIT-SHM, cursor drawn), libx264 and fragmented MP4, with PulseAudio for sound.

#include "platform/ScreenCapture.h"

#include <QHash>
#include <QRect>

class X11ScreenCapture final : public ScreenCapture {
public:
    QCoro::Task<ShareableContent> shareableContent() override;
    QCoro::Task<QImage> captureImage(ShareableDisplay display, StillConfiguration configuration) override;
    std::unique_ptr<CaptureStream> makeStream(const ShareableDisplay &display, const StreamConfiguration &configuration,
                                              const QString &outputPath) override;

    // The RandR monitors of the X display: name → geometry in X pixels. Empty without RandR 1.5.
    static QHash<QString, QRect> monitorGeometries();
    // Where a display lies in X pixels, or an empty rectangle when it is not connected.
    static QRect nativeGeometry(quint32 displayID);
    // The X pixels a rectangle of the display's points covers, clipped to the display.
    static QRect pixelRect(const QRect &native, const ShareableDisplay &display, const std::optional<QRectF> &sourceRect);
};
