#include "startup_config.h"

#include <QFileInfo>
#include <QRegularExpression>
#include <algorithm>
#include <limits>
#include <optional>

#include "lee_ini.h"

namespace {

// The program spells the section "Global" for the link keys and "global" for the rest;
// the read ignores case, so both are the one section of the file.
const QString kLinkSection = QStringLiteral("Global");
const QString kSection = QStringLiteral("global");

struct IntRange {
    qint64 min;
    qint64 max;
};

constexpr IntRange kInt16{-32768, 32767};
// A port number beyond 65535 cannot go into a socket address, and port 0 would let
// the system pick one: neither reaches the module.
constexpr IntRange kPort{1, 65535};
// The poll timer's interval; 0 is valid and means the timer never fires.
constexpr IntRange kTimer{0, 65535};
// Weights are divided by 10 to the power of the decimals; the module's 32-bit readings
// have at most 10 digits, so more than 9 places is a typing slip, not a scale.
constexpr IntRange kDecimals{0, 9};

const QString kMqttSection = QStringLiteral("MQTT");
// libmosquitto refuses a keep-alive under 5 s; 0 (none) would leave a killed station
// "online" for ever.
constexpr IntRange kKeepalive{5, 65535};
constexpr IntRange kMaxPending{1, std::numeric_limits<int>::max()};

// Module n's key: "ID" -> "ID_2".
QString moduleKey(const char* base, int number) {
    return QStringLiteral("%1_%2").arg(QLatin1String(base)).arg(number);
}

// Module n's value of a per-module key: its own, else module 1's, else `builtIn`. Every
// key keeps the stored-value rule (the last character dropped).
QString moduleValue(const QString& section, const char* base, int number, const QString& builtIn,
                    const QDir& dir) {
    const QString first = number == 1 ? builtIn : LeeIni(section, moduleKey(base, 1), builtIn, dir);
    return LeeIni(section, moduleKey(base, number), first, dir);
}

ConfigError invalidValue(const QString& key, const QString& value, const QString& reason) {
    return {QStringLiteral("Valor no válido en modbus.ini: clave \"%1\" = \"%2\" (%3)")
                .arg(key, value, reason)};
}

QString rangeReason(IntRange range) {
    return QStringLiteral("fuera de rango: debe estar entre %1 y %2").arg(range.min).arg(range.max);
}

// Every range checked here lies within int.
std::variant<int, ConfigError> toInteger(const QString& key, const QString& value, IntRange range) {
    if (value.isEmpty())
        return invalidValue(key, value, QStringLiteral("vacío tras quitar el último carácter"));
    const std::optional<qint64> number = parseInteger(value);
    if (!number) return invalidValue(key, value, QStringLiteral("debe ser un número entero"));
    if (*number < range.min || *number > range.max)
        return invalidValue(key, value, rangeReason(range));
    return static_cast<int>(*number);
}

std::variant<int, ConfigError> readInteger(const QString& section, const QString& key,
                                           const QString& defaultValue, IntRange range,
                                           const QDir& dir) {
    return toInteger(key, LeeIni(section, key, defaultValue, dir), range);
}

// A percentage as a plant writes it: digits with one decimal point or comma, nothing
// else (no sign, exponent or blanks). More than 100 % is no tolerance of a dose.
std::variant<double, ConfigError> toPercent(const QString& key, const QString& value) {
    static const QRegularExpression kPercent(QStringLiteral("^[0-9]{1,9}([.,][0-9]{1,9})?$"));
    if (value.isEmpty())
        return invalidValue(key, value, QStringLiteral("vacío tras quitar el último carácter"));
    if (!kPercent.match(value).hasMatch())
        return invalidValue(key, value, QStringLiteral("debe ser un porcentaje, p. ej. 0.5"));
    const double percent = QString(value).replace(u',', u'.').toDouble();
    if (percent > 100)
        return invalidValue(key, value, QStringLiteral("fuera de rango: debe estar entre 0 y 100"));
    return percent;
}

bool isDevicePath(const QString& value) {
#ifdef Q_OS_WIN
    return value.startsWith(QStringLiteral("\\\\.\\"));
#else
    return value.startsWith(u'/');
#endif
}

// Comm_1 is a port number, counted as Windows counts COM ports, or a device path
// ("\\.\COM12" on Windows, "/dev/ttyUSB0" elsewhere): USB adapters and test pty pairs
// have no place in the ttySn numbering.
std::variant<QString, ConfigError> toCommPort(const QString& key, const QString& value) {
    if (isDevicePath(value)) return value;
    if (!value.isEmpty() && !parseInteger(value))
        return invalidValue(key, value,
                            QStringLiteral("debe ser un número de puerto o la ruta de un "
                                           "dispositivo serie"));
    auto number = toInteger(key, value, {1, kInt16.max});
    if (auto* failure = std::get_if<ConfigError>(&number)) return *failure;
    return QString::number(std::get<int>(number));
}

}  // namespace

std::optional<qint64> parseInteger(const QString& text) {
    // Values on the station's wire never exceed 32 bits; saturating here keeps any
    // run of digits (even thousands of them) out of overflow and still out of range.
    constexpr qint64 kSaturated = qint64(1) << 40;
    qsizetype i = 0;
    bool negative = false;
    if (i < text.size() && (text[i] == u'+' || text[i] == u'-')) negative = text[i++] == u'-';
    if (i == text.size()) return std::nullopt;
    qint64 value = 0;
    for (; i < text.size(); ++i) {
        const char16_t c = text[i].unicode();
        if (c < u'0' || c > u'9') return std::nullopt;
        value = std::min(value * 10 + (c - u'0'), kSaturated);
    }
    return negative ? -value : value;
}

std::variant<StartupConfig, ConfigError> readLinkConfig(const QDir& dir, int number) {
    // A file that is there but is no text must not pass for "no file": the station would
    // start on the defaults and complain about a port nobody configured.
    if (const QString problem = iniFileProblem(dir); !problem.isEmpty())
        return ConfigError{problem};
    StartupConfig config;
    config.number = number;
    const auto value = [&](const QString& section, const char* base, const QString& builtIn) {
        return moduleValue(section, base, number, builtIn, dir);
    };
    const auto link = toInteger(moduleKey("Comunicacion", number),
                                value(kLinkSection, "Comunicacion", QStringLiteral("0")), kInt16);
    if (auto* failure = std::get_if<ConfigError>(&link)) return *failure;
    config.TcpLink = std::get<int>(link);

    // Only the chosen link's keys are read: a broken value in the other mode's keys
    // must not stop a station that never uses them.
    if (config.TcpLink != 0) {
        config.host = value(kLinkSection, "Host", QString::fromLatin1(kDefaultHost));
        const auto port = toInteger(moduleKey("Port", number),
                                    value(kLinkSection, "Port", QStringLiteral("3000")), kPort);
        if (auto* failure = std::get_if<ConfigError>(&port)) return *failure;
        config.port = std::get<int>(port);
        return config;
    }

    auto comm = toCommPort(moduleKey("Comm", number), value(kSection, "Comm", QStringLiteral("2")));
    if (auto* failure = std::get_if<ConfigError>(&comm)) return *failure;
    config.commPort = std::get<QString>(comm);
    // The baud text goes to the serial port as written; the port decides what it takes.
    config.baud = value(kSection, "Baudios", QStringLiteral("9600"));
    return config;
}

std::variant<StartupConfig, ConfigError> readRemainingConfig(StartupConfig config,
                                                             const QDir& dir) {
    const int number = config.number;
    const auto decimals = readModuleDecimals(number, dir);
    if (auto* failure = std::get_if<ConfigError>(&decimals)) return *failure;
    config.Decimals = std::get<int>(decimals);

    // Any 16-bit slave address is kept: one that does not fit the address byte makes
    // every transaction fail without sending anything, so the station starts and shows
    // its no-communication label rather than refusing to start. A second module has no
    // address to inherit: two modules at one address would answer as one.
    const QString slaveKey = moduleKey("ID", number);
    const QString slaveText =
        LeeIni(kSection, slaveKey, number == 1 ? QStringLiteral("0") : QString(), dir);
    if (number > 1 && slaveText.isEmpty())
        return ConfigError{
            QStringLiteral("Falta en modbus.ini la clave \"%1\" (la dirección del módulo %2)")
                .arg(slaveKey)
                .arg(number)};
    const auto slave = toInteger(slaveKey, slaveText, kInt16);
    if (auto* failure = std::get_if<ConfigError>(&slave)) return *failure;
    config.SlaveId = std::get<int>(slave);

    config.name = readModuleName(number, dir);

    const auto timer =
        readInteger(kSection, QStringLiteral("Timer"), QStringLiteral("500"), kTimer, dir);
    if (auto* failure = std::get_if<ConfigError>(&timer)) return *failure;
    config.timerInterval = std::get<int>(timer);

    const auto tolerance = readModuleTolerance(number, dir);
    if (auto* failure = std::get_if<ConfigError>(&tolerance)) return *failure;
    config.tolerancePercent = std::get<double>(tolerance);
    return config;
}

std::variant<int, ConfigError> readModuleDecimals(int number, const QDir& dir) {
    return toInteger(moduleKey("Decimales", number),
                     moduleValue(kSection, "Decimales", number, QStringLiteral("0"), dir),
                     kDecimals);
}

QString readModuleName(int number, const QDir& dir) {
    const QString defaultName = QStringLiteral("Módulo %1").arg(number);
    const QString name = LeeIni(kSection, moduleKey("Nombre", number), defaultName, dir).trimmed();
    return name.isEmpty() ? defaultName : name;
}

std::variant<double, ConfigError> readModuleTolerance(int number, const QDir& dir) {
    return toPercent(moduleKey("Tolerancia", number),
                     moduleValue(kLinkSection, "Tolerancia", number, QStringLiteral("0"), dir));
}

QString topicRootKey(int number) {
    return number == 1 ? QStringLiteral("Tema") : moduleKey("Tema", number);
}

std::variant<QString, ConfigError> readModuleTopicRoot(const MqttConfig& config, int number,
                                                       const QDir& dir) {
    if (number == 1) return config.topicRoot;
    const QString key = topicRootKey(number);
    const QString root =
        LeeIni(kMqttSection, key, QStringLiteral("%1-%2").arg(config.topicRoot).arg(number), dir);
    if (const QString problem = topicRootProblem(root); !problem.isEmpty())
        return invalidValue(key, root, problem);
    return root;
}

std::variant<int, ConfigError> readModuleCount(const QDir& dir) {
    return readInteger(kSection, QStringLiteral("Modulos"), QStringLiteral("1"), {1, kMaxModules},
                       dir);
}

bool sameLink(const StartupConfig& a, const StartupConfig& b) {
    if ((a.TcpLink != 0) != (b.TcpLink != 0)) return false;
    if (a.TcpLink != 0) return a.host == b.host && a.port == b.port;
    return serialPortName(a.commPort) == serialPortName(b.commPort) && a.baud == b.baud;
}

std::optional<ConfigError> sharedAddress(const QList<StartupConfig>& modules) {
    for (qsizetype j = 1; j < modules.size(); ++j)
        for (qsizetype i = 0; i < j; ++i) {
            const StartupConfig& a = modules[i];
            const StartupConfig& b = modules[j];
            if (a.SlaveId != b.SlaveId || !sameLink(a, b)) continue;
            return invalidValue(moduleKey("ID", b.number), QString::number(b.SlaveId),
                                QStringLiteral("la misma dirección que \"%1\" en la misma línea")
                                    .arg(moduleKey("ID", a.number)));
        }
    return std::nullopt;
}

std::variant<MqttConfig, ConfigError> readMqttConfig(const QDir& dir) {
    MqttConfig config;
    config.host = LeeIni(kMqttSection, QStringLiteral("Servidor"), QString(), dir).trimmed();
    if (!config.enabled()) return config;
    config.user = LeeIni(kMqttSection, QStringLiteral("Usuario"), QString(), dir);
    config.password = LeeIni(kMqttSection, QStringLiteral("Clave"), QString(), dir);
    // The message names the key only: the password's value never reaches a screen.
    if (!config.password.isEmpty() && config.user.isEmpty())
        return ConfigError{QStringLiteral(
            "Valor no válido en modbus.ini: clave \"Clave\" (hace falta también \"Usuario\")")};

    config.caFile = LeeIni(kMqttSection, QStringLiteral("CA"), QString(), dir);
    if (config.tls()) {
        const QFileInfo ca(dir, config.caFile);
        if (!ca.isFile() || !ca.isReadable())
            return invalidValue(QStringLiteral("CA"), config.caFile,
                                QStringLiteral("no se puede leer ese fichero"));
        config.caFile = ca.absoluteFilePath();
    }
    const auto port =
        readInteger(kMqttSection, QStringLiteral("Puerto"),
                    QString::number(config.tls() ? kMqttTlsPort : kMqttPort), kPort, dir);
    if (auto* failure = std::get_if<ConfigError>(&port)) return *failure;
    config.port = std::get<int>(port);

    config.topicRoot = LeeIni(kMqttSection, topicRootKey(1), defaultTopicRoot(), dir);
    if (const QString problem = topicRootProblem(config.topicRoot); !problem.isEmpty())
        return invalidValue(topicRootKey(1), config.topicRoot, problem);

    const auto keepalive = readInteger(kMqttSection, QStringLiteral("Keepalive"),
                                       QStringLiteral("10"), kKeepalive, dir);
    if (auto* failure = std::get_if<ConfigError>(&keepalive)) return *failure;
    config.keepalive = std::get<int>(keepalive);

    const auto maxPending = readInteger(kMqttSection, QStringLiteral("MaxPendientes"),
                                        QString::number(kMqttMaxPending), kMaxPending, dir);
    if (auto* failure = std::get_if<ConfigError>(&maxPending)) return *failure;
    config.maxPending = std::get<int>(maxPending);
    return config;
}

QString serialPortName(const QString& commPort) {
    const std::optional<qint64> number = parseInteger(commPort);
    if (!number || *number < 1) return commPort;
#ifdef Q_OS_WIN
    return QStringLiteral("COM%1").arg(*number);
#else
    return QStringLiteral("/dev/ttyS%1").arg(*number - 1);
#endif
}

QString exposedSecretWarning(const MqttConfig& config, const QDir& dir) {
    const QString name = findIniFile(dir);
    if (config.password.isEmpty() || name.isEmpty()) return {};
#ifdef Q_OS_UNIX
    // Owner and group are the station's (the service's user and group); any other bit is
    // everyone's.
    const QFileDevice::Permissions p = QFileInfo(dir.filePath(name)).permissions();
    if (!p.testFlag(QFileDevice::ReadOther)) return {};
    // Qt keeps the owner's, the group's and the others' bits in hex digits 4, 2 and 1.
    const int bits = p.toInt();
    const QString mode =
        QStringLiteral("0%1%2%3").arg((bits >> 12) & 7).arg((bits >> 4) & 7).arg(bits & 7);
    return QStringLiteral(
               "%1 guarda la Clave del servidor MQTT y cualquier cuenta del equipo puede leerlo "
               "(permisos %2); quite ese permiso con \"chmod o-r %1\"")
        .arg(name, mode);
#else
    // Windows keeps access in lists Qt does not read here.
    return {};
#endif
}
