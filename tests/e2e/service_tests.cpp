// `vormelq --servicio` as systemd and a shell run it: no display and no platform set,
// its records beside an independent slave's window station, its state lines, its
// readiness and watchdog on a notification socket of the test's own, and its stop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <QTemporaryDir>
#include <csignal>

#include "broker.h"
#include "harness.h"

namespace {

const QStringList kNoDisplay = {QStringLiteral("DISPLAY"), QStringLiteral("QT_QPA_PLATFORM")};
const QStringList kServe = {QStringLiteral("--servicio")};

// A Unix datagram socket standing for systemd's notification socket, read whenever the
// test's events run: like systemd's, it never lets the sender's queue fill.
class NotifySocket {
public:
    NotifySocket() {
        sockaddr_un address = {};
        address.sun_family = AF_UNIX;
        const QByteArray path = QFile::encodeName(path_());
        std::copy(path.begin(), path.end(), address.sun_path);
        ok_ = ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0;
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { receive(); });
    }
    ~NotifySocket() {
        notifier_.setEnabled(false);
        ::close(fd_);
    }
    bool ok() const { return ok_; }
    QString environment() const { return QStringLiteral("NOTIFY_SOCKET=") + path_(); }
    // The datagrams received since the last call, each one whole.
    QStringList take() {
        receive();
        return std::exchange(received_, {});
    }

private:
    void receive() {
        char buffer[4096];
        ssize_t n;
        while ((n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0)
            received_ << QString::fromUtf8(buffer, n).trimmed();
    }
    QString path_() const { return dir_.filePath(QStringLiteral("notify")); }
    QTemporaryDir dir_;
    int fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    bool ok_ = false;
    QSocketNotifier notifier_{fd_, QSocketNotifier::Read};
    QStringList received_;
};

// The station's stderr so far, kept across reads.
struct StateLog {
    StationProcess& station;
    QString text;
    QString all() { return text += station.stderrText(); }
    qsizetype count(const QString& words) { return all().count(words); }
};

void signal(StationProcess& station, int number) {
    ::kill(static_cast<pid_t>(station.process().processId()), number);
}

}  // namespace

// The service and the window's station read one independent slave: the same lines, apart
// from their times. The service loads no platform plugin at all, says what it read, and a
// second station in its folder is refused, saying which one holds it.
TEST(Service, RecordsAsTheWindowWithNoDisplayAndKeepsItsFolder) {
    QProcess slave;
    const int port = startPymodbus(slave);
    ASSERT_GT(port, 0);
    QMap<QString, QString> ini = tcpIni(port);
    ini.insert(QStringLiteral("Decimales_1"), QStringLiteral("2"));
    ini.insert(QStringLiteral("Nombre_1"), QStringLiteral("Tolva norte"));
    StationProcess window, service;
    window.writeIni(ini);
    service.writeIni(ini);
    ASSERT_TRUE(window.start());
    ASSERT_TRUE(service.start(kNoDisplay, kServe));
    ASSERT_TRUE(
        waitFor([&] { return service.logLines().size() >= 5 && window.logLines().size() >= 5; }));
    const auto readings = [](const QStringList& lines) {
        QStringList values;
        for (const QString& line : lines) values << line.section(u';', 2);
        return values.mid(0, 5);
    };
    EXPECT_EQ(readings(service.logLines()), readings(window.logLines()));

    QFile maps(QStringLiteral("/proc/%1/maps").arg(service.process().processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("/platforms/"));

    QProcess second;
    second.setWorkingDirectory(service.dir());
    second.start(stationPath(), kServe);
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains(
        QStringLiteral("Ya hay otra estación trabajando en esta carpeta: vormelq, proceso %1")
            .arg(service.process().processId())
            .toUtf8()));

    StateLog log{service, {}};
    EXPECT_TRUE(log.all().startsWith(QStringLiteral("vormelq: servicio en marcha en %1: 1 módulo")
                                         .arg(QDir(service.dir()).canonicalPath())))
        << log.text.toStdString();
    EXPECT_TRUE(log.all().contains(
        QStringLiteral("vormelq: Tolva norte: ID 1 por TCP 127.0.0.1:%1, 2 decimales").arg(port)));
    EXPECT_TRUE(log.all().contains(QStringLiteral("vormelq: Tolva norte: el módulo responde\n")));
}

// One line for each change of state, none for each reading: a module switched off and on,
// the broker stopped and started, Peso.csv locked (a directory in its place) while lines
// wait beside it, then free again.
TEST(Service, SaysEachChangeOfStateOnce) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    StationProcess service;
    service.writeIni(tcpIni(sim.port()));
    addIniSection(service.dir(), QStringLiteral("MQTT"),
                  {{"Servidor", "127.0.0.1"},
                   {"Puerto", QString::number(broker.port())},
                   {"Tema", "vormelq/linea1"},
                   {"Keepalive", "5"}});
    ASSERT_TRUE(service.start(kNoDisplay, kServe));
    StateLog log{service, {}};
    const QString answers = QStringLiteral("vormelq: Módulo 1: el módulo responde\n");
    const QString silent =
        QStringLiteral("vormelq: Módulo 1: ERROR: No hay comunicación con el módulo\n");
    const QString connected = QStringLiteral("vormelq: MQTT: conectado\n");
    ASSERT_TRUE(waitFor([&] { return log.count(answers) == 1 && log.count(connected) == 1; }));

    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return log.count(silent) == 1; }));
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return log.count(answers) == 2; }));

    broker.stop();
    ASSERT_TRUE(waitFor(
        [&] { return log.all().contains(QStringLiteral("vormelq: MQTT: sin conexión (")); }));
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(waitFor([&] { return log.count(connected) == 2; }));

    QDir dir(service.dir());
    const auto paused = [&](const std::function<bool()>& change) {
        signal(service, SIGSTOP);
        const bool done = change();
        signal(service, SIGCONT);
        return done;
    };
    ASSERT_TRUE(
        paused([&] { return dir.rename("Peso.csv", "Peso.keep") && dir.mkdir("Peso.csv"); }));
    ASSERT_TRUE(waitFor([&] { return logLines(service.dir(), "Peso.pendiente.csv").size() >= 5; }));
    ASSERT_TRUE(
        paused([&] { return dir.rmdir("Peso.csv") && dir.rename("Peso.keep", "Peso.csv"); }));
    ASSERT_TRUE(waitFor(
        [&] { return log.all().contains(QStringLiteral("Peso.csv se escribe de nuevo")); }));

    const QStringList lines = log.all().split(u'\n', Qt::SkipEmptyParts);
    const auto first = [&](const QString& words) {
        for (qsizetype i = 0; i < lines.size(); ++i)
            if (lines[i].contains(words)) return i;
        return qsizetype(-1);
    };
    EXPECT_EQ(lines.filter("No se puede escribir").size(), 1) << log.text.toStdString();
    EXPECT_EQ(lines.filter("Peso.csv se escribe de nuevo (esperaban").size(), 1);
    EXPECT_GT(
        first("Peso.csv se escribe de nuevo"),
        first("vormelq: Módulo 1: ERROR: No se puede escribir Peso.csv (1 lectura pendiente)"));
    // Two lines of the start, then module and broker: nothing per reading.
    EXPECT_EQ(lines.size(), 2 + 3 + 3 + 2) << log.text.toStdString();
}

// systemd's protocol on a socket of the test's own, with a one-second watchdog: READY=1
// first, then pings while the poll moves; none while the poll loop is held on one module
// that does not answer (between its second and third attempt it has been on that step
// for far longer than half the watchdog), pings again once it answers; STOPPING=1 at the
// end, and a SIGHUP on the way changes nothing.
TEST(Service, ReadyThenWatchdogOnlyWhileThePollLoopMoves) {
    NotifySocket systemd;
    ASSERT_TRUE(systemd.ok());
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    StationProcess service;
    service.writeIni(tcpIni(sim.port()));
    ASSERT_TRUE(service.start(
        kNoDisplay + QStringList{systemd.environment(), "WATCHDOG_USEC=1000000"}, kServe));
    QStringList told;
    const auto pings = [&](int count) {
        return waitFor([&] {
            told += systemd.take();
            return told.count("WATCHDOG=1") >= count;
        });
    };
    ASSERT_TRUE(pings(3));
    EXPECT_EQ(told.first(), "READY=1");

    const auto silentAsks = [&] { return sim.counters().value("faults.silent"); };
    const qint64 before = silentAsks();
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return silentAsks() >= before + 2; }));
    systemd.take();
    ASSERT_TRUE(waitFor([&] { return silentAsks() >= before + 3; }));
    EXPECT_EQ(systemd.take().count("WATCHDOG=1"), 0);
    sim.toggleSilent();
    told.clear();
    ASSERT_TRUE(pings(2));

    signal(service, SIGHUP);
    const qsizetype logged = service.logLines().size();
    waitFor([&] { return service.logLines().size() >= logged + 5 || !service.running(); });
    ASSERT_TRUE(service.running()) << service.stderrText().toStdString();
    signal(service, SIGTERM);
    ASSERT_TRUE(service.process().waitForFinished(60000));
    EXPECT_EQ(service.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(service.exitCode(), 0);
    EXPECT_EQ(systemd.take().filter("STOPPING=1").size(), 1);
}

// systemctl stop during a broker outage loses nothing: after the next start every
// reading in Peso.csv reaches a durable subscriber once the broker is back, seq without
// a gap.
TEST(Service, StoppedDuringABrokerOutageLosesNothing) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), "vormelq/linea1", {"-c", "-i", "historiador"});
    StationProcess service;
    service.writeIni(tcpIni(sim.port()));
    addIniSection(service.dir(), QStringLiteral("MQTT"),
                  {{"Servidor", "127.0.0.1"},
                   {"Puerto", QString::number(broker.port())},
                   {"Tema", "vormelq/linea1"},
                   {"Keepalive", "5"}});
    ASSERT_TRUE(service.start(kNoDisplay, kServe));
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 5; }));

    broker.stop();
    const qsizetype loggedAtStop = service.logLines().size();
    ASSERT_TRUE(waitFor([&] { return service.logLines().size() >= loggedAtStop + 15; }));
    signal(service, SIGTERM);
    ASSERT_TRUE(service.process().waitForFinished(60000));
    EXPECT_EQ(service.exitCode(), 0);
    ASSERT_TRUE(broker.start());
    ASSERT_TRUE(service.start(kNoDisplay, kServe));
    const qsizetype logged = service.logLines().size();
    ASSERT_TRUE(waitFor([&] { return service.logLines().size() >= logged + 5; }));
    sim.toggleSilent();
    StateLog log{service, {}};
    ASSERT_TRUE(waitFor([&] { return log.all().contains("No hay comunicación"); }));

    const QStringList lines = service.logLines();
    const auto seqOf = [](const QByteArray& payload) {
        return QJsonDocument::fromJson(payload).object().value("seq").toInteger();
    };
    ASSERT_TRUE(waitFor([&] {
        const auto all = receiver.payloads("lectura");
        return !all.isEmpty() && seqOf(all.last()) == lines.size();
    }));
    // QoS 1: a message may come twice, the same each time; none may be missing.
    QMap<qint64, QByteArray> bySeq;
    for (const QByteArray& payload : receiver.payloads("lectura")) {
        const QByteArray first = bySeq.value(seqOf(payload), payload);
        EXPECT_EQ(first, payload) << "one seq, two readings";
        bySeq.insert(seqOf(payload), payload);
    }
    EXPECT_EQ(bySeq.firstKey(), 1);
    EXPECT_EQ(bySeq.size(), lines.size());
    EXPECT_EQ(bySeq.lastKey(), lines.size());
}
