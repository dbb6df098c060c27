// Finishes a recording one of the two ways the app does, and times it. A recording of several
// segments is only joined (the join already writes the index at the front); a recording of one
// segment is only rewritten in place with its index at the front for streaming.
//   join_bench join OUTPUT SEGMENT...   joins the segments into OUTPUT
//   join_bench rewrite FILE             rewrites FILE in place for streaming
// Prints "seconds=<s>".

#include "app/CaptureMedia.h"
#include "platform/linux/FfmpegMediaToolkit.h"
#include "support/FileLog.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <atomic>
#include <cstdio>

namespace {

// The rewrite never throws: it keeps the file as it was and says so in the log.
std::atomic<bool> rewriteFailed{false};

void report(const QElapsedTimer &clock)
{
    std::printf("seconds=%.3f\n", double(clock.nsecsElapsed()) / 1e9);
}

QCoro::Task<> join(MediaToolkit *media, QList<QString> segments, QString output, int *status)
{
    try {
        QElapsedTimer clock;
        clock.start();
        co_await CaptureMedia::mergeSegments(*media, segments, output);
        report(clock);
        *status = 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "join failed: %s\n", error.what());
    }
    QCoreApplication::quit();
}

QCoro::Task<> rewrite(MediaToolkit *media, QString file, int *status)
{
    QElapsedTimer clock;
    clock.start();
    co_await CaptureMedia::optimizeForStreaming(*media, file);
    if (rewriteFailed) {
        std::fprintf(stderr, "the rewrite for streaming failed\n");
    } else {
        report(clock);
        *status = 0;
    }
    QCoreApplication::quit();
}

int usage()
{
    std::fprintf(stderr, "usage: join_bench join OUTPUT SEGMENT...\n"
                         "       join_bench rewrite FILE\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    if (arguments.size() < 3)
        return usage();
    const QString mode = arguments[1];
    const bool joining = mode == QLatin1String("join") && arguments.size() >= 4;
    const bool rewriting = mode == QLatin1String("rewrite") && arguments.size() == 3;
    if (!joining && !rewriting)
        return usage();
    FileLog::setOnWrite([](const QString &message) {
        if (message.startsWith(QLatin1String("optimize for streaming")))
            rewriteFailed = true;
    });
    FfmpegMediaToolkit media;
    int status = 1;
    auto running = joining ? join(&media, arguments.mid(3), arguments[2], &status)
                           : rewrite(&media, arguments[2], &status);
    QCoreApplication::exec();
    return status;
}
