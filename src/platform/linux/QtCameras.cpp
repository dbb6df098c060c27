#include "platform/linux/QtCameras.h"

#include <QCamera>
#include <QCameraDevice>
#include <QMediaCaptureSession>
#include <QMediaDevices>
#include <QVideoFrame>
#include <QVideoSink>

namespace {

MediaDevice describe(const QCameraDevice &device)
{
    return MediaDevice{QString::fromUtf8(device.id()), device.description()};
}

class QtCameraFeed final : public CameraFeed {
public:
    QtCameraFeed(const QCameraDevice &device, Cameras::FrameHandler onFrame, Cameras::FailureHandler onFailure)
        : m_camera(device)
        , m_onFrame(std::move(onFrame))
        , m_onFailure(std::move(onFailure))
    {
        QObject::connect(&m_sink, &QVideoSink::videoFrameChanged, &m_sink, [this](const QVideoFrame &frame) {
            const QImage image = frame.toImage();
            if (!image.isNull() && m_onFrame)
                m_onFrame(image);
        });
        QObject::connect(&m_camera, &QCamera::errorOccurred, &m_camera, [this](QCamera::Error, const QString &reason) {
            if (m_onFailure)
                m_onFailure(reason);
        });
    }

    ~QtCameraFeed() override { stop(); }

    bool start() override
    {
        m_session.setCamera(&m_camera);
        m_session.setVideoSink(&m_sink);
        if (m_session.camera() != &m_camera)
            return false;
        // Starting is asynchronous; a camera that fails later reports through errorOccurred.
        m_camera.start();
        return m_camera.error() == QCamera::NoError;
    }

    void stop() override
    {
        if (m_camera.isActive())
            m_camera.stop();
    }

    bool available() const { return m_camera.isAvailable() && m_camera.error() == QCamera::NoError; }

private:
    QCamera m_camera;
    QMediaCaptureSession m_session;
    QVideoSink m_sink;
    Cameras::FrameHandler m_onFrame;
    Cameras::FailureHandler m_onFailure;
};

} // namespace

QCoro::Task<bool> QtCameras::requestAccess()
{
    co_return true;
}

QList<MediaDevice> QtCameras::devices()
{
    QList<MediaDevice> list;
    for (const QCameraDevice &device : QMediaDevices::videoInputs())
        list.append(describe(device));
    return list;
}

std::optional<MediaDevice> QtCameras::defaultDevice()
{
    const QCameraDevice device = QMediaDevices::defaultVideoInput();
    if (device.isNull())
        return std::nullopt;
    return describe(device);
}

std::unique_ptr<CameraFeed> QtCameras::open(const MediaDevice &device, FrameHandler onFrame, FailureHandler onFailure)
{
    for (const QCameraDevice &candidate : QMediaDevices::videoInputs()) {
        if (QString::fromUtf8(candidate.id()) != device.id)
            continue;
        auto feed = std::make_unique<QtCameraFeed>(candidate, std::move(onFrame), std::move(onFailure));
        if (!feed->available())
            return nullptr;
        return feed;
    }
    return nullptr;
}
