// Tovrika: the tray program. A second start hands its URL (or a reopen) to the running one.

#include "app/AppState.h"
#include "app/AppVersion.h"
#include "app/Config.h"
#include "app/SingleInstance.h"
#include "auth/Keychain.h"
#include "platform/linux/LinuxPlatform.h"
#include "support/FileLog.h"
#include "support/L10n.h"
#include "ui/Notifier.h"
#include "ui/TrayController.h"

#include <QApplication>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

namespace {
QList<QUrl> urlsFromArguments(int argc, char **argv)
{
    QList<QUrl> urls;
    for (int i = 1; i < argc; ++i) {
        const QUrl url(QString::fromLocal8Bit(argv[i]), QUrl::StrictMode);
        if (url.isValid() && !url.scheme().isEmpty())
            urls.append(url);
    }
    return urls;
}

// SIGTERM and SIGINT end the event loop normally, so the instance lock is let go.
int g_signalPipe[2] = {-1, -1};
void onTerminationSignal(int)
{
    const char byte = 1;
    [[maybe_unused]] const auto ignored = ::write(g_signalPipe[1], &byte, 1);
}
void quitOnTerminationSignals(QCoreApplication &app)
{
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalPipe) != 0)
        return;
    auto *notifier = new QSocketNotifier(g_signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, &QCoreApplication::quit);
    std::signal(SIGTERM, onTerminationSignal);
    std::signal(SIGINT, onTerminationSignal);
}
} // namespace

int main(int argc, char **argv)
{
    const QList<QUrl> urls = urlsFromArguments(argc, argv);

    SingleInstance instance;
    if (!instance.tryLock()) {
        QCoreApplication handOverApp(argc, argv);
        if (instance.handOver(urls))
            return 0;
        std::fprintf(stderr, "tovrika: another Tovrika is running but did not answer on %s\n",
                     qPrintable(instance.socketPath()));
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Tovrika"));
    QApplication::setApplicationVersion(AppVersion::label());
    QApplication::setDesktopFileName(QStringLiteral("tovrika"));
    QApplication::setQuitOnLastWindowClosed(false);
    quitOnTerminationSignals(app);

    FileLog::write(QStringLiteral("launch: Tovrika %1, pid %2").arg(AppVersion::label()).arg(QCoreApplication::applicationPid()));
    LinuxPlatform linuxPlatform;
    const Platform platform = linuxPlatform.platform();
    L10n::useSettings(&platform.settings);
    Notifier::setBackend(&platform.notifications);
    Keychain::setStore(&platform.credentials);
    FileLog::write(QStringLiteral("captures folder: %1").arg(Config::capturesFolder()));
    FileLog::write(QStringLiteral("service: api %1, authority %2")
                       .arg(Config::apiBase().toString(), Config::service().authority.toString()));

    instance.listen();
    AppState state(platform);
    TrayController tray(state);
    QObject::connect(&instance, &SingleInstance::urlsReceived, &state, &AppState::openUrls);
    QObject::connect(&instance, &SingleInstance::reopenRequested, &state, &AppState::reopen);
    if (!urls.isEmpty())
        state.openUrls(urls);

    const int status = QApplication::exec();
    FileLog::write(QStringLiteral("quit"));
    Notifier::setBackend(nullptr);
    Keychain::setStore(nullptr);
    return status;
}
