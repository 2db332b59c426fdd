#pragma once

#include <QObject>

// The system's requests to end the station, delivered on the window thread as
// stopRequested, so the station closes exactly as through its close box: SIGTERM,
// SIGINT and SIGHUP (systemctl stop, Ctrl-C, a logout; a service ignores SIGHUP, which
// it has no terminal to lose and no settings to read again), or on Windows the console's
// Ctrl-C, Ctrl-Break and close box. The end of a Windows session does not come this
// way (a program with windows never gets it from the console): Qt ends the event loop.
class StopSignals : public QObject {
    Q_OBJECT
public:
    enum class Hangup { Stop, Ignore };
    explicit StopSignals(Hangup hangup = Hangup::Stop, QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();
};
