#include <QCoreApplication>
#include <QSocketNotifier>
#include <cstdio>

#include "options.h"
#include "simulator.h"

#ifdef Q_OS_UNIX
#include <sys/socket.h>
#include <unistd.h>

#include <csignal>

namespace {

// Signals only write their number into a pipe; the event loop does the rest.
int signalPipe[2] = {-1, -1};

void onSignal(int number) {
    const char byte = static_cast<char>(number);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
}

void watchSignals(sim::Simulator& simulator, QCoreApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0) return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&simulator, &app] {
        char byte = 0;
        if (::read(signalPipe[0], &byte, 1) != 1) return;
        switch (byte) {
            case SIGUSR1:
                std::printf("%s\n", qPrintable(simulator.countersLine()));
                std::fflush(stdout);
                break;
            case SIGUSR2:
                simulator.setSilent(!simulator.silent());
                std::printf("module %s\n", simulator.silent() ? "off" : "on");
                std::fflush(stdout);
                break;
            default:
                app.quit();
        }
    });
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (int number : {SIGTERM, SIGINT, SIGUSR1, SIGUSR2}) ::sigaction(number, &action, nullptr);
    ::signal(SIGPIPE, SIG_IGN);
}

}  // namespace
#endif

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    QString message;
    int exitCode = 0;
    const auto options = sim::parseOptions(app.arguments(), &message, &exitCode);
    if (!options) {
        std::fprintf(exitCode == 0 ? stdout : stderr, "%s\n", qPrintable(message));
        return exitCode;
    }
    sim::Simulator simulator(*options);
#ifdef Q_OS_UNIX
    watchSignals(simulator, app);
#endif
    QString error;
    if (!simulator.start(&error)) {
        std::fprintf(stderr, "vormelq-sim: %s\n", qPrintable(error));
        return 1;
    }
    std::printf("%s\n", qPrintable(simulator.servingLine()));
    std::fflush(stdout);
    const int rc = app.exec();
    std::printf("%s\n", qPrintable(simulator.countersLine()));
    std::fflush(stdout);
    return rc;
}
