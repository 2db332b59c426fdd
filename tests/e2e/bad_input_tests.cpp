// Bad values in modbus.ini, one key at a time. A value that does not convert stops
// start-up with a box naming key, value and cause, with the link already closed; once
// the operator has read it the process exits non-zero. A slave address that does not
// fit the address byte is no start-up error: the station runs and sends nothing.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QSerialPort>
#include <QSysInfo>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <functional>

#include "frm_peso.h"
#include "harness.h"
#include "station_window.h"

namespace {

enum class Mode { Tcp, Serial };

struct BadValue {
    const char* key;
    const char* value;  // as meant; the file gets the trailing character the reader drops
    Mode mode;
    std::vector<const char*> words;  // besides key and value
    // A port that does not open is named by its device, which the value may not spell.
    bool namesKeyAndValue = true;
    // Comm_1 left on the module's line, which another program holds open.
    bool portHeld = false;
};

void PrintTo(const BadValue& row, std::ostream* os) {
    *os << row.key << "=\"" << row.value << '"';
}

const char* const kNotNumber = "número entero";
const char* const kRange = "fuera de rango";
const char* const kEmpty = "vacío";

// One row per path through start-up; every key's every bad value is the reader's test.
const BadValue kBadValues[] = {
    {"Comunicacion_1", "abc", Mode::Tcp, {kNotNumber}},
    {"Comunicacion_1", "", Mode::Tcp, {kEmpty}},
    {"Port_1", "65536", Mode::Tcp, {kRange}},
    {"Timer", "abc", Mode::Tcp, {kNotNumber}},
    {"Comm_1", "abc", Mode::Serial, {"puerto"}},
    {"Comm_1", "0", Mode::Serial, {kRange}},
    // A port that does not open: the cause in Spanish, the system's words on stderr.
    {"Comm_1", "99", Mode::Serial, {"/dev/ttyS98 no existe"}, false},
    {"Comm_1", "/dev/vormelq-no-such-port", Mode::Serial, {"no existe"}},
    {"Comm_1", "/tmp", Mode::Serial, {"es una carpeta", "Is a directory"}},
    {"Comm_1", "/etc/passwd", Mode::Serial, {"es un fichero, no un puerto serie"}},
    {"Comm_1", "/dev/null", Mode::Serial, {"no es un puerto serie"}},
    {"Comm_1", "", Mode::Serial, {"está en uso por otro programa", "locking"}, false, true},
    // The port judges the speed, not the reader.
    {"Baudios_1", "abc", Mode::Serial, {"Velocidad"}},
    {"Baudios_1", "-9600", Mode::Serial, {"Velocidad"}},
    // The rest are read after the port is open: it must be closed again.
    {"Decimales_1", "10", Mode::Serial, {kRange}},
    {"ID_1", "abc", Mode::Serial, {kNotNumber}},
    {"Timer", "", Mode::Serial, {kEmpty}},
};

// What the process holds open, as /proc shows it (device paths, "socket:[n]", ...).
QStringList openFiles(qint64 pid) {
    const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
    QStringList targets;
    for (const QString& fd : fds.entryList(QDir::NoDotAndDotDot | QDir::System | QDir::Files))
        targets << QFileInfo(fds.filePath(fd)).symLinkTarget();
    return targets;
}

class BadStartupValue : public ::testing::TestWithParam<BadValue> {};

TEST_P(BadStartupValue, NamesTheCauseAndLeavesNoPortOpen) {
    const BadValue& row = GetParam();
    StationProcess station;
    const QString pty = QDir(station.dir()).filePath(QStringLiteral("module"));
    SimProcess sim;
    if (row.mode == Mode::Serial) {
        ASSERT_TRUE(sim.start({"--pty", pty, "--slave", "1"}));
    }
    auto ini = row.mode == Mode::Tcp ? tcpIni(3000) : serialIni(pty);
    QSerialPort holder(pty);
    if (row.portHeld)
        ASSERT_TRUE(holder.open(QIODevice::ReadWrite)) << holder.errorString().toStdString();
    else
        ini.insert(QString::fromUtf8(row.key), QString::fromUtf8(row.value));
    station.writeIni(ini);
    ASSERT_TRUE(station.start());

    // The cause goes to stderr as the box opens; the box then waits for the operator.
    QString message;
    ASSERT_TRUE(waitFor([&] {
        message += station.stderrText();
        return message.contains(QStringLiteral("vormelq: ")) && message.endsWith(u'\n');
    })) << message.toStdString();
    std::vector<const char*> words = row.words;
    if (row.namesKeyAndValue) words.insert(words.end(), {row.key, row.value});
    for (const char* word : words)
        EXPECT_TRUE(message.contains(QString::fromUtf8(word)))
            << word << " in " << message.toStdString();
    ASSERT_TRUE(station.running()) << "ended before the operator saw the cause";

    if (row.mode == Mode::Serial) {
        const QString device = QFileInfo(pty).canonicalFilePath();
        ASSERT_FALSE(device.isEmpty());
        EXPECT_FALSE(openFiles(station.process().processId()).contains(device))
            << "the port is still open while the box is up";
    }
}

INSTANTIATE_TEST_SUITE_P(EveryKey, BadStartupValue, ::testing::ValuesIn(kBadValues));

// Runs the whole program in this process from `dir`, as main() does; `operatorActs`
// runs every 20 ms on the window thread, boxes included, until it returns true.
int runStationIn(const QString& dir, const std::function<bool()>& operatorActs) {
    CurrentDir cwd(dir);
    QTimer operatorTimer;
    QObject::connect(&operatorTimer, &QTimer::timeout, [&] {
        if (operatorActs()) operatorTimer.stop();
    });
    operatorTimer.start(20);
    return runStation(*qobject_cast<QApplication*>(QCoreApplication::instance()));
}

TEST(StartupErrorBox, ProcessEndsNonZeroOnceTheOperatorClosesIt) {
    StationProcess files;  // only for its directory and modbus.ini
    files.writeIni(tcpIni(70000));
    QString shown;
    const int code = runStationIn(files.dir(), [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr) return false;
        shown = box->text();
        // Qt's own texts speak Spanish too.
        EXPECT_EQ(box->button(QMessageBox::Ok)->text().remove(u'&'), QStringLiteral("Aceptar"));
        QTest::keyClick(box, Qt::Key_Return);
        return true;
    });
    EXPECT_NE(code, 0);
    EXPECT_TRUE(shown.contains(QStringLiteral("Port_1")) && shown.contains(QStringLiteral("70000")))
        << shown.toStdString();
}

// A second station started in a station's directory says who holds it and ends with
// status 1 before it reaches the module; once the first is killed, its lock is stale
// and the next station takes the directory over.
TEST(StartupErrorBox, OneStationPerDirectory) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    StationProcess first;
    first.writeIni(tcpIni(sim.port()));
    ASSERT_TRUE(first.start());
    ASSERT_TRUE(waitFor([&] { return first.logLines().size() >= 2; }));
    const qint64 connections = sim.counters().value("connections", -1);

    const auto startHere = [&](QProcess& station) {
        station.setProcessEnvironment(first.process().processEnvironment());
        station.setWorkingDirectory(first.dir());
        station.start(stationPath(), {});
        return station.waitForStarted(10000);
    };
    QProcess second;
    ASSERT_TRUE(startHere(second));
    QString message;
    ASSERT_TRUE(waitFor([&] {
        message += QString::fromUtf8(second.readAllStandardError());
        return message.contains(QStringLiteral("vormelq: ")) && message.endsWith(u'\n');
    })) << message.toStdString();
    for (const QString& word : {QString::number(first.process().processId()),
                                QSysInfo::machineHostName(), QStringLiteral("otra estación")})
        EXPECT_TRUE(message.contains(word)) << message.toStdString();
    ASSERT_EQ(second.state(), QProcess::Running) << "ended before the operator saw the cause";
    second.terminate();
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 1);
    EXPECT_EQ(sim.counters().value("connections", -1), connections);
    EXPECT_TRUE(first.running());

    first.process().kill();
    ASSERT_TRUE(first.process().waitForFinished(10000));
    const qsizetype before = first.logLines().size();
    QProcess third;
    ASSERT_TRUE(startHere(third));
    EXPECT_TRUE(waitFor([&] { return first.logLines().size() > before + 2; }));
    third.terminate();
    ASSERT_TRUE(third.waitForFinished(10000));
    EXPECT_EQ(third.exitCode(), 0);
}

// A slave address outside the address byte, or a host that does not resolve: start-up
// goes on, nothing reaches the module and the window reports no communication.
class StartsWithoutCommunication : public ::testing::TestWithParam<BadValue> {};

TEST_P(StartsWithoutCommunication, SendsNothingAndShowsTheErrorLabel) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    StationProcess files;
    auto ini = tcpIni(sim.port());
    ini.insert(QString::fromUtf8(GetParam().key), QString::fromUtf8(GetParam().value));
    files.writeIni(ini);

    bool errorShown = false;
    const int code = runStationIn(files.dir(), [&] {
        for (QWidget* widget : QApplication::topLevelWidgets()) {
            auto* form = qobject_cast<frmPeso*>(widget);
            if (form == nullptr || !form->lblError->isVisible()) continue;
            errorShown = true;
            form->close();
            return true;
        }
        return false;
    });
    EXPECT_EQ(code, 0);
    EXPECT_TRUE(errorShown);
    const auto counters = sim.counters();
    for (const char* counter : {"requests", "ignored", "garbage_bytes"})
        EXPECT_EQ(counters.value(counter, -1), 0) << counter;
}

const BadValue kStillStarts[] = {
    {"ID_1", "256", Mode::Tcp, {}},
    {"ID_1", "-1", Mode::Tcp, {}},
    {"Host_1", "no-such-host.invalid", Mode::Tcp, {}},
};
INSTANTIATE_TEST_SUITE_P(NoStartupError, StartsWithoutCommunication,
                         ::testing::ValuesIn(kStillStarts));

}  // namespace
