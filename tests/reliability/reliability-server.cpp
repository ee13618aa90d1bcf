// The real endpoints behind an HTTPServer on 127.0.0.1, in a process of its own: for the tests that must give
// the server a descriptor limit, measure its memory or CPU time, or see it crash without crashing themselves.
// Prints "port <number>" once listening, serves until SIGTERM or SIGINT, then exits 0.
//
//   reliability-server [header time limit ms] [stall limit ms]

#include "EndpointContext.h"
#include "HTTPServer.h"
#include "LoopbackServer.h"
#include "MusicLibrary.h"

#include <QCoreApplication>
#include <QDir>
#include <QSocketNotifier>
#include <QThreadPool>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <pthread.h>
#include <sys/signalfd.h>

int main(int argc, char *argv[])
{
    // Blocked before any thread starts, so only the event loop sees them, through the descriptor.
    sigset_t quitSignals;
    sigemptyset(&quitSignals);
    sigaddset(&quitSignals, SIGTERM);
    sigaddset(&quitSignals, SIGINT);
    pthread_sigmask(SIG_BLOCK, &quitSignals, nullptr);
    const int signalDescriptor = signalfd(-1, &quitSignals, SFD_NONBLOCK | SFD_CLOEXEC);

    QCoreApplication application(argc, argv);
    QSocketNotifier quitNotifier(signalDescriptor, QSocketNotifier::Read);
    QObject::connect(&quitNotifier, &QSocketNotifier::activated, &application, &QCoreApplication::quit);

    HTTPServerOptions options = loopbackOptions();
    if (argc > 1)
        options.headerTimeLimit = std::chrono::milliseconds(std::atoi(argv[1]));
    if (argc > 2)
        options.stallLimit = std::chrono::milliseconds(std::atoi(argv[2]));
    QThreadPool workers;
    MusicLibrary library(QDir::homePath(), workers);
    const EndpointContext endpoints{&library};
    HTTPServer server(options);
    server.setEndpointContext(&endpoints);
    server.start();
    if (server.state() != HTTPServer::HTTPServerStateRunning)
        return 1;
    std::printf("port %u\n", unsigned(server.serverPort()));
    std::fflush(stdout);
    return application.exec();
}
