#include "platform/linux/X11ScreenCapture.h"

#include "platform/linux/FfmpegScreenRecording.h"
#include "platform/linux/QtScreens.h"
#include "support/FileLog.h"
#include "support/L10n.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QPainter>
#include <QScreen>
#include <QtConcurrent/QtConcurrent>
#include <cmath>
#include <qcorofuture.h>

#include <xcb/randr.h>
#include <xcb/xcb.h>
#include <xcb/xfixes.h>

namespace {

PlatformError refused(const QString &reason)
{
    return PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::captureRefused,
                         L10n::text(QStringLiteral("The screen could not be captured: {reason}"), {{QStringLiteral("reason"), reason}}));
}

QByteArray xDisplayName()
{
    return qgetenv("DISPLAY");
}

// An X connection that is closed when it goes out of scope.
struct Connection {
    xcb_connection_t *connection = nullptr;
    xcb_screen_t *screen = nullptr;
    Connection()
    {
        int screenNumber = 0;
        connection = xcb_connect(nullptr, &screenNumber);
        if (xcb_connection_has_error(connection))
            return;
        xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection));
        for (int i = 0; it.rem && i < screenNumber; ++i)
            xcb_screen_next(&it);
        screen = it.rem ? it.data : nullptr;
    }
    ~Connection() { xcb_disconnect(connection); }
    Connection(const Connection &) = delete;
    Connection &operator=(const Connection &) = delete;
    bool ok() const { return screen && !xcb_connection_has_error(connection); }
};

template <typename Reply>
struct ReplyPtr {
    Reply *reply;
    ~ReplyPtr() { free(reply); }
    Reply *operator->() const { return reply; }
    explicit operator bool() const { return reply != nullptr; }
};

QString atomName(xcb_connection_t *connection, xcb_atom_t atom)
{
    ReplyPtr<xcb_get_atom_name_reply_t> name{xcb_get_atom_name_reply(connection, xcb_get_atom_name(connection, atom), nullptr)};
    if (!name)
        return {};
    return QString::fromUtf8(xcb_get_atom_name_name(name.reply), xcb_get_atom_name_name_length(name.reply));
}

const QScreen *screenFor(quint32 displayID)
{
    for (const QScreen *screen : QGuiApplication::screens()) {
        if (QtScreens::displayIdForOutput(screen->name()) == displayID)
            return screen;
    }
    return nullptr;
}

struct StillResult {
    QImage image;
    std::optional<PlatformError> error;
};

StillResult grabStill(QRect pixels, QSize output, bool showsCursor)
{
    Connection x;
    if (!x.ok())
        return {{}, refused(QStringLiteral("cannot connect to the X display"))};
    xcb_generic_error_t *error = nullptr;
    ReplyPtr<xcb_get_image_reply_t> reply{xcb_get_image_reply(
        x.connection,
        xcb_get_image(x.connection, XCB_IMAGE_FORMAT_Z_PIXMAP, x.screen->root, int16_t(pixels.x()), int16_t(pixels.y()),
                      uint16_t(pixels.width()), uint16_t(pixels.height()), ~0u),
        &error)};
    if (!reply) {
        const int code = error ? error->error_code : 0;
        free(error);
        return {{}, refused(QStringLiteral("the X server refused the picture (error %1)").arg(code))};
    }
    if (reply->depth < 24)
        return {{}, refused(QStringLiteral("unsupported colour depth %1").arg(reply->depth))};
    const uint8_t *data = xcb_get_image_data(reply.reply);
    const int length = xcb_get_image_data_length(reply.reply);
    const int stride = pixels.height() > 0 ? length / pixels.height() : 0;
    QImage image = QImage(data, pixels.width(), pixels.height(), stride, QImage::Format_RGB32).copy();

    if (showsCursor) {
        xcb_xfixes_query_version_reply_t *version =
            xcb_xfixes_query_version_reply(x.connection, xcb_xfixes_query_version(x.connection, 4, 0), nullptr);
        free(version);
        ReplyPtr<xcb_xfixes_get_cursor_image_reply_t> cursor{
            xcb_xfixes_get_cursor_image_reply(x.connection, xcb_xfixes_get_cursor_image(x.connection), nullptr)};
        if (cursor) {
            const QImage shape(reinterpret_cast<const uchar *>(xcb_xfixes_get_cursor_image_cursor_image(cursor.reply)),
                               cursor->width, cursor->height, QImage::Format_ARGB32_Premultiplied);
            QPainter painter(&image);
            painter.drawImage(QPoint(cursor->x - cursor->xhot - pixels.x(), cursor->y - cursor->yhot - pixels.y()), shape);
        }
    }
    if (image.size() != output && output.isValid())
        image = image.scaled(output, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    return {image, std::nullopt};
}

// Hands the worker's reports to the main thread, as long as the stream still exists.
struct Relay {
    class X11CaptureStream *stream = nullptr;
};

class X11CaptureStream final : public CaptureStream {
public:
    X11CaptureStream(RecordingSettings settings, quint32 displayID)
        : m_settings(std::move(settings))
        , m_displayID(displayID)
        , m_relay(std::make_shared<Relay>(Relay{this}))
    {
    }

    ~X11CaptureStream() override
    {
        m_relay->stream = nullptr;
        // m_recording lets its file close in the background.
    }

    QCoro::Task<> startCapture() override
    {
        const std::weak_ptr<Relay> relay = m_relay;
        const auto post = [relay](std::function<void(X11CaptureStream &)> report) {
            QMetaObject::invokeMethod(
                QCoreApplication::instance(),
                [relay, report] {
                    if (const auto alive = relay.lock(); alive && alive->stream)
                        report(*alive->stream);
                },
                Qt::QueuedConnection);
        };
        FfmpegScreenRecording::Events events;
        events.finished = [post] { post([](X11CaptureStream &stream) { emit stream.finished(); }); };
        events.failed = [post](const PlatformError &error) {
            post([error](X11CaptureStream &stream) { emit stream.failed(error); });
        };
        events.stoppedOnItsOwn = [post](const std::optional<PlatformError> &error) {
            post([error](X11CaptureStream &stream) { emit stream.stoppedOnItsOwn(error); });
        };

        struct Started {
            std::shared_ptr<FfmpegScreenRecording> recording;
            std::optional<PlatformError> error;
        };
        const RecordingSettings settings = m_settings;
        // Started in a statement of its own: GCC 12 mishandles captures of a lambda inside co_await.
        QFuture<Started> opening = QtConcurrent::run([settings, events]() -> Started {
            try {
                return {FfmpegScreenRecording::start(settings, events), std::nullopt};
            } catch (const PlatformError &error) {
                return {nullptr, error};
            }
        });
        const Started started = co_await opening;
        if (started.error)
            throw *started.error;
        m_recording = started.recording;
        FileLog::write(QStringLiteral("recorder: capturing %1x%2 at %3,%4 into %5x%6")
                           .arg(m_settings.grab.width())
                           .arg(m_settings.grab.height())
                           .arg(m_settings.grab.x())
                           .arg(m_settings.grab.y())
                           .arg(m_settings.output.width())
                           .arg(m_settings.output.height()));
        // A monitor that is unplugged leaves the X server running: watch for it ourselves.
        connect(qGuiApp, &QGuiApplication::screenRemoved, this, [this](QScreen *screen) {
            if (m_recording && QtScreens::displayIdForOutput(screen->name()) == m_displayID)
                m_recording->endOnItsOwn(PlatformError(ScreenCaptureErrors::domain(), ScreenCaptureErrors::displayGone,
                                                       L10n::tr(QStringLiteral("The recorded display went away."))));
        });
    }

    QCoro::Task<> stopCapture() override
    {
        if (!m_recording)
            co_return;
        if (m_recording->hasEnded()) {
            // Already closed on its own: the file is as finished as it will get.
            QMetaObject::invokeMethod(this, [this] { emit finished(); }, Qt::QueuedConnection);
            co_return;
        }
        m_recording->requestStop();
    }

private:
    RecordingSettings m_settings;
    quint32 m_displayID;
    std::shared_ptr<Relay> m_relay;
    std::shared_ptr<FfmpegScreenRecording> m_recording;
};

} // namespace

QHash<QString, QRect> X11ScreenCapture::monitorGeometries()
{
    QHash<QString, QRect> result;
    Connection x;
    if (!x.ok())
        return result;
    ReplyPtr<xcb_randr_get_monitors_reply_t> monitors{
        xcb_randr_get_monitors_reply(x.connection, xcb_randr_get_monitors(x.connection, x.screen->root, 1), nullptr)};
    if (!monitors)
        return result;
    for (auto it = xcb_randr_get_monitors_monitors_iterator(monitors.reply); it.rem; xcb_randr_monitor_info_next(&it))
        result.insert(atomName(x.connection, it.data->name), QRect(it.data->x, it.data->y, it.data->width, it.data->height));
    return result;
}

QRect X11ScreenCapture::nativeGeometry(quint32 displayID)
{
    const QScreen *screen = screenFor(displayID);
    if (!screen)
        return {};
    const QHash<QString, QRect> monitors = monitorGeometries();
    if (const auto found = monitors.find(screen->name()); found != monitors.end())
        return *found;
    // Without RandR monitors Qt's numbers are all there is. A scale factor reports the top-left
    // in device pixels already, but the size in points.
    const QRect frame = screen->geometry();
    return QRect(frame.topLeft(), (QSizeF(frame.size()) * screen->devicePixelRatio()).toSize());
}

QRect X11ScreenCapture::pixelRect(const QRect &native, const ShareableDisplay &display, const std::optional<QRectF> &sourceRect)
{
    if (!sourceRect)
        return native;
    const qreal scale = display.width > 0 ? qreal(native.width()) / display.width : 1.0;
    const QRect wanted(native.x() + int(std::lround(sourceRect->x() * scale)), native.y() + int(std::lround(sourceRect->y() * scale)),
                       std::max(1, int(std::lround(sourceRect->width() * scale))),
                       std::max(1, int(std::lround(sourceRect->height() * scale))));
    return wanted.intersected(native);
}

QCoro::Task<ShareableContent> X11ScreenCapture::shareableContent()
{
    if (!qGuiApp || QGuiApplication::platformName() != QLatin1String("xcb"))
        throw refused(QStringLiteral("no X11 display"));
    const QHash<QString, QRect> monitors = monitorGeometries();
    ShareableContent content;
    for (const QScreen *screen : QGuiApplication::screens()) {
        ShareableDisplay display;
        display.displayID = QtScreens::displayIdForOutput(screen->name());
        display.width = screen->geometry().width();
        display.height = screen->geometry().height();
        display.pointPixelScale = screen->devicePixelRatio();
        if (const auto found = monitors.find(screen->name()); found != monitors.end())
            display.mode = DisplayMode{display.width, found->width()};
        content.displays.append(display);
    }
    co_return content;
}

QCoro::Task<QImage> X11ScreenCapture::captureImage(ShareableDisplay display, StillConfiguration configuration)
{
    const QRect native = nativeGeometry(display.displayID);
    if (native.isEmpty())
        throw refused(QStringLiteral("the display is not connected"));
    const QRect pixels = pixelRect(native, display, configuration.sourceRect);
    if (pixels.isEmpty())
        throw refused(QStringLiteral("the rectangle lies outside the display"));
    const QSize output(configuration.width, configuration.height);
    const bool cursor = configuration.showsCursor;
    QFuture<StillResult> grabbing = QtConcurrent::run([pixels, output, cursor] { return grabStill(pixels, output, cursor); });
    const StillResult result = co_await grabbing;
    if (result.error)
        throw *result.error;
    co_return result.image;
}

std::unique_ptr<CaptureStream> X11ScreenCapture::makeStream(const ShareableDisplay &display,
                                                            const StreamConfiguration &configuration,
                                                            const QString &outputPath)
{
    RecordingSettings settings;
    settings.xDisplay = xDisplayName();
    QRect grab = pixelRect(nativeGeometry(display.displayID), display, configuration.sourceRect);
    // Grabbing exactly the encoded size spares a rescale; the size is only ever trimmed to even.
    if (grab.width() > configuration.width)
        grab.setWidth(configuration.width);
    if (grab.height() > configuration.height)
        grab.setHeight(configuration.height);
    settings.grab = grab;
    settings.output = QSize(configuration.width, configuration.height);
    settings.framesPerSecond = configuration.maximumFramesPerSecond;
    settings.drawCursor = configuration.showsCursor;
    settings.systemAudio = configuration.capturesSystemAudio;
    settings.microphone = configuration.capturesMicrophone;
    settings.microphoneSource = configuration.microphoneDeviceID;
    settings.sampleRate = configuration.sampleRate;
    settings.channelCount = configuration.channelCount;
    settings.outputPath = outputPath;
    return std::make_unique<X11CaptureStream>(settings, display.displayID);
}
