// A station's publisher with a backlog: `backlog` readings kept while the broker was
// away, then the connection, and a live reading every `period` ms meanwhile, stamped
// with the moment it is made, for `seconds`. The subscriber (mqtt_cost.py) times them.
//   bench_mqtt_backlog OUTBOX_DIR PORT ROOT BACKLOG PERIOD_MS SECONDS
// Prints "started <ms since epoch>" when the publisher starts, and "drained <ms>" when
// nothing is pending any more.

#include <QCoreApplication>
#include <QDateTime>
#include <chrono>
#include <cstdio>
#include <thread>

#include "mqtt_publisher.h"

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

    MqttPublisher publisher(config, QString::fromLocal8Bit(argv[1]), 1);
    // A day of readings, stamped a day ago, half a second apart.
    const QDateTime dayAgo = QDateTime::currentDateTimeUtc().addDays(-1);
    for (long i = 0; i < backlog; ++i)
        publisher.lectura(dayAgo.addMSecs(i * 500), {72.1, 0, 72.1, 1, 1});

    std::printf("started %lld\n", QDateTime::currentMSecsSinceEpoch());
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
                std::printf("drained %lld\n", QDateTime::currentMSecsSinceEpoch());
                std::fflush(stdout);
            }
        }
    }
    publisher.stop();
    return 0;
}
