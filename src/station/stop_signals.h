#pragma once

#include <QObject>

// The system's requests to end the station, delivered on the window thread as
// stopRequested, so the station closes exactly as through its close box: SIGTERM,
// SIGINT and SIGHUP (systemctl stop, Ctrl-C, a logout), or on Windows the console's
// Ctrl-C, Ctrl-Break and close box. The end of a Windows session does not come this
// way (a program with windows never gets it from the console): Qt ends the event loop.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();
};
