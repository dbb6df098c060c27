// The program's side of the recording benchmark, in two roles:
//   record_bench --animate              covers the primary screen with a page that scrolls 60
//                                       times a second, until killed; prints "animating" once shown
//   record_bench --record FILE SECONDS  records the primary screen with the app's recorder (no
//                                       sound) and prints "grab=WxH+X+Y cpu_seconds=<s>
//                                       wall_seconds=<s> written=<frames> dropped=<frames>"
// The animation runs in a process of its own so that its painting is not counted as ours.

#include "capture/RecorderService.h"
#include "platform/linux/QtScreens.h"
#include "platform/linux/X11ScreenCapture.h"
#include "support/FileLog.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QRegularExpression>
#include <QScreen>
#include <QTimer>
#include <QWidget>
#include <atomic>
#include <cstdio>
#include <qcorotimer.h>
#include <sys/resource.h>

namespace {

// A page of text lines and coloured boxes that scrolls past, like a document being read:
// every grabbed frame differs from the one before, as in a real screen recording.
class ScrollingPage final : public QWidget {
public:
    explicit ScrollingPage(const QRect &geometry)
        : m_page(geometry.width(), geometry.height() * 2, QImage::Format_RGB32)
    {
        setWindowFlags(Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint | Qt::WindowDoesNotAcceptFocus);
        setGeometry(geometry);
        // Drawn once, twice over, so that scrolling wraps around without a seam.
        m_page.fill(Qt::white);
        QPainter painter(&m_page);
        painter.setFont(QFont(QStringLiteral("DejaVu Sans"), 14));
        for (int half = 0; half < 2; ++half) {
            for (int y = 30, line = 0; y < geometry.height(); y += 28, ++line) {
                const int top = half * geometry.height() + y;
                painter.fillRect(QRect(40, top - 18, 60, 22), QColor::fromHsv((line * 37) % 360, 180, 230));
                painter.setPen(Qt::black);
                painter.drawText(120, top, QStringLiteral("Line %1: the quick brown fox jumps over the lazy dog, %2 times.")
                                               .arg(line)
                                               .arg(line * 7919 % 1000));
            }
        }
        painter.end();
        connect(&m_tick, &QTimer::timeout, this, [this] {
            m_offset = (m_offset + 6) % height();
            update();
        });
        m_tick.setTimerType(Qt::PreciseTimer);
        m_tick.start(16);
        show();
    }

protected:
    void paintEvent(QPaintEvent *) override
    {
        QPainter painter(this);
        painter.drawImage(0, -m_offset, m_page);
        if (!m_announced) {
            m_announced = true;
            std::printf("animating\n");
            std::fflush(stdout);
        }
    }

private:
    QImage m_page;
    QTimer m_tick;
    int m_offset = 0;
    bool m_announced = false;
};

double cpuSeconds()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto seconds = [](const timeval &t) { return double(t.tv_sec) + double(t.tv_usec) / 1e6; };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

// The recorder reports its own frame counts in the log when it closes the file.
std::atomic<qint64> framesWritten{-1};
std::atomic<qint64> framesDropped{-1};

QCoro::Task<> record(RecorderService *recorder, quint32 displayID, QString file, int seconds, int *status)
{
    try {
        const double cpuBefore = cpuSeconds();
        QElapsedTimer clock;
        clock.start();
        co_await recorder->start(displayID, std::nullopt, false, false, std::nullopt, file);
        // A coarse timer may fire a few percent early; the two recordings must last as long.
        QTimer length;
        length.setTimerType(Qt::PreciseTimer);
        length.setSingleShot(true);
        length.start(std::chrono::seconds(seconds));
        co_await qCoro(length).waitForTimeout();
        co_await recorder->stop();
        std::printf("cpu_seconds=%.3f wall_seconds=%.3f written=%lld dropped=%lld\n", cpuSeconds() - cpuBefore,
                    double(clock.elapsed()) / 1000.0, framesWritten.load(), framesDropped.load());
        *status = 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "recording failed: %s\n", error.what());
        *status = 1;
    }
    QCoreApplication::quit();
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    const QStringList arguments = QCoreApplication::arguments();
    QScreen *screen = QGuiApplication::primaryScreen();
    if (!screen || QGuiApplication::platformName() != QLatin1String("xcb")) {
        std::fprintf(stderr, "record_bench needs an X display\n");
        return 2;
    }
    if (arguments.size() == 2 && arguments[1] == QLatin1String("--animate")) {
        ScrollingPage page(screen->geometry());
        return QApplication::exec();
    }
    if (arguments.size() != 4 || arguments[1] != QLatin1String("--record")) {
        std::fprintf(stderr, "usage: record_bench --animate | --record FILE SECONDS\n");
        return 2;
    }

    FileLog::setOnWrite([](const QString &message) {
        static const QRegularExpression stats(QStringLiteral("^recorder: wrote (\\d+) frames, (\\d+) dropped"));
        if (const QRegularExpressionMatch match = stats.match(message); match.hasMatch()) {
            framesWritten = match.captured(1).toLongLong();
            framesDropped = match.captured(2).toLongLong();
        }
    });
    const quint32 displayID = QtScreens::displayIdForOutput(screen->name());
    const QRect grab = X11ScreenCapture::nativeGeometry(displayID);
    // The script grabs the same rectangle with ffmpeg.
    std::printf("grab=%dx%d+%d+%d ", grab.width(), grab.height(), grab.x(), grab.y());
    X11ScreenCapture capture;
    RecorderService recorder(capture);
    int status = 1;
    const QString file = arguments[2];
    const int seconds = arguments[3].toInt();
    auto running = record(&recorder, displayID, file, seconds, &status);
    QApplication::exec();
    return status;
}
