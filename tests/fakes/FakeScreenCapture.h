#pragma once
// A screen-capture service whose displays, failures and stream reports the test controls.

#include "platform/ScreenCapture.h"

#include <QFile>
#include <QPointer>
#include <deque>
#include <functional>

class FakeCaptureStream final : public CaptureStream {
public:
    struct Script {
        std::optional<PlatformError> startError;
        bool reportsFinished = true;        // emit finished() when asked to stop
        std::optional<PlatformError> stopFailure; // emit failed() instead of finished()
        QByteArray bytesWritten = "fake mp4 bytes"; // what ends up in the file; empty: nothing
    };

    FakeCaptureStream(ShareableDisplay display, StreamConfiguration configuration, QString outputPath, Script script)
        : display(std::move(display))
        , configuration(std::move(configuration))
        , outputPath(std::move(outputPath))
        , script(std::move(script))
    {
    }

    QCoro::Task<> startCapture() override
    {
        if (script.startError)
            throw *script.startError;
        if (!script.bytesWritten.isEmpty()) {
            QFile file(outputPath);
            if (file.open(QIODevice::WriteOnly))
                file.write(script.bytesWritten);
        }
        started = true;
        co_return;
    }

    QCoro::Task<> stopCapture() override
    {
        ++stopRequests;
        if (script.stopFailure)
            emit failed(*script.stopFailure);
        else if (script.reportsFinished)
            emit finished();
        co_return;
    }

    // What the platform would report on its own.
    void failWriting(const PlatformError &error) { emit failed(error); }
    void endOnItsOwn(const std::optional<PlatformError> &error) { emit stoppedOnItsOwn(error); }

    ShareableDisplay display;
    StreamConfiguration configuration;
    QString outputPath;
    Script script;
    bool started = false;
    int stopRequests = 0;
};

class FakeScreenCapture final : public ScreenCapture {
public:
    QCoro::Task<ShareableContent> shareableContent() override
    {
        ++contentRequests;
        if (contentError)
            throw *contentError;
        // Successive answers may differ (a display that comes back); the last one stays.
        if (contentAnswers.size() > 1) {
            ShareableContent next = contentAnswers.front();
            contentAnswers.pop_front();
            co_return next;
        }
        co_return contentAnswers.empty() ? ShareableContent{} : contentAnswers.front();
    }

    QCoro::Task<QImage> captureImage(ShareableDisplay display, StillConfiguration configuration) override
    {
        Q_UNUSED(display);
        QImage image(configuration.width, configuration.height, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        co_return image;
    }

    std::unique_ptr<CaptureStream> makeStream(const ShareableDisplay &display, const StreamConfiguration &configuration,
                                              const QString &outputPath) override
    {
        auto stream = std::make_unique<FakeCaptureStream>(display, configuration, outputPath, nextStream);
        lastStream = stream.get();
        return stream;
    }

    void setDisplays(QList<ShareableDisplay> displays) { contentAnswers = {ShareableContent{std::move(displays)}}; }

    std::deque<ShareableContent> contentAnswers;
    std::optional<PlatformError> contentError;
    FakeCaptureStream::Script nextStream;
    QPointer<FakeCaptureStream> lastStream;
    int contentRequests = 0;
};
