// Uploads one file with the program's blob upload and reports the time taken and how much the
// process's peak memory grew, as "seconds=<s> peak_growth_kb=<kb>".

#include "auth/AuthService.h"
#include "platform/linux/BrowserAuthSheet.h"
#include "platform/linux/JsonSettingsStore.h"
#include "service/ApiClient.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QNetworkAccessManager>
#include <QTemporaryDir>
#include <cstdio>
#include <sys/resource.h>

namespace {
long peakKilobytes()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss;
}

QCoro::Task<> upload(ApiClient *api, QString file, QString url, int *status)
{
    try {
        const std::function<void(double)> progress = [](double) {};
        co_await api->uploadBlob(file, url, QStringLiteral("video/mp4"), progress);
        *status = 0;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "upload failed: %s\n", error.what());
        *status = 1;
    }
    QCoreApplication::quit();
}
} // namespace

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 3) {
        std::fprintf(stderr, "usage: upload_bench FILE UPLOAD_URL\n");
        return 2;
    }
    QTemporaryDir settingsDir;
    JsonSettingsStore settings(settingsDir.filePath(QStringLiteral("settings.json")));
    BrowserAuthSheet sheet;
    QNetworkAccessManager network;
    AuthService auth(settings, sheet, network);
    ApiClient api(auth, network, settings);

    const long before = peakKilobytes();
    QElapsedTimer clock;
    clock.start();
    int status = 1;
    auto running = upload(&api, QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]), &status);
    QApplication::exec();
    std::printf("seconds=%.3f peak_growth_kb=%ld\n", double(clock.elapsed()) / 1000.0, peakKilobytes() - before);
    return status;
}
