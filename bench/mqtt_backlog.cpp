// A station's publisher with a backlog: `backlog` readings kept in its folder while the
// broker was away, then a new start with the broker there, and a live reading every
// `period` ms meanwhile, stamped with the moment it is made, for `seconds`. The subscriber
// (mqtt_cost.py) times them.
//   bench_mqtt_backlog OUTBOX_DIR PORT ROOT BACKLOG PERIOD_MS SECONDS
// Prints "started <ms since epoch> cpu <ms>" when the publisher starts, and "drained
// <ms> cpu <ms>" when nothing is pending any more: the time and the process's CPU time.

#include <sys/resource.h>

#include <QCoreApplication>
#include <QDateTime>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <thread>

#include "mqtt_publisher.h"

namespace {

// The process's CPU time so far, user and system, in ms.
long long cpuMs() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& t) { return t.tv_sec * 1000LL + t.tv_usec / 1000; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 7) return 2;
    MqttConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = QString::fromLocal8Bit(argv[2]).toInt();
    config.topicRoot = QString::fromLocal8Bit(argv[3]);
    const long backlog = std::stol(argv[4]);
    const auto period = std::chrono::milliseconds(std::stol(argv[5]));
    const auto duration = std::chrono::seconds(std::stol(argv[6]));

    // Room for the backlog and the live readings on top: none given up.
    config.maxPending = std::max<qint64>(config.maxPending, 2 * backlog);
    const QString outbox = QString::fromLocal8Bit(argv[1]);
    {
        // The backlog, half a second apart up to now, kept by a station whose broker was
        // away (nothing listens on port 1) and which was then closed.
        MqttConfig away = config;
        away.port = 1;
        MqttPublisher station(away, outbox, 1);
        station.start();
        const QDateTime first = QDateTime::currentDateTimeUtc().addMSecs(-500 * backlog);
        for (long i = 0; i < backlog; ++i)
            station.lectura(first.addMSecs(i * 500), {72.1, 0, 72.1, 1, 1});
        station.stop();
    }

    // The station started again with the broker back: the backlog read from its folder.
    MqttPublisher publisher(config, outbox, 1);
    std::printf("started %lld cpu %lld\n", QDateTime::currentMSecsSinceEpoch(), cpuMs());
    std::fflush(stdout);
    publisher.start();
    const auto end = std::chrono::steady_clock::now() + duration;
    auto next = std::chrono::steady_clock::now();
    bool drained = false;
    while (std::chrono::steady_clock::now() < end) {
        publisher.lectura(QDateTime::currentDateTimeUtc(), {72.1, 0, 72.1, 1, 1});
        next += period;
        while (std::chrono::steady_clock::now() < next) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
            if (!drained && publisher.status().pending == 0) {
                drained = true;
                std::printf("drained %lld cpu %lld\n", QDateTime::currentMSecsSinceEpoch(),
                            cpuMs());
                std::fflush(stdout);
            }
        }
    }
    publisher.stop();
    return 0;
}
