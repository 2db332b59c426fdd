#pragma once

#include <QDir>
#include <QMetaType>
#include <QString>
#include <optional>
#include <variant>

#include "mqtt_config.h"

// Everything the station reads from modbus.ini at start-up for one module, in the order
// it is read.
struct StartupConfig {
    int number = 1;   // the module's number in its keys: ID_1, ID_2, ...
    QString name;     // Nombre_n, shown when the station drives several modules
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
// The modules one station drives at most ([Global] Modulos).
constexpr int kMaxModules = 8;

// A start-up failure: the Spanish text for the message box, naming key and value.
struct ConfigError {
    QString message;
};

// Reads the link keys (steps 1 to 3); the caller opens the link before reading the rest,
// so a port that cannot be opened stops start-up before any later key is read.
// Module `number` >= 2 takes module 1's value for every link key it lacks.
std::variant<StartupConfig, ConfigError> readLinkConfig(const QDir& dir = QDir::current(),
                                                        int number = 1);
// Reads Decimales_n, ID_n, Nombre_n, Timer and Tolerancia_n into `config`, for its
// module's number. Module n >= 2 must have its ID_n; its other keys default to module 1's.
std::variant<StartupConfig, ConfigError> readRemainingConfig(StartupConfig config,
                                                             const QDir& dir = QDir::current());

// The keys of module `number` that its records are read back with, each as
// readRemainingConfig reads it: Decimales_n, Nombre_n ("Módulo n" without one) and
// Tolerancia_n.
std::variant<int, ConfigError> readModuleDecimals(int number, const QDir& dir = QDir::current());
QString readModuleName(int number, const QDir& dir = QDir::current());
std::variant<double, ConfigError> readModuleTolerance(int number,
                                                      const QDir& dir = QDir::current());

// [Global] Modulos: how many modules the station drives, 1 (the default) to kMaxModules.
std::variant<int, ConfigError> readModuleCount(const QDir& dir = QDir::current());
// Whether two modules are reached through the one port or connection.
bool sameLink(const StartupConfig& a, const StartupConfig& b);
// Two modules of one link at one address could not be told apart on the wire: the
// start-up error naming both keys, or nothing.
std::optional<ConfigError> sharedAddress(const QList<StartupConfig>& modules);

// Reads section [MQTT]. With no "Servidor" the result is not enabled and no other key
// is read: a station without a broker behaves as it always did.
std::variant<MqttConfig, ConfigError> readMqttConfig(const QDir& dir = QDir::current());
// What to tell the plant of a modbus.ini in `dir` that holds the broker's Clave while its
// permissions let every account of the computer read it; empty when it holds none or keeps
// it from them. Said at every start, never stopping it.
QString exposedSecretWarning(const MqttConfig& config, const QDir& dir = QDir::current());
// The [MQTT] key of module `number`'s topic root: "Tema" for the first, "Tema_n" after it.
QString topicRootKey(int number);
// The root module `number` publishes under: for the first, Tema as readMqttConfig read it;
// for module n, Tema_n, or Tema followed by "-n" when absent.
std::variant<QString, ConfigError> readModuleTopicRoot(const MqttConfig& config, int number,
                                                       const QDir& dir = QDir::current());

// The integer in `text`: an optional sign, then decimal digits and nothing else.
// Magnitudes far beyond 32 bits saturate (they are out of every range the caller checks).
std::optional<qint64> parseInteger(const QString& text);

// The serial port name for a "Comm_1" value: a number n -> the platform's nth port
// (COMn on Windows, /dev/ttyS(n-1) on Linux); a path is used as written.
QString serialPortName(const QString& commPort);

Q_DECLARE_METATYPE(StartupConfig)
