#include "capture/CameraBubble.h"

#include "capture/OverlayWindows.h"
#include "support/FileLog.h"

#include <QCoreApplication>
#include <QPainter>
#include <QPainterPath>
#include <QWidget>
#include <algorithm>

namespace {

class BubbleView final : public QWidget {
public:
    BubbleView()
    {
        OverlayWindows::makeClickThrough(*this);
        setAttribute(Qt::WA_DeleteOnClose);
    }

    void setFrame(const QImage &frame)
    {
        m_frame = frame;
        update();
    }

protected:
    void resizeEvent(QResizeEvent *) override
    {
        // Round also without a compositor.
        setMask(QRegion(rect(), QRegion::Ellipse));
    }

    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        const QRectF bounds = rect();
        QPainterPath circle;
        circle.addEllipse(bounds);
        painter.fillPath(circle, Qt::black);
        if (!m_frame.isNull()) {
            painter.save();
            painter.setClipPath(circle);
            // Fill the circle, cropping the picture; shown mirrored.
            const QSizeF filled = QSizeF(m_frame.size()).scaled(bounds.size(), Qt::KeepAspectRatioByExpanding);
            QRectF target(QPointF(), filled);
            target.moveCenter(bounds.center());
            painter.translate(bounds.center().x() * 2, 0);
            painter.scale(-1, 1);
            painter.drawImage(target, m_frame);
            painter.restore();
        }
        const qreal border = CameraBubble::borderPoints;
        painter.setPen(QPen(Qt::white, border));
        painter.setBrush(Qt::NoBrush);
        painter.drawEllipse(bounds.adjusted(border / 2, border / 2, -border / 2, -border / 2));
    }

private:
    QImage m_frame;
};

} // namespace

CameraBubble::CameraBubble(Screens &screens, Cameras &cameras, QObject *parent)
    : QObject(parent)
    , m_screens(screens)
    , m_cameras(cameras)
{
}

CameraBubble::~CameraBubble()
{
    // Nothing may outlive the bubble in the event queue: the program may be ending.
    if (m_feed) {
        m_feed->stop();
        m_feed.reset();
    }
    hide();
}

QRectF CameraBubble::bubbleGeometry(const ScreenInfo &screen, const std::optional<QRectF> &sourceRect, const QString &corner)
{
    const QRectF area = sourceRect ? OverlayWindows::toGlobal(screen, *sourceRect) : QRectF(screen.frame);
    const qreal side = std::min(area.width(), area.height());
    const qreal diameter = 0.22 * side;
    const qreal margin = 0.04 * side;
    const qreal left = area.left() + margin;
    const qreal right = area.right() - margin - diameter;
    const qreal top = area.top() + margin;
    const qreal bottom = area.bottom() - margin - diameter;
    QPointF origin(left, bottom);
    if (corner == QLatin1String("tl"))
        origin = QPointF(left, top);
    else if (corner == QLatin1String("tr"))
        origin = QPointF(right, top);
    else if (corner == QLatin1String("br"))
        origin = QPointF(right, bottom);
    return QRectF(origin, QSizeF(diameter, diameter));
}

void CameraBubble::show(quint32 displayID, std::optional<QRectF> sourceRect, const QString &corner,
                        std::optional<QString> deviceID)
{
    hide();
    const auto screen = OverlayWindows::findScreen(m_screens, displayID);
    if (!screen)
        return;
    auto *view = new BubbleView;
    view->setGeometry(bubbleGeometry(*screen, sourceRect, corner).toAlignedRect());
    view->show();
    m_window = view;
    startCamera(++m_generation, std::move(deviceID));
}

QCoro::Task<> CameraBubble::startCamera(quint64 generation, std::optional<QString> deviceID)
{
    const QPointer<CameraBubble> self(this);
    const bool granted = co_await m_cameras.requestAccess();
    // Hidden or shown again meanwhile: this answer belongs to a bubble that is gone.
    if (!self || generation != m_generation || !m_window)
        co_return;
    if (!granted) {
        fail(QStringLiteral("camera bubble: camera access denied — recording without it"));
        co_return;
    }
    configure(deviceID);
}

void CameraBubble::configure(const std::optional<QString> &deviceID)
{
    std::optional<MediaDevice> device;
    if (deviceID) {
        for (const MediaDevice &candidate : m_cameras.devices()) {
            if (candidate.id == *deviceID)
                device = candidate;
        }
    }
    if (!device)
        device = m_cameras.defaultDevice();
    if (!device) {
        fail(QStringLiteral("camera bubble: no usable camera"));
        return;
    }
    const quint64 generation = m_generation;
    const QPointer<CameraBubble> self(this);
    auto feed = m_cameras.open(
        *device,
        [self](const QImage &frame) {
            if (self && self->m_window)
                static_cast<BubbleView *>(self->m_window.data())->setFrame(frame);
        },
        [self, generation, name = device->name](const QString &) {
            if (self && self->m_generation == generation && self->m_feed)
                self->fail(QStringLiteral("camera bubble: could not attach ") + name);
        });
    if (!feed) {
        fail(QStringLiteral("camera bubble: no usable camera"));
        return;
    }
    if (!feed->start()) {
        fail(QStringLiteral("camera bubble: could not attach ") + device->name);
        return;
    }
    m_feed = std::move(feed);
    FileLog::write(QStringLiteral("camera bubble: ") + device->name);
}

void CameraBubble::fail(const QString &logLine)
{
    FileLog::write(logLine);
    hide();
}

void CameraBubble::hide()
{
    if (m_feed) {
        // Stopped and released from the event loop: hiding may happen inside the camera's own
        // failure report.
        QMetaObject::invokeMethod(
            QCoreApplication::instance(), [feed = std::shared_ptr<CameraFeed>(std::move(m_feed))] { feed->stop(); },
            Qt::QueuedConnection);
    }
    if (m_window) {
        m_window->close();
        m_window = nullptr;
    }
}
