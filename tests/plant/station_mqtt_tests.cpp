// The real station publishing to a real mosquitto on loopback, polled by the simulated
// module every 100 ms, watched by mosquitto_sub; and the station's window run in this
// process against a broker that refuses it or never answers.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScopeGuard>
#include <QTimer>
#include <csignal>
#include <memory>
#include <set>
#include <vector>

#include "broker.h"
#include "cycle_detector.h"
#include "dose_record.h"
#include "frm_peso.h"
#include "harness.h"
#include "station_window.h"
#include "weight_log.h"

namespace {

const QString kRoot = QStringLiteral("vormelq/linea1");

QJsonObject objectOf(const QByteArray& payload) {
    return QJsonDocument::fromJson(payload).object();
}

// A time of a message: UTC, with its Z.
QDateTime instantOf(const QJsonObject& message, const char* key) {
    const QString text = message.value(QLatin1String(key)).toString();
    const QDateTime when = QDateTime::fromString(text, Qt::ISODateWithMs);
    EXPECT_TRUE(text.endsWith('Z') && when.timeSpec() == Qt::UTC) << text.toStdString();
    return when;
}

// The Peso.csv line a lectura message stands for.
QString lineOf(const QJsonObject& lectura) {
    const QDateTime when = instantOf(lectura, "ts").toLocalTime();
    const WeightReading weights{lectura.value("bruto").toDouble(), lectura.value("tara").toDouble(),
                                lectura.value("neto").toDouble(), 0, 0};
    return logLine(when, weights, 1, QLocale::system());
}

void writeStationIni(const QString& dir, int simPort, const QMap<QString, QString>& mqtt,
                     const QMap<QString, QString>& global = {}) {
    QMap<QString, QString> ini = tcpIni(simPort);
    ini.insert(QStringLiteral("Decimales_1"), QStringLiteral("1"));
    ini.insert(global);
    writeIni(dir, ini);
    addIniSection(dir, QStringLiteral("MQTT"), mqtt);
}

QMap<QString, QString> brokerKeys(int port) {
    return {{"Servidor", "127.0.0.1"},
            {"Puerto", QString::number(port)},
            {"Tema", kRoot},
            {"Keepalive", "5"}};
}

void killHard(StationProcess& station) {
    ::kill(static_cast<pid_t>(station.process().processId()), SIGKILL);
    station.process().waitForFinished();
}

// Through a broker stopped and started again, with the station killed meanwhile and
// started again, the receiver gets each seq from the first to the last in order, a second time only
// for what the broker had taken but not acknowledged when it stopped, each one the same reading as
// its Peso.csv line, as many as the file has (but for one the kill may cost, its seq then
// skipped). A late receiver finds the last reading, the module's state and "online"; a killed
// station leaves "offline".
TEST(StationMqtt, EveryLoggedReadingReachesTheBrokerOnceInOrder) {
    SimProcess sim;
    // At 9600 baud a cycle's blocks take a line's time, as they do in a plant: the kill
    // below comes the moment a line is in Peso.csv, while the rest of its cycle is read.
    ASSERT_TRUE(sim.start(
        {"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1", "--baud", "9600"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    // A durable session, as a historian keeps; the retained reading the broker hands it
    // again when it subscribes after the broker's restart is left out (-R): that copy is
    // the broker's, not a message sent twice.
    Subscriber receiver(broker.port(), kRoot, {"-c", "-i", "historiador", "-R"});
    StationProcess station;
    writeStationIni(station.dir(), sim.port(), brokerKeys(broker.port()));
    ASSERT_TRUE(station.start());

    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 10; }));
    {
        Subscriber late(broker.port(), kRoot);
        ASSERT_TRUE(waitFor([&] {
            return late.payloads("estado") == QList<QByteArray>{"online"} &&
                   !late.payloads("lectura").isEmpty() && !late.payloads("consignas").isEmpty() &&
                   !late.payloads("comunicacion").isEmpty();
        }));
        EXPECT_EQ(objectOf(late.payloads("comunicacion").last()).value("ok"), true);
    }

    broker.stop();
    // Nothing logged after this went out before the broker came back.
    const qsizetype loggedAtStop = station.logLines().size();
    qsizetype logged = loggedAtStop;
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= logged + 15; }));
    killHard(station);
    ASSERT_TRUE(station.start());
    logged = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= logged + 15; }));
    ASSERT_TRUE(broker.start());

    // The module falls silent: the log stops growing and the station says so.
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() > loggedAtStop + 30; }));
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] {
        const auto states = receiver.payloads("comunicacion");
        return !states.isEmpty() && objectOf(states.last()).value("ok") == false;
    }));
    const QStringList lines = station.logLines();
    const auto seqs = [&] {
        QStringList seen;
        for (const QByteArray& payload : receiver.payloads("lectura"))
            seen << QString::number(objectOf(payload).value("seq").toInteger());
        return seen;
    };
    // On to the lines when the last one never comes: which one is missing says why.
    EXPECT_TRUE(waitFor([&] {
        const auto all = receiver.payloads("lectura");
        return !all.isEmpty() && lineOf(objectOf(all.last())) == lines.last();
    })) << lines.size()
        << " lines, seq received: " << seqs().join(u' ').toStdString();

    // Each line once, in order. A kill the instant a line is written may cost that one
    // reading (never more), and then the receiver sees its seq missing.
    qint64 last = 0;
    qint64 missing = 0;
    qsizetype line = 0;
    for (const QByteArray& payload : receiver.payloads("lectura")) {
        const QJsonObject lectura = objectOf(payload);
        const qint64 seq = lectura.value("seq").toInteger();
        if (seq <= last) {
            EXPECT_LE(seq, loggedAtStop)
                << "resent far from the broker's stop: " << seq
                << ", seq received: " << seqs().join(u' ').toStdString() << "\n"
                << broker.log().toStdString();
            continue;
        }
        for (qint64 gap = seq - last - 1;
             gap > 0 && line < lines.size() && lineOf(lectura) != lines[line]; --gap)
            ++line;
        missing += seq - last - 1;
        ASSERT_LT(line, lines.size()) << payload.constData();
        EXPECT_EQ(lineOf(lectura), lines[line]) << payload.constData();
        ++line;
        last = seq;
    }
    EXPECT_EQ(line, lines.size());
    EXPECT_LE(missing, 1) << seqs().join(u' ').toStdString();

    killHard(station);
    Subscriber afterKill(broker.port(), kRoot);
    EXPECT_TRUE(
        waitFor([&] { return afterKill.payloads("estado") == QList<QByteArray>{"offline"}; }));
}

// The whole program in this process from `dir`, as main() runs it; `operatorActs` runs
// every 20 ms on the window thread with the window, until it returns true (it closes
// the window). A condition that never comes closes it after a minute, so a broken
// build fails instead of hanging; the result is then -1.
int runStationIn(const QString& dir, const std::function<bool(frmPeso&)>& operatorActs) {
    CurrentDir cwd(dir);
    QTimer operatorTimer;
    bool gaveUp = false;
    QDeadlineTimer limit(60000);
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* form = qobject_cast<frmPeso*>(widget);
            if (form == nullptr || !form->isVisible()) continue;
            if (operatorActs(*form)) {
                operatorTimer.stop();
            } else if (limit.hasExpired()) {
                gaveUp = true;
                form->close();
            }
        }
    });
    operatorTimer.start(20);
    const int code = runStation(*qobject_cast<QApplication*>(QCoreApplication::instance()));
    return gaveUp ? -1 : code;
}

// A broker that refuses the password, and one that takes the connection and never
// answers: the status line says which, the station polls and logs on, the password is
// shown nowhere, and the window closes.
TEST(StationMqtt, RefusingOrSilentBrokerNamedWhilePollingGoesOn) {
    TestCertificates files;
    ASSERT_TRUE(files.ok);
    MosquittoBroker refusing(QStringLiteral("allow_anonymous false\npassword_file ") +
                             files.file("passwd"));
    ASSERT_TRUE(refusing.start());
    QProcess holes;
    const QList<int> ports = startBlackHoles(holes);
    ASSERT_EQ(ports.size(), 2);
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));

    struct Case {
        QMap<QString, QString> keys;
        QString reason;
    };
    QMap<QString, QString> wrongPassword = brokerKeys(refusing.port());
    wrongPassword.insert("Usuario", "estacion");
    wrongPassword.insert("Clave", "no-es-esta");
    const Case cases[] = {
        {wrongPassword, QStringLiteral("el servidor rechaza el usuario o la clave")},
        {brokerKeys(ports[0]), QStringLiteral("el servidor no responde")},
    };
    for (const Case& c : cases) {
        StationProcess station;  // its directory only
        writeStationIni(station.dir(), sim.port(), c.keys);
        QString shown;
        qsizetype loggedWhenShown = -1;
        const int code = runStationIn(station.dir(), [&](frmPeso& form) {
            if (!form.lblMqtt->isVisible() || !form.lblMqtt->text().endsWith(c.reason))
                return false;
            shown = form.lblMqtt->text();
            if (loggedWhenShown < 0) loggedWhenShown = station.logLines().size();
            if (station.logLines().size() < loggedWhenShown + 5) return false;
            form.close();
            return true;
        });
        EXPECT_EQ(code, 0);
        EXPECT_TRUE(shown.startsWith(QStringLiteral("MQTT: sin conexión (")))
            << shown.toStdString();
        EXPECT_FALSE(shown.contains(QStringLiteral("no-es-esta")));
    }

    // No broker configured: no status line, and nothing kept for one.
    StationProcess plain;
    writeStationIni(plain.dir(), sim.port(), {});
    bool hidden = true;
    runStationIn(plain.dir(), [&](frmPeso& form) {
        hidden = hidden && form.lblMqtt->isHidden();
        if (plain.logLines().size() < 5) return false;
        form.close();
        return true;
    });
    EXPECT_TRUE(hidden);
    EXPECT_FALSE(QDir(plain.dir()).exists(QLatin1String(kMqttOutboxDir)));
    holes.closeWriteChannel();
    holes.waitForFinished();
}

// The Cambios.csv line a cambio message stands for, its date and time those of its instant.
QString changeLineOf(const QJsonObject& cambio) {
    const QDateTime when = instantOf(cambio, "ts").toLocalTime();
    QStringList fields;
    for (const char* key : {"fecha", "hora", "usuario", "equipo", "campo", "antes", "valor",
                            "registros", "resultado", "enlace"})
        fields << cambio.value(QLatin1String(key)).toString();
    EXPECT_EQ(fields[0], logDate(when, QLocale::system()));
    EXPECT_EQ(fields[1], logTime(when, QLocale::system()));
    return fields.join(';');
}

// The Dosificaciones.csv line a dosificacion message stands for; its deviation must be
// the one the line's weights give.
QString doseLineOf(const QJsonObject& d) {
    const auto when = [&](const char* key) { return instantOf(d, key).toLocalTime(); };
    const auto steps = [&](const char* key) -> std::optional<qint64> {
        const QJsonValue v = d.value(QLatin1String(key));
        if (v.isNull()) return std::nullopt;
        return displaySteps(v.toDouble(), 1);
    };
    DoseRecord r{when("inicio"),
                 when("fin"),
                 steps("teorico"),
                 steps("grueso"),
                 steps("fino").value_or(-1),
                 steps("final"),
                 DoseResult::Incompleta,
                 std::nullopt};
    // With a product table every message names the product and the lot, null for none.
    if (d.contains("producto"))
        r.trace = DoseTrace{d.value("producto").toString(), d.value("lote").toString()};
    for (DoseResult result : {DoseResult::Ok, DoseResult::Falta, DoseResult::Exceso,
                              DoseResult::Hecha, DoseResult::Incompleta})
        if (doseResultText(result) == d.value("resultado").toString()) r.result = result;
    if (r.deviation() != steps("desviacion")) return QStringLiteral("desviacion?");
    return doseLine(r, 1, QLocale::system());
}

// Operator writes through the window, one sent and one refused before it goes out, a lot,
// and the module's own dosing cycles of the product its setpoints hold: each line of
// Cambios.csv and Dosificaciones.csv reaches the broker as it is in the file, in order,
// its seq counting from 1, and the setpoints name their product.
TEST(StationMqtt, ChangesAndDosesReachTheBrokerAsTheirLines) {
    SimProcess sim;
    ASSERT_TRUE(
        sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1", "--auto-cycle"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), kRoot);
    StationProcess station;  // its directory only
    writeStationIni(station.dir(), sim.port(), brokerKeys(broker.port()));
    QFile products(QDir(station.dir()).filePath("Productos.csv"));
    ASSERT_TRUE(products.open(QIODevice::WriteOnly));
    products.write(
        "nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\r\n"
        "Harina;2,0;80,0;98,0;100,0;5;\r\n");
    products.close();
    const auto lines = [&](const char* name) { return logLines(station.dir(), name); };
    int step = 0;
    const int code = runStationIn(station.dir(), [&](frmPeso& form) {
        for (QMessageBox* box : form.findChildren<QMessageBox*>())
            if (box->isVisible()) box->accept();
        if (step == 0 && station.logLines().size() >= 2) {
            ++step;
            form.txtDato->setText("5");
            form.cmdDato->click();
        } else if (step == 1 && lines("Cambios.csv").size() == 1) {
            ++step;
            form.txtGrueso->setText("-1");
            form.cmdGrueso->click();
            form.txtLote->setText("L-7");
            form.cmdLote->click();
        }
        const QStringList doses = lines("Dosificaciones.csv");
        if (step < 2 || lines("Cambios.csv").size() < 3 || doses.isEmpty() ||
            !doses.back().endsWith(";Harina;L-7") || receiver.payloads("cambio").size() < 3 ||
            receiver.payloads("dosificacion").size() < doses.size())
            return false;
        form.close();
        return true;
    });
    ASSERT_EQ(code, 0);

    const QStringList changes = lines("Cambios.csv");
    EXPECT_TRUE(changes[0].contains(";Dato;;5;8=5 9=0;Enviado;")) << changes[0].toStdString();
    EXPECT_TRUE(changes[1].contains(";Grueso;")) << changes[1].toStdString();
    EXPECT_TRUE(changes[1].contains(";-1;;Fuera de rango;")) << changes[1].toStdString();
    const auto sameLines = [](const QList<QByteArray>& payloads, const QStringList& file,
                              const auto& lineOfMessage) {
        ASSERT_GE(file.size(), payloads.size());
        for (qsizetype i = 0; i < payloads.size(); ++i) {
            const QJsonObject message = objectOf(payloads[i]);
            EXPECT_EQ(message.value("seq").toInteger(), i + 1) << payloads[i].constData();
            EXPECT_EQ(lineOfMessage(message).toStdString(), file[i].toStdString())
                << payloads[i].constData();
        }
    };
    sameLines(receiver.payloads("cambio"), changes, changeLineOf);
    sameLines(receiver.payloads("dosificacion"), lines("Dosificaciones.csv"), doseLineOf);
    const QJsonObject first = objectOf(receiver.payloads("dosificacion").first());
    EXPECT_TRUE(first.contains("lote") &&
                (first.value("lote").isNull() || first.value("lote") == QStringLiteral("L-7")));
    ASSERT_FALSE(receiver.payloads("consignas").isEmpty());
    EXPECT_EQ(objectOf(receiver.payloads("consignas").last()).value("producto"), "Harina");
}

// The station's process on a clock that stands, when it starts, `before` seconds ahead of
// `change` and runs on from there; its monotonic clock, for its timers, is the real one.
// Nothing without Debian's libfaketime.
QStringList clockAhead(const QDateTime& change, int before) {
    QStringList library;
    for (const QString& dir : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs))
        library << QStringLiteral("/usr/lib/%1/faketime/libfaketimeMT.so.1").arg(dir);
    library.removeIf([](const QString& path) { return !QFile::exists(path); });
    if (library.isEmpty()) return {};
    return {QStringLiteral("LD_PRELOAD=") + library.first(),
            QString::asprintf("FAKETIME=%+lld",
                              QDateTime::currentDateTimeUtc().secsTo(change) - before),
            QStringLiteral("FAKETIME_DONT_FAKE_MONOTONIC=1"),
            // The sanitizer's runtime need not come first: the clock's library does.
            QStringLiteral("ASAN_OPTIONS=verify_asan_link_order=0")};
}

}  // namespace

namespace {

// Three modules of one line through one connection: each under its own root (the third
// named, the second by default), each lectura stream numbered from 1 on its own and
// matching that module's Peso.csv line by line, each root "online"; each module's dosing
// cycles in its own Dosificaciones.csv and under its own root.
TEST(StationMqtt, EachModulePublishesUnderItsOwnRootWithItsOwnSeq) {
    SimProcess sim;
    ASSERT_TRUE(sim.start(
        {"--listen", "127.0.0.1:0", "--ids", "1,2,3", "--decimals", "1", "--auto-cycle"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    const QStringList roots{kRoot, kRoot + "-2", "vormelq/silo3"};
    std::vector<std::unique_ptr<Subscriber>> receivers;
    for (const QString& root : roots)
        receivers.push_back(std::make_unique<Subscriber>(broker.port(), root));
    StationProcess station;
    QMap<QString, QString> ini = tcpIni(sim.port());
    ini.insert({{"Decimales_1", "1"}, {"Modulos", "3"}, {"ID_2", "2"}, {"ID_3", "3"}});
    writeIni(station.dir(), ini);
    auto mqtt = brokerKeys(broker.port());
    mqtt.insert("Tema_3", "vormelq/silo3");
    addIniSection(station.dir(), QStringLiteral("MQTT"), mqtt);
    ASSERT_TRUE(station.start());

    const QStringList files{"Peso.csv", "Modulo2/Peso.csv", "Modulo3/Peso.csv"};
    for (std::size_t m = 0; m < 3; ++m) {
        SCOPED_TRACE(roots[m].toStdString());
        Subscriber& receiver = *receivers[m];
        ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 5; }));
        EXPECT_EQ(receiver.payloads("estado").value(0), "online");
        const QList<QByteArray> payloads = receiver.payloads("lectura");
        const QStringList lines = logLines(station.dir(), files[m]);
        qint64 expected = 1;
        for (const QByteArray& payload : payloads) {
            const QJsonObject lectura = objectOf(payload);
            ASSERT_EQ(lectura.value("seq").toInteger(), expected) << payload.constData();
            ASSERT_LE(expected, lines.size());
            EXPECT_EQ(lineOf(lectura), lines[expected - 1]) << payload.constData();
            ++expected;
        }
    }
    const QStringList doses{"Dosificaciones.csv", "Modulo2/Dosificaciones.csv",
                            "Modulo3/Dosificaciones.csv"};
    for (std::size_t m = 0; m < 3; ++m) {
        ASSERT_TRUE(waitFor([&] { return !receivers[m]->payloads("dosificacion").isEmpty(); }))
            << roots[m].toStdString();
        const qint64 seq =
            objectOf(receivers[m]->payloads("dosificacion").last()).value("seq").toInteger();
        EXPECT_GE(logLines(station.dir(), doses[m]).size(), seq) << doses[m].toStdString();
    }
}

}  // namespace

// A dosing cycle of an independent module under way while the clock goes back from 3:00
// to 2:00 (Madrid, 2026-10-25): one cycle, complete, its line with the wall-clock times
// the log shows, and on the broker the instants those stand for, in UTC.
TEST(StationMqtt, ACycleAcrossTheEndOfSummerTimeIsOneCycleAtItsRealInstants) {
    ASSERT_EQ(qgetenv("TZ"), "Europe/Madrid") << "the suite's own time zone";
    // Without the zone's data TZ=Europe/Madrid quietly means UTC and the clock never goes back.
    ASSERT_EQ(QDateTime(QDate(2026, 1, 15), QTime(12, 0)).offsetFromUtc(), 3600)
        << "no data for Europe/Madrid: install the Debian package tzdata";
    const QDateTime change(QDate(2026, 10, 25), QTime(1, 0), Qt::UTC);
    QProcess slave;
    const int port = startPymodbus(slave, {"H"}, QStringLiteral("tests/e2e/dosing_slave.py"));
    ASSERT_GT(port, 0);
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), kRoot);
    StationProcess station;
    writeStationIni(station.dir(), port, brokerKeys(broker.port()), {{"Tolerancia_1", "0.5"}});
    const QStringList clock = clockAhead(change, 12);
    ASSERT_FALSE(clock.isEmpty()) << "libfaketime is missing: install the Debian package faketime";
    ASSERT_TRUE(station.start(clock));
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 3; }));
    slave.write("go\n");
    // Held half full until the log's time is back before its first line's.
    const auto time = [](const QString& line) {
        return line.section(u';', 1, 1).rightJustified(8);
    };
    ASSERT_TRUE(waitFor([&] {
        const QStringList lines = station.logLines();
        return time(lines.last()) < time(lines.first());
    }));
    slave.write("go\n");
    ASSERT_TRUE(waitFor([&] { return !receiver.payloads("dosificacion").isEmpty(); }));
    station.stop();

    const QStringList doses = logLines(station.dir(), "Dosificaciones.csv");
    ASSERT_EQ(doses.size(), 1) << doses.join('\n').toStdString();
    EXPECT_TRUE(doses[0].endsWith(";100,0;90,0;99,0;100,0;0,0;OK")) << doses[0].toStdString();
    const QJsonObject dose = objectOf(receiver.payloads("dosificacion").first());
    ASSERT_LT(instantOf(dose, "inicio"), change) << "the cycle must begin in summer time";
    EXPECT_GE(instantOf(dose, "fin"), change);
    EXPECT_EQ(doseLineOf(dose).toStdString(), doses[0].toStdString());
    slave.closeWriteChannel();
    slave.waitForFinished();
}

namespace {

// Makes the folders `dirs` and everything in them immutable (unwritable even by root), or
// writable again; the station stopped meanwhile, so that no line falls half in.
bool lockFolders(StationProcess& station, const QStringList& dirs, bool locked) {
    const auto pid = static_cast<pid_t>(station.process().processId());
    if (locked && pid > 0) ::kill(pid, SIGSTOP);
    const int status = QProcess::execute("chattr", QStringList{"-R", locked ? "+i" : "-i"} + dirs);
    if (locked && pid > 0) ::kill(pid, SIGCONT);
    return status == 0;
}

}  // namespace

// The outbox's folder unwritable while the broker is away, and the station closed meanwhile:
// the readings that waited in memory come back with the next start, and the receiver
// gets as many distinct seq as Peso.csv has lines, each its own line, in order.
TEST(StationMqtt, ReadingsWaitingInMemoryOutliveAClose) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), kRoot, {"-c", "-i", "historiador"});
    StationProcess station;
    const QString outbox = QDir(station.dir()).filePath(QLatin1String(kMqttOutboxDir));
    const auto unlock = qScopeGuard([&] { lockFolders(station, {outbox}, false); });
    writeStationIni(station.dir(), sim.port(), brokerKeys(broker.port()));
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 5; }));

    broker.stop();
    ASSERT_TRUE(lockFolders(station, {outbox}, true)) << "chattr is needed, as root";
    qsizetype logged = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= logged + 20; }));
    station.stop();
    ASSERT_TRUE(lockFolders(station, {outbox}, false));
    ASSERT_TRUE(station.start());
    logged = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= logged + 5; }));
    ASSERT_TRUE(broker.start());

    sim.toggleSilent();
    const auto lastSeq = [&] {
        const auto all = receiver.payloads("lectura");
        return all.isEmpty() ? 0 : objectOf(all.last()).value("seq").toInteger();
    };
    qsizetype lines = 0;
    ASSERT_TRUE(waitFor([&] {
        lines = station.logLines().size();
        return lastSeq() >= lines && lines == station.logLines().size();
    })) << lastSeq()
        << " of " << lines;
    const QStringList file = station.logLines();
    qint64 expected = 1;
    for (const QByteArray& payload : receiver.payloads("lectura")) {
        const QJsonObject lectura = objectOf(payload);
        const qint64 seq = lectura.value("seq").toInteger();
        if (seq < expected) continue;  // a resend around the broker's stop
        ASSERT_EQ(seq, expected) << "a gap";
        ASSERT_LE(seq, file.size());
        EXPECT_EQ(lineOf(lectura), file[seq - 1]) << payload.constData();
        ++expected;
    }
    EXPECT_EQ(expected - 1, file.size());
}

// The outbox's folder and the data directory both unwritable while the broker is away, and
// the station (a service) killed: the readings that waited in memory are lost, but not
// unseen. The next start counts them as given up and gives their seq to no other reading:
// the receiver sees a gap exactly as wide as the count, and every seq it gets is still its
// own Peso.csv line.
TEST(StationMqtt, ReadingsLostToAKillAreCountedAndTheirSeqSkipped) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), kRoot, {"-c", "-i", "historiador"});
    StationProcess station;
    const QStringList folders{QDir(station.dir()).filePath(QLatin1String(kMqttOutboxDir)),
                              QDir(station.dir()).filePath("datos")};
    ASSERT_TRUE(QDir().mkpath(folders[1]));
    const auto unlock = qScopeGuard([&] { lockFolders(station, folders, false); });
    writeStationIni(station.dir(), sim.port(), brokerKeys(broker.port()));
    const QStringList service{"DISPLAY", "QT_QPA_PLATFORM", "XDG_DATA_HOME=" + folders[1]};
    ASSERT_TRUE(station.start(service, {"--servicio"}));
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 5; }));

    broker.stop();
    ASSERT_TRUE(lockFolders(station, folders, true)) << "chattr is needed, as root";
    qsizetype logged = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= logged + 10; }));
    killHard(station);
    ASSERT_TRUE(lockFolders(station, folders, false));
    ASSERT_TRUE(station.start(service, {"--servicio"}));
    ASSERT_TRUE(broker.start());
    QString said;
    ASSERT_TRUE(waitFor([&] { return (said += station.stderrText()).contains("MQTT: conectado"); }))
        << said.toStdString();
    logged = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= logged + 3; }));
    sim.toggleSilent();
    qsizetype lines = 0;
    ASSERT_TRUE(waitFor([&] {
        const auto all = receiver.payloads("lectura");
        lines = station.logLines().size();
        return !all.isEmpty() && objectOf(all.last()).value("seq").toInteger() == lines &&
               lines == station.logLines().size();
    }));

    const QStringList file = station.logLines();
    std::set<qint64> seen;
    for (const QByteArray& payload : receiver.payloads("lectura")) {
        const QJsonObject lectura = objectOf(payload);
        const qint64 seq = lectura.value("seq").toInteger();
        ASSERT_LE(seq, file.size());
        EXPECT_EQ(lineOf(lectura), file[seq - 1]) << payload.constData();
        seen.insert(seq);
    }
    // One gap, where the kill was.
    const qint64 lost = file.size() - static_cast<qint64>(seen.size());
    EXPECT_GE(lost, 5);
    qint64 gaps = 0;
    for (qint64 seq = 2; seq <= file.size(); ++seq) gaps += !seen.count(seq) && seen.count(seq - 1);
    EXPECT_EQ(gaps, 1);
    EXPECT_TRUE(said.contains(QStringLiteral("(%1 descartados)").arg(lost))) << said.toStdString();
}

// Two stations of one computer, each in its own folder, with no Tema: the second does
// not start on the first one's root; it names the key, and the first publishes on. The
// second has a data directory of its own, as another user or a service has.
TEST(StationMqtt, ASecondStationOfOneComputerNeverTakesTheFirstOnesRoot) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), defaultTopicRoot());
    QMap<QString, QString> keys = brokerKeys(broker.port());
    keys.remove("Tema");
    StationProcess first;
    StationProcess second;
    writeStationIni(first.dir(), sim.port(), keys);
    writeStationIni(second.dir(), sim.port(), keys);
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 2; }));
    ASSERT_TRUE(second.start({"XDG_DATA_HOME=" + second.dir() + "/datos"}));
    QString message;
    ASSERT_TRUE(waitFor([&] {
        message += second.stderrText();
        return message.contains(QStringLiteral("vormelq: ")) && message.endsWith(u'\n');
    })) << message.toStdString();
    for (const QString& word : {QString::number(first.process().processId()), defaultTopicRoot(),
                                QStringLiteral("Tema"), QStringLiteral("[MQTT]")})
        EXPECT_TRUE(message.contains(word)) << message.toStdString();
    second.stop();
    const qsizetype before = receiver.payloads("lectura").size();
    EXPECT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() > before + 2; }));
    EXPECT_EQ(receiver.payloads("estado"), QList<QByteArray>{"online"});
}
