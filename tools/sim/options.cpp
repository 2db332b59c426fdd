#include "options.h"

#include <QCommandLineParser>

namespace sim {

namespace {

struct Parsed {
    QString error;

    int integer(const QCommandLineParser& p, const QString& name, int fallback, int low, int high) {
        if (!p.isSet(name)) return fallback;
        bool ok = false;
        const int v = p.value(name).toInt(&ok);
        if (!ok || v < low || v > high)
            error = QStringLiteral("--%1 wants a whole number from %2 to %3")
                        .arg(name)
                        .arg(low)
                        .arg(high);
        return v;
    }

    double probability(const QCommandLineParser& p, const QString& name) {
        if (!p.isSet(name)) return 0;
        bool ok = false;
        const double v = p.value(name).toDouble(&ok);
        if (!ok || v < 0 || v > 1)
            error = QStringLiteral("--%1 wants a probability from 0 to 1").arg(name);
        return v;
    }
};

// "7:+30,12:-25": cycle 7 lands 30 steps over, cycle 12 25 under.
std::optional<std::map<int, qint32>> parseForced(const QString& text) {
    std::map<int, qint32> forced;
    for (const QString& pair : text.split(QLatin1Char(','))) {
        const QStringList parts = pair.trimmed().split(QLatin1Char(':'));
        bool okCycle = false;
        bool okSteps = false;
        const int cycle = parts.size() == 2 ? parts[0].toInt(&okCycle) : 0;
        const int steps = parts.size() == 2 ? parts[1].toInt(&okSteps) : 0;
        if (!okCycle || !okSteps || cycle < 1) return std::nullopt;
        forced[cycle] = steps;
    }
    return forced;
}

QCommandLineOption valued(const QString& name, const QString& help, const QString& value) {
    return QCommandLineOption(name, help, value);
}

}  // namespace

std::optional<SimOptions> parseOptions(const QStringList& arguments, QString* message,
                                       int* exitCode) {
    QCommandLineParser p;
    p.setApplicationDescription(QStringLiteral(
        "Simulated weighing and dosing module: a Modbus RTU slave (functions 3 and 6,\n"
        "registers 0 to 22) over TCP (RTU frames, no other header) or a serial line.\n"
        "Prints 'listening on HOST:PORT' or 'serving on PATH' once it serves, and\n"
        "'cycle N final W' on standard error once each dosing cycle has settled.\n"
        "SIGTERM/SIGINT: print the counters and end. SIGUSR1: print the counters.\n"
        "SIGUSR2: switch the module off (no replies) or on again.\n"
        "Keys written to register 6: S start/stop a cycle, Z zero, M tare on/off,\n"
        "P flash PRINT, F show net/gross/tare. Commands (register 7): 1 start, 2 stop,\n"
        "3 zero, 4 take tare, 5 clear tare, 6 tare = data word, 7 theoretical = data word;\n"
        "result in the high byte: 1 done, 2 refused, 3 unknown command."));
    p.addHelpOption();
    const QCommandLineOption version(QStringLiteral("version"),
                                     QStringLiteral("Print the version and end."));
    p.addOption(version);
    p.addOptions({
        valued(
            "listen",
            "Serve RTU over TCP on HOST:PORT (default 127.0.0.1:3000; port 0 picks a free port).",
            "HOST:PORT"),
        valued("serial", "Serve a serial device (8N1 at --baud, default 9600) instead of TCP.",
               "PATH"),
        valued("pty", "Linux: create a pty, make LINK a symlink to it and serve it.", "LINK"),
        valued("slave", "Slave address answered besides 0 (default 1).", "N"),
        valued("ids",
               "A line of modules: each address an independent module on the one port or "
               "listener (0 is the first one's), e.g. 1,2,3. Address 1 doses as a lone "
               "module; each address after it a quarter more (theoretical weight and "
               "cut-offs), its feeds half a lone module's time slower.",
               "N,N,..."),
        valued("toggle", "The addresses SIGUSR2 switches off and on (default: all).", "N,N,..."),
        valued("decimals", "Decimals shown on the display (default 0).", "N"),
        valued("baud",
               "Wire-speed emulation: each reply goes out when a serial line at this speed would "
               "have carried request, reply and gaps.",
               "N"),
        {"verbose", "Print one line per request on standard error."},
        valued("stats-interval", "Print the counters line every MS milliseconds.", "MS"),
        QCommandLineOption({"seed", "random-start"},
                           "Start value of the random generator (default 1).", "N"),
        valued("spread",
               "Final weights spread normally around the theoretical weight with this standard "
               "deviation in display steps (default: within 2 steps).",
               "STEPS"),
        valued("force",
               "Cycles that land a given number of steps off the theoretical weight, e.g. "
               "7:+30,12:-25 (cycles counted from 1).",
               "N:STEPS,..."),
        {"auto-cycle", "Run dosing cycles one after another without a key press."},
        {"silent", "Start switched off: no request is answered (SIGUSR2 toggles)."},
        valued("drop", "Probability of not replying at all.", "P"),
        valued("late", "Probability of replying late (after --late-ms).", "P"),
        valued("late-ms", "Delay of a late reply (default 2500).", "MS"),
        valued("bad-crc", "Probability of a reply with a wrong CRC.", "P"),
        valued("extra-byte", "Probability of a reply with one byte too many.", "P"),
        valued("split", "Probability of a reply sent in 2 to 4 pieces with pauses.", "P"),
        valued("split-pause", "Pause between the pieces of a split reply (default 30).", "MS"),
        valued("exception", "Probability of an exception reply (code 4) instead of the answer.",
               "P"),
        valued("stale", "Probability of 1 to 5 junk bytes sent shortly after a reply.", "P"),
        valued("close-after", "TCP: close the connection after N requests.", "N"),
        valued("fault-every", "The faults given fire on every Nth request instead of by chance.",
               "N"),
    });
    if (!p.parse(arguments)) {
        *message = p.errorText();
        *exitCode = 2;
        return std::nullopt;
    }
    if (p.isSet("help")) {
        *message = p.helpText();
        *exitCode = 0;
        return std::nullopt;
    }
    if (p.isSet(version)) {
        *message = QStringLiteral("vormelq-sim " VORMELQ_VERSION);
        *exitCode = 0;
        return std::nullopt;
    }
    if (!p.positionalArguments().isEmpty()) {
        *message = QStringLiteral("unexpected argument: %1").arg(p.positionalArguments().first());
        *exitCode = 2;
        return std::nullopt;
    }

    SimOptions o;
    Parsed parsed;
    if (p.isSet("listen")) {
        const QString listen = p.value("listen");
        const qsizetype colon = listen.lastIndexOf(QLatin1Char(':'));
        bool ok = colon > 0;
        if (ok) {
            o.host = listen.left(colon);
            o.port = listen.mid(colon + 1).toInt(&ok);
        }
        if (!ok || o.port < 0 || o.port > 65535)
            parsed.error = QStringLiteral("--listen wants HOST:PORT");
    }
    o.serial = p.value("serial");
    o.pty = p.value("pty");
    o.slave = parsed.integer(p, "slave", 1, 1, 247);
    for (const char* name : {"ids", "toggle"}) {
        if (!p.isSet(name)) continue;
        QList<int> ids;
        for (const QString& part : p.value(name).split(u',')) {
            bool ok = false;
            const int id = part.toInt(&ok);
            if (!ok || id < 1 || id > 247 || ids.contains(id)) {
                parsed.error = QStringLiteral(
                                   "--%1 wants distinct addresses from 1 to 247, "
                                   "e.g. 1,2,3")
                                   .arg(QLatin1String(name));
                break;
            }
            ids << id;
        }
        (QByteArray(name) == "ids" ? o.ids : o.toggled) = ids;
    }
    o.decimals = parsed.integer(p, "decimals", 0, 0, 5);
    o.baud = parsed.integer(p, "baud", 0, 0, 4000000);
    o.verbose = p.isSet("verbose");
    o.statsIntervalMs = parsed.integer(p, "stats-interval", 0, 0, 86400000);
    o.randomStart = static_cast<quint32>(parsed.integer(p, "seed", 1, 0, 2147483647));
    if (p.isSet("spread")) {
        bool ok = false;
        o.spread = p.value("spread").toDouble(&ok);
        if (!ok || *o.spread < 0 || *o.spread > 1e6)
            parsed.error = QStringLiteral("--spread wants a number of steps from 0 to 1000000");
    }
    if (p.isSet("force")) {
        const auto forced = parseForced(p.value("force"));
        if (!forced)
            parsed.error = QStringLiteral("--force wants CYCLE:STEPS pairs, e.g. 7:+30,12:-25");
        else
            o.forced = *forced;
    }
    o.autoCycle = p.isSet("auto-cycle");
    o.silent = p.isSet("silent");
    FaultOptions& f = o.faults;
    f.drop = parsed.probability(p, "drop");
    f.late = parsed.probability(p, "late");
    f.lateMs = parsed.integer(p, "late-ms", f.lateMs, 0, 600000);
    f.badCrc = parsed.probability(p, "bad-crc");
    f.extraByte = parsed.probability(p, "extra-byte");
    f.split = parsed.probability(p, "split");
    f.splitPauseMs = parsed.integer(p, "split-pause", f.splitPauseMs, 0, 60000);
    f.exception = parsed.probability(p, "exception");
    f.stale = parsed.probability(p, "stale");
    f.closeAfter = parsed.integer(p, "close-after", 0, 0, 1000000000);
    f.every = parsed.integer(p, "fault-every", 0, 0, 1000000000);
    if (!o.serial.isEmpty() && !o.pty.isEmpty())
        parsed.error = QStringLiteral("--serial and --pty exclude each other");
    if (!parsed.error.isEmpty()) {
        *message = parsed.error;
        *exitCode = 2;
        return std::nullopt;
    }
    return o;
}

}  // namespace sim
