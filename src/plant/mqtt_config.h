#pragma once

#include <QString>

constexpr int kMqttPort = 1883;
constexpr int kMqttTlsPort = 8883;
// A week of readings at the default poll interval of 500 ms.
constexpr qint64 kMqttMaxPending = 7 * 24 * 3600 * 2;

// Where and how the station publishes to the plant's broker. An empty `host` means no
// MQTT at all.
struct MqttConfig {
    QString host;
    int port = kMqttPort;
    QString user;
    QString password;  // never printed, logged or shown
    QString caFile;    // set: TLS, the broker's certificate and host name verified
    QString topicRoot;
    int keepalive = 10;  // seconds
    qint64 maxPending = kMqttMaxPending;

    bool enabled() const { return !host.isEmpty(); }
    bool tls() const { return !caFile.isEmpty(); }
};

// "vormelq/" followed by this computer's name.
QString defaultTopicRoot();
// The station's client id at the broker: this computer's name and the digest of its
// folder `dir` (the outbox's, as for the kill ledger), so that no two stations share one,
// whatever their Tema.
QString stationClientId(const QString& dir);
// Why `root` cannot be the start of a topic the station publishes to; empty when it can.
QString topicRootProblem(const QString& root);
