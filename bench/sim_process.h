#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

// A vormelq-sim the benchmark talks to: either one already running (its address given
// by the caller, so several masters can share one simulator in one run) or one started
// here for the lifetime of the object.
class SimProcess {
public:
    // `transport` is "tcp" or "pty". The environment variable VORMELQ_SIM_TCP
    // (HOST:PORT) or VORMELQ_SIM_PTY (link path) names a running simulator; otherwise
    // one is started with --baud `baud`.
    SimProcess(const QString& transport, int baud);
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // Empty when the simulator could not be reached or started.
    QString error() const { return error_; }
    QString host() const { return host_; }
    quint16 port() const { return port_; }
    QString ptyPath() const { return ptyPath_; }

private:
    void start(const QStringList& arguments);

    std::unique_ptr<QProcess> process_;
    std::unique_ptr<QTemporaryDir> dir_;
    QString error_;
    QString host_;
    quint16 port_ = 0;
    QString ptyPath_;
};
