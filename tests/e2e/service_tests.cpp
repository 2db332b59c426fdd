// The station without a window as systemd runs it (vormelq-servicio, or vormelq --servicio):
// no display and no platform, its records beside the window station's, its state lines,
// readiness and watchdog on a notification socket of the test's own, and its stop.
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <QDir>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSocketNotifier>
#include <csignal>

#include "broker.h"
#include "harness.h"

namespace {

const QStringList kNoDisplay = {"DISPLAY", "QT_QPA_PLATFORM"};
const QStringList kServe = {"--servicio"};

// systemd's notification socket, read whenever the test's events run, as systemd does.
class NotifySocket {
public:
    NotifySocket() {
        sockaddr_un address = {AF_UNIX, {}};
        const QByteArray path = QFile::encodeName(dir_.filePath("notify"));
        std::copy(path.begin(), path.end(), address.sun_path);
        ::bind(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address);
        QObject::connect(&notifier_, &QSocketNotifier::activated, [this] { take(false); });
    }
    ~NotifySocket() { notifier_.setEnabled(false), ::close(fd_); }
    QString environment() const { return "NOTIFY_SOCKET=" + dir_.filePath("notify"); }
    // The datagrams received since the last call, but for the statuses.
    QStringList take(bool clear = true) {
        char buffer[512];
        for (ssize_t n; (n = ::recv(fd_, buffer, sizeof buffer, 0)) > 0;) {
            const QString datagram = QString::fromUtf8(buffer, n).trimmed();
            if (datagram.startsWith(u"STATUS="))
                statuses_ << datagram.mid(7);
            else
                received_ << datagram;
        }
        return clear ? std::exchange(received_, {}) : received_;
    }
    // Whether a status that begins with `start` came, ever.
    bool toldStatus(const QString& start) {
        take(false);
        return std::any_of(statuses_.begin(), statuses_.end(),
                           [&](const QString& status) { return status.startsWith(start); });
    }

private:
    QTemporaryDir dir_;
    int fd_ = ::socket(AF_UNIX, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
    QSocketNotifier notifier_{fd_, QSocketNotifier::Read};
    QStringList received_;
    QStringList statuses_;
};

void signal(StationProcess& station, int number) {
    ::kill(static_cast<pid_t>(station.process().processId()), number);
}

}  // namespace

// The service and the window's station on one independent slave write the same readings;
// `vormelq --servicio` loads no platform plugin, says what it read, and vormelq-servicio
// started in its folder is refused, naming it. Both say that their modbus.ini lets every
// account read the broker's Clave.
TEST(Service, RecordsAsTheWindowWithNoDisplayAndKeepsItsFolder) {
    QProcess slave;
    const int port = startPymodbus(slave);
    ASSERT_GT(port, 0);
    QMap<QString, QString> ini = tcpIni(port);
    ini.insert({{"Decimales_1", "2"}, {"Nombre_1", "Tolva norte"}});
    StationProcess window, service;
    for (StationProcess* station : {&window, &service}) {
        station->writeIni(ini);
        // A broker's password in a file every account may read (a broker that refuses
        // the connection: nothing here needs one).
        addIniSection(station->dir(), "MQTT",
                      {{"Servidor", "127.0.0.1"},
                       {"Puerto", "1"},
                       {"Usuario", "linea"},
                       {"Clave", "secreta"},
                       {"Tema", station == &window ? "prueba/ventana" : "prueba/servicio"}});
        QFile::setPermissions(QDir(station->dir()).filePath("modbus.ini"),
                              QFileDevice::ReadOwner | QFileDevice::WriteOwner |
                                  QFileDevice::ReadGroup | QFileDevice::ReadOther);
    }
    ASSERT_TRUE(window.start());
    ASSERT_TRUE(service.start(kNoDisplay, kServe));
    const auto readings = [](const StationProcess& station) {
        QStringList values;
        for (const QString& line : station.logLines().mid(0, 5)) values << line.section(u';', 2);
        return values;
    };
    ASSERT_TRUE(waitFor([&] { return readings(service).size() + readings(window).size() == 10; }));
    EXPECT_EQ(readings(service), readings(window));

    QFile maps(QStringLiteral("/proc/%1/maps").arg(service.process().processId()));
    ASSERT_TRUE(maps.open(QIODevice::ReadOnly));
    EXPECT_FALSE(maps.readAll().contains("/platforms/"));

    QProcess second;
    second.setWorkingDirectory(service.dir());
    second.start(servicePath());
    ASSERT_TRUE(second.waitForFinished(60000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_TRUE(second.readAllStandardError().contains("Ya hay otra estación trabajando"));
    const QString said = service.stderrText();
    EXPECT_TRUE(said.contains(
        QStringLiteral("vormelq: Tolva norte: ID 1 por TCP 127.0.0.1:%1, 2 decimales").arg(port)));
    const QString exposed = QStringLiteral(
        "vormelq: modbus.ini guarda la Clave del servidor MQTT y cualquier cuenta del equipo "
        "puede leerlo (permisos 0644)");
    EXPECT_TRUE(said.contains(exposed)) << said.toStdString();
    EXPECT_TRUE(window.stderrText().contains(exposed));
}

// One line for each change of state and none for each reading, and systemd's protocol with
// a one-second watchdog: the status kept current (the modules, the silent ones, those with
// a record waiting, the broker), READY=1 first, then pings while the poll moves, none while
// the poll loop is held on a module that does not answer (between its second and third
// attempt that step is far older than half the watchdog), pings again once it answers.
// Then Peso.csv locked (a directory in its place) while lines wait beside it, a SIGHUP
// that changes nothing, the broker stopped; SIGTERM during that outage ends with 0 after
// STOPPING=1 and loses nothing: after the next start a durable subscriber gets every line
// of Peso.csv, seq without a gap.
TEST(Service, SaysEachChangeOfStateOnceWatchdogAndStop) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), "vormelq/linea1", {"-c", "-i", "historiador"});
    NotifySocket systemd;
    StationProcess service;
    service.writeIni(tcpIni(sim.port()));
    addIniSection(service.dir(), "MQTT",
                  {{"Servidor", "127.0.0.1"},
                   {"Puerto", QString::number(broker.port())},
                   {"Tema", "vormelq/linea1"},
                   {"Keepalive", "5"}});
    const QStringList environment =
        kNoDisplay + QStringList{systemd.environment(), "WATCHDOG_USEC=1000000"};
    ASSERT_TRUE(service.start(environment, {}, servicePath()));
    QString said;
    const auto says = [&](const QString& line, int times = 1) {
        return waitFor([&] { return (said += service.stderrText()).count(line) == times; });
    };
    const auto pings = [&](int count) {
        return waitFor([&] { return systemd.take(false).count("WATCHDOG=1") >= count; });
    };
    ASSERT_TRUE(says("Módulo 1: el módulo responde\n") && says("MQTT: conectado\n") && pings(3));
    EXPECT_EQ(systemd.take().first(), "READY=1");
    EXPECT_TRUE(systemd.toldStatus("1 módulo, 0 sin comunicación; MQTT conectando"));
    EXPECT_TRUE(waitFor(
        [&] { return systemd.toldStatus("1 módulo, 0 sin comunicación; MQTT conectado, "); }));

    const auto silentAsks = [&] { return sim.counters().value("faults.silent"); };
    const qint64 before = silentAsks();
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return silentAsks() >= before + 2; }));
    systemd.take();
    ASSERT_TRUE(waitFor([&] { return silentAsks() >= before + 3; }));
    EXPECT_EQ(systemd.take().count("WATCHDOG=1"), 0);
    ASSERT_TRUE(says("Módulo 1: ERROR: No hay comunicación con el módulo\n"));
    EXPECT_TRUE(waitFor(
        [&] { return systemd.toldStatus("1 módulo, 1 sin comunicación; MQTT conectado, "); }));
    sim.toggleSilent();
    ASSERT_TRUE(says("Módulo 1: el módulo responde\n", 2) && pings(2));

    signal(service, SIGHUP);
    QDir dir(service.dir());
    const auto paused = [&](const std::function<bool()>& change) {
        signal(service, SIGSTOP);
        const bool done = change();
        signal(service, SIGCONT);
        return done;
    };
    ASSERT_TRUE(
        paused([&] { return dir.rename("Peso.csv", "Peso.keep") && dir.mkdir("Peso.csv"); }));
    ASSERT_TRUE(says("Módulo 1: ERROR: No se puede escribir Peso.csv (1 lectura pendiente)\n"));
    EXPECT_TRUE(waitFor([&] {
        return systemd.toldStatus("1 módulo, 0 sin comunicación, 1 con registros sin escribir; ");
    }));
    ASSERT_TRUE(waitFor([&] { return logLines(dir.path(), "Peso.pendiente.csv").size() >= 5; }));
    ASSERT_TRUE(
        paused([&] { return dir.rmdir("Peso.csv") && dir.rename("Peso.keep", "Peso.csv"); }));
    ASSERT_TRUE(says("Módulo 1: Peso.csv se escribe de nuevo (esperaban "));

    broker.stop();
    ASSERT_TRUE(says("MQTT: sin conexión ("));
    EXPECT_TRUE(waitFor(
        [&] { return systemd.toldStatus("1 módulo, 0 sin comunicación; MQTT sin conexión, "); }));
    // Started, module, record, broker: nothing per reading.
    EXPECT_EQ(said.count(u'\n'), 2 + 3 + 2 + 2) << said.toStdString();
    signal(service, SIGTERM);
    ASSERT_TRUE(service.process().waitForFinished(60000));
    EXPECT_EQ(service.process().exitStatus() == QProcess::NormalExit ? service.exitCode() : -1, 0);
    EXPECT_TRUE(systemd.take().contains("STOPPING=1"));
    ASSERT_TRUE(broker.start() && service.start(environment, {}, servicePath()));
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() > 5; }));
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return service.stderrText().contains("No hay comunicación"); }));
    const qsizetype lines = service.logLines().size();
    // QoS 1: a message may come twice, always the same; none may be missing.
    QMap<qint64, QByteArray> bySeq;
    ASSERT_TRUE(waitFor([&] {
        for (const QByteArray& payload : receiver.payloads("lectura")) {
            const qint64 seq = QJsonDocument::fromJson(payload).object().value("seq").toInteger();
            EXPECT_EQ(bySeq.value(seq, payload), payload) << "one seq, two readings";
            bySeq.insert(seq, payload);
        }
        return bySeq.size() == lines;
    }));
    EXPECT_EQ(bySeq.lastKey(), lines);
}

// A dose out of tolerance is said once, with the module's name, its final weight and its
// deviation as the window's notice shows them, and not for a dose within it.
TEST(Service, SaysADoseOutOfTolerance) {
    QProcess slave;
    const int port =
        startPymodbus(slave, {"1004", "1012"}, QStringLiteral("tests/e2e/dosing_slave.py"));
    ASSERT_GT(port, 0);
    QMap<QString, QString> ini = tcpIni(port);
    ini.insert({{"Decimales_1", "1"}, {"Tolerancia_1", "0.5"}, {"Nombre_1", "Tolva sur"}});
    StationProcess service;
    service.writeIni(ini);
    ASSERT_TRUE(service.start(kNoDisplay, {}, servicePath()));
    ASSERT_TRUE(waitFor([&] { return service.logLines().size() >= 2; }));
    slave.write("go\n");
    QString said;
    ASSERT_TRUE(waitFor([&] {
        return logLines(service.dir(), "Dosificaciones.csv").size() == 2 &&
               (said += service.stderrText()).contains(u'%');
    })) << said.toStdString();
    EXPECT_EQ(said.count(QStringLiteral("fuera de tolerancia")), 1) << said.toStdString();
    EXPECT_TRUE(said.contains(
        QStringLiteral("Tolva sur: Dosificación fuera de tolerancia: 101,2 kg (+1,2 %)\n")))
        << said.toStdString();
    slave.closeWriteChannel();
    slave.waitForFinished();
}
