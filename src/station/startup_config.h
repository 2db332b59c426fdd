#pragma once

#include <QDir>
#include <QMetaType>
#include <QString>
#include <optional>
#include <variant>

#include "mqtt_config.h"

// Everything the station reads from modbus.ini at start-up, in the order it is read.
struct StartupConfig {
    int TcpLink = 0;  // 0: serial port; anything else: TCP
    // TCP (read only when TcpLink != 0)
    QString host;
    int port = 3000;
    // Serial (read only when TcpLink == 0)
    QString commPort;  // "2" (a port number) or a device path, as written
    QString baud;      // text, checked by the port when it opens
    int Decimals = 0;
    int SlaveId = 0;
    int timerInterval = 500;  // ms; 0: the timer never fires
    // Of a dose, in percent of the theoretical weight either way; 0: none, every
    // complete dose is "Hecha".
    double tolerancePercent = 0;
};

constexpr const char* kDefaultHost = "192.168.1.10";

// A start-up failure: the Spanish text for the message box, naming key and value.
struct ConfigError {
    QString message;
};

// Reads the link keys (steps 1 to 3); the caller opens the link before reading the rest,
// so a port that cannot be opened stops start-up before any later key is read.
std::variant<StartupConfig, ConfigError> readLinkConfig(const QDir& dir = QDir::current());
// Reads Decimales_1, ID_1, Timer and Tolerancia_1 into `config`.
std::variant<StartupConfig, ConfigError> readRemainingConfig(StartupConfig config,
                                                             const QDir& dir = QDir::current());

// Reads section [MQTT]. With no "Servidor" the result is not enabled and no other key
// is read: a station without a broker behaves as it always did.
std::variant<MqttConfig, ConfigError> readMqttConfig(const QDir& dir = QDir::current());

// The integer in `text`: an optional sign, then decimal digits and nothing else.
// Magnitudes far beyond 32 bits saturate (they are out of every range the caller checks).
std::optional<qint64> parseInteger(const QString& text);

// The serial port name for a "Comm_1" value: a number n -> the platform's nth port
// (COMn on Windows, /dev/ttyS(n-1) on Linux); a path is used as written.
QString serialPortName(const QString& commPort);

Q_DECLARE_METATYPE(StartupConfig)
