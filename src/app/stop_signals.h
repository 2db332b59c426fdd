#pragma once

#include <QObject>

// The system's requests to end the station, delivered on the window thread as
// stopRequested, so the station closes exactly as through its close box: SIGTERM,
// SIGINT and SIGHUP (systemctl stop, Ctrl-C, a logout), or on Windows the console's
// Ctrl-C, its close box and the session's end.
class StopSignals : public QObject {
    Q_OBJECT
public:
    explicit StopSignals(QObject* parent = nullptr);
    ~StopSignals() override;

signals:
    void stopRequested();
};
