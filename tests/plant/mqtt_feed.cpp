// A station's publisher in a process of its own, so a test can kill it for real: reads
// counts on standard input and publishes that many readings, neto = seq / 10 from the
// first given; "q" stops it cleanly.
//   mqtt_feed OUTBOX_DIR PORT ROOT FIRST_VALUE

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>
#include <iostream>
#include <string>

#include "mqtt_publisher.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    if (argc != 5) return 2;
    MqttConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = QString::fromLocal8Bit(argv[2]).toInt();
    config.topicRoot = QString::fromLocal8Bit(argv[3]);
    config.keepalive = 5;
    MqttPublisher publisher(config, QString::fromLocal8Bit(argv[1]), 1);
    publisher.start();
    long value = std::stol(argv[4]);
    const QDateTime start = QDateTime::fromMSecsSinceEpoch(1'796'000'000'000, Qt::UTC);
    std::string command;
    while (std::cin >> command && command != "q") {
        for (int n = std::stoi(command); n > 0; --n, ++value) {
            const double weight = value / 10.0;
            publisher.lectura(start.addMSecs(value * 100), {weight, 0, weight, 1, 1});
        }
        std::printf("added %ld\n", value - 1);
        std::fflush(stdout);
    }
    publisher.stop();
    std::printf("pending %lld\n", static_cast<long long>(publisher.status().pending));
    return 0;
}
