#include "service.h"

#include <systemd/sd-daemon.h>

#include <QCoreApplication>
#include <QDir>
#include <QTimer>

#include "console.h"
#include "state_lines.h"
#include "station.h"
#include "stop_signals.h"

namespace {

// systemd's watchdog, when the unit has one: pinged every quarter of its time while
// every link's poll loop moves. A loop on one step for half of it (far longer than a
// silent module's attempts, when WatchdogSec is as the unit sets it) stops the pings,
// and systemd ends the process and starts it again.
class Watchdog : public QObject {
public:
    explicit Watchdog(const Station& station) : station_(station) {
        uint64_t usec = 0;
        if (sd_watchdog_enabled(0, &usec) <= 0 || usec == 0) return;
        limitMs_ = static_cast<qint64>(usec / 1000);
        timer_.setInterval(static_cast<int>(std::max<qint64>(limitMs_ / 4, 1)));
        connect(&timer_, &QTimer::timeout, this, &Watchdog::ping);
        timer_.start();
    }
    void stop() { timer_.stop(); }

private:
    void ping() {
        if (station_.linksMoving(limitMs_ / 2)) sd_notify(0, "WATCHDOG=1");
    }

    const Station& station_;
    QTimer timer_;
    qint64 limitMs_ = 0;
};

}  // namespace

int runService(QCoreApplication& app) {
    StopSignals stopSignals(StopSignals::Hangup::Ignore);
    QObject::connect(&stopSignals, &StopSignals::stopRequested, &app, &QCoreApplication::quit);
    Station station;
    if (const QString error = station.Form_Load(); !error.isEmpty()) {
        tellUser(error, Priority::Error);
        return 1;
    }
    StateLines lines(station);
    // What `systemctl status` shows under the unit's name.
    QObject::connect(&lines, &StateLines::statusChanged, [](const QString& status) {
        sd_notify(0, ("STATUS=" + status).toUtf8().constData());
    });
    lines.tellStarted(QDir::currentPath());
    Watchdog watchdog(station);
    station.start();
    // The configuration is read and the links are open: systemd may order what waits
    // for this service after it.
    sd_notify(0, "READY=1");
    const int status = app.exec();
    sd_notify(0, "STOPPING=1");
    watchdog.stop();
    station.Form_Unload();
    tellUser(QStringLiteral("servicio detenido"));
    return status;
}
