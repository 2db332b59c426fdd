#pragma once

#include <QDateTime>
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <memory>
#include <thread>

#include "mqtt_config.h"
#include "payloads.h"
#include "readers.h"

// What the station can tell the operator about its broker.
struct MqttStatus {
    bool connected = false;
    qint64 pending = 0;  // readings, doses and changes kept until the broker has them
    qint64 dropped = 0;  // the oldest given up past the limit, ever
    QString reason;      // why not connected, in Spanish; empty before the first try
};

// The station's publisher to the plant's broker, on a thread of its own. Every method
// may be called from any thread and returns at once: a broker that is away, slow,
// silent or refusing never holds up the caller.
//
// Topics under the configured root R, QoS 1:
//   R/estado         retained: "online"; "offline" as the last will and on a clean stop
//   R/lectura        retained, kept on disk until acknowledged, with its own seq
//   R/dosificacion   kept on disk until acknowledged, with its own seq
//   R/cambio         kept on disk until acknowledged, with its own seq
//   R/consignas      retained, the latest only
//   R/comunicacion   retained, the latest only
// The station subscribes to nothing. A station driving several modules publishes module
// n's messages under a root of its own, with the same topics; each topic's seq its own.
class MqttPublisher {
public:
    // `outboxDir` keeps the messages the broker has not acknowledged, across restarts;
    // `decimals` are the configured ones, for the weights in the messages.
    MqttPublisher(const MqttConfig& config, const QString& outboxDir, int decimals);
    ~MqttPublisher();
    MqttPublisher(const MqttPublisher&) = delete;
    MqttPublisher& operator=(const MqttPublisher&) = delete;

    // Before start: module `number` (from 2) publishes under `root` with its decimals.
    void addModule(int number, const QString& root, int decimals);

    void start();
    // Says "offline", waits a moment for the broker's acknowledgements, disconnects and
    // keeps what is still unacknowledged for the next start. Well under a second.
    void stop();

    // One line about to be written to Peso.csv: its reading is counted as lost, and its
    // seq skipped, if the station is killed before lectura() keeps it.
    void expectLectura(int module = 1);
    // One line written to Peso.csv: the time it carries and its weights.
    void lectura(const QDateTime& when, const WeightReading& weights, int module = 1);
    void dosificacion(const DoseValues& dose, int module = 1);
    // One operator change, its members as built with the payload helpers; "seq" first.
    void cambio(const QList<JsonField>& fields, int module = 1);
    void consignas(const QDateTime& when, const Setpoints& setpoints, int module = 1,
                   const std::optional<QString>& product = std::nullopt);
    void comunicacion(const QDateTime& when, bool answering, int module = 1);

    MqttStatus status() const;

    struct Engine;

private:
    // Ends the thread, or leaves one stuck in a name lookup to end on its own.
    void finish();

    std::shared_ptr<Engine> engine_;
    // Module 1's messages go to the streams named as their topics under the root; module
    // n's to streams named by their whole topic.
    QByteArray stream(int module, const char* name) const;
    int decimals(int module) const;

    std::thread thread_;
    int decimals_;
    QHash<int, QPair<QByteArray, int>> modules_;  // number -> root, decimals
};
