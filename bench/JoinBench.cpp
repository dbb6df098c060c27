// Finishes a recording the way the app does: joins its segments into one file, then rewrites
// that file with its index at the front for streaming. Prints "seconds=<both steps>
// join_seconds=<s> rewrite_seconds=<s>".

#include "app/CaptureMedia.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "support/FileLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdio>

namespace {

// The rewrite never throws: it keeps the joined file as it was and says so in the log.
std::atomic<bool> rewriteFailed{false};

QCoro::Task<> finish(MediaToolkit *media, QList<QString> segments, QString output, int *status)
{
    try {
        QElapsedTimer clock;
        clock.start();
        co_await CaptureMedia::mergeSegments(*media, segments, output);
        const qint64 joined = clock.elapsed();
        co_await CaptureMedia::optimizeForStreaming(*media, output);
        const qint64 rewritten = clock.elapsed();
        if (rewriteFailed) {
            std::fprintf(stderr, "the rewrite for streaming failed\n");
        } else {
            std::printf("seconds=%.3f join_seconds=%.3f rewrite_seconds=%.3f\n", double(rewritten) / 1000.0,
                        double(joined) / 1000.0, double(rewritten - joined) / 1000.0);
            *status = 0;
        }
    } catch (const std::exception &error) {
        std::fprintf(stderr, "join failed: %s\n", error.what());
    }
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3) {
        std::fprintf(stderr, "usage: join_bench OUTPUT SEGMENT...\n");
        return 2;
    }
    FileLog::setOnWrite([](const QString &message) {
        if (message.startsWith(QLatin1String("optimize for streaming")))
            rewriteFailed = true;
    });
    FfmpegMediaToolkit media;
    const QString output = arguments[1];
    const QList<QString> segments = arguments.mid(2);
    int status = 1;
    auto running = finish(&media, segments, output, &status);
    QCoreApplication::exec();
    return status;
}
