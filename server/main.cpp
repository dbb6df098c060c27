// tovrika-server: the reference web service and sign-in authority, on 127.0.0.1 only.

#include "server/ServerOptions.h"
#include "server/TovrikaServer.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <pthread.h>
#include <thread>

int main(int argc, char **argv)
{
    // Stop signals are taken by one waiting thread, so the server stops between requests
    // rather than inside a signal handler. Blocked before any other thread starts.
    sigset_t stopSignals;
    sigemptyset(&stopSignals);
    sigaddset(&stopSignals, SIGINT);
    sigaddset(&stopSignals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &stopSignals, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tovrika-server"));

    try {
        TovrikaServer server(ServerOptions::fromArguments(QCoreApplication::arguments()));
        const int port = server.bind();
        std::thread stopper([&server, stopSignals] {
            int received = 0;
            sigwait(&stopSignals, &received);
            server.stop();
        });
        stopper.detach();
        std::printf("tovrika-server: listening on http://%s:%d\n", TovrikaServer::kHost, port);
        std::fflush(stdout);
        return server.serve() ? 0 : 1;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "tovrika-server: %s\n", error.what());
        return 2;
    }
}
