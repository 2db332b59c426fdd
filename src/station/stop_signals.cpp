#include "stop_signals.h"

#ifdef Q_OS_WIN
#include <qt_windows.h>

#include <mutex>

namespace {

// The handler runs on a thread of its own that the system starts for each event, at
// any time, also while the object goes away: it posts under the lock that the
// destructor takes to clear the pointer.
std::mutex instanceMutex;
StopSignals* instance = nullptr;

BOOL WINAPI onConsoleEvent(DWORD type) {
    {
        const std::lock_guard lock(instanceMutex);
        if (instance == nullptr) return FALSE;
        QMetaObject::invokeMethod(instance, &StopSignals::stopRequested, Qt::QueuedConnection);
    }
    // Windows ends the process as soon as this returns from a close event; the window
    // thread ends it first, after unloading.
    if (type != CTRL_C_EVENT && type != CTRL_BREAK_EVENT) Sleep(INFINITE);
    return TRUE;
}

}  // namespace

StopSignals::StopSignals(Hangup, QObject* parent) : QObject(parent) {
    {
        const std::lock_guard lock(instanceMutex);
        instance = this;
    }
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

StopSignals::~StopSignals() {
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    const std::lock_guard lock(instanceMutex);
    instance = nullptr;
}

#else
#include <fcntl.h>
#include <unistd.h>

#include <QSocketNotifier>
#include <cerrno>
#include <csignal>

namespace {

int wakeFds[2] = {-1, -1};

// A signal handler may do next to nothing: one byte into a pipe that the window
// thread's event loop watches.
void onSignal(int) {
    const int saved = errno;
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(wakeFds[1], &byte, 1);
    errno = saved;
}

void setHandler(int signal, void (*handler)(int)) {
    struct sigaction action = {};
    action.sa_handler = handler;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

StopSignals::StopSignals(Hangup hangup, QObject* parent) : QObject(parent) {
    if (hangup == Hangup::Ignore) setHandler(SIGHUP, SIG_IGN);
    if (::pipe2(wakeFds, O_CLOEXEC | O_NONBLOCK) != 0) return;
    auto* notifier = new QSocketNotifier(wakeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, [this] {
        char bytes[16];
        while (::read(wakeFds[0], bytes, sizeof bytes) > 0) {
        }
        emit stopRequested();
    });
    setHandler(SIGTERM, onSignal);
    setHandler(SIGINT, onSignal);
    if (hangup == Hangup::Stop) setHandler(SIGHUP, onSignal);
}

StopSignals::~StopSignals() {
    if (wakeFds[0] < 0) return;
    for (const int signal : {SIGTERM, SIGINT, SIGHUP}) setHandler(signal, SIG_DFL);
    ::close(wakeFds[0]);
    ::close(wakeFds[1]);
    wakeFds[0] = wakeFds[1] = -1;
}
#endif
