// The real station against the simulated module, over TCP and over a serial pty,
// observed the way a user sees it: through Peso.csv and the module's own counters.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "harness.h"

namespace {

QMap<QString, QString> tcpIni(const SimProcess& sim, const QString& timer = QStringLiteral("100")) {
    return {{QStringLiteral("Comunicacion_1"), QStringLiteral("1")},
            {QStringLiteral("Host_1"), sim.host()},
            {QStringLiteral("Port_1"), QString::number(sim.port())},
            {QStringLiteral("ID_1"), QStringLiteral("1")},
            {QStringLiteral("Decimales_1"), QStringLiteral("1")},
            {QStringLiteral("Timer"), timer}};
}

// date;time;gross;tare;net with one decimal and the Spanish decimal comma.
const QRegularExpression kLine(
    QStringLiteral("^[0-9]{1,2}/[0-9]{1,2}/[0-9]{2,4};[0-9]{1,2}:[0-9]{2}:[0-9]{2};"
                   "-?[0-9]+,[0-9];[0-9]+,[0-9];-?[0-9]+,[0-9]$"));

class StationE2E : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("LANG", "es_ES.UTF-8");
        qputenv("LC_ALL", "es_ES.UTF-8");
    }
    void TearDown() override {
        qunsetenv("LC_ALL");
        qputenv("LANG", "C.UTF-8");
    }
    SimProcess sim;
    StationProcess station;
};

qint64 counter(SimProcess& sim, const char* name) { return sim.counters().value(name, -1); }

TEST_F(StationE2E, LogsOneCorrectLinePerCycleOverTcp) {
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
    station.writeIni(tcpIni(sim));
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 5; }));
    for (const QString& line : station.logLines())
        EXPECT_TRUE(kLine.match(line).hasMatch()) << line.toStdString();
    EXPECT_TRUE(station.running());
}

TEST_F(StationE2E, SilentModuleWritesNoLinesAndTheStationCarriesOn) {
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    station.writeIni(tcpIni(sim));
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 2; }));

    sim.toggleSilent();
    // Once a whole block read has gone unanswered, everything served before the
    // silence has been logged.
    const qint64 silentBefore = counter(sim, "faults.silent");
    ASSERT_TRUE(waitFor([&] { return counter(sim, "faults.silent") >= silentBefore + 3; }));
    const qsizetype during = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return counter(sim, "faults.silent") >= silentBefore + 9; }));
    EXPECT_EQ(station.logLines().size(), during);
    EXPECT_TRUE(station.running());

    sim.toggleSilent();
    EXPECT_TRUE(waitFor([&] { return station.logLines().size() >= during + 3; }));
}

TEST_F(StationE2E, EveryWeightReadServedBecomesExactlyOneLine) {
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    station.writeIni(tcpIni(sim, QStringLiteral("20")));
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 30; }));

    sim.toggleSilent();
    const qint64 silentBefore = counter(sim, "faults.silent");
    ASSERT_TRUE(waitFor([&] { return counter(sim, "faults.silent") >= silentBefore + 3; }));
    EXPECT_EQ(counter(sim, "reads.weight"), station.logLines().size());
}

TEST_F(StationE2E, ReconnectsWhenTheModuleClosesTheConnection) {
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--close-after", "50"}));
    station.writeIni(tcpIni(sim));
    ASSERT_TRUE(station.start());
    // 50 requests are ten cycles: more lines than that need a new connection each time.
    EXPECT_TRUE(waitFor([&] { return station.logLines().size() >= 25; }, 120000));
    EXPECT_GE(counter(sim, "connections"), 3);
    EXPECT_TRUE(station.running());
}

TEST_F(StationE2E, LogsOverASerialPty) {
    QTemporaryDir dir;
    const QString link = QDir(dir.path()).filePath(QStringLiteral("module"));
    ASSERT_TRUE(sim.start({"--pty", link, "--slave", "1", "--decimals", "1"}));
    station.writeIni({{QStringLiteral("Comunicacion_1"), QStringLiteral("0")},
                      {QStringLiteral("Comm_1"), link},
                      {QStringLiteral("Baudios_1"), QStringLiteral("115200")},
                      {QStringLiteral("ID_1"), QStringLiteral("1")},
                      {QStringLiteral("Decimales_1"), QStringLiteral("1")},
                      {QStringLiteral("Timer"), QStringLiteral("100")}});
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 5; }));
    for (const QString& line : station.logLines())
        EXPECT_TRUE(kLine.match(line).hasMatch()) << line.toStdString();
}

TEST_F(StationE2E, BadConfigurationStopsStartUpNamingKeyAndValue) {
    station.writeIni({{QStringLiteral("Comunicacion_1"), QStringLiteral("1")},
                      {QStringLiteral("Host_1"), QStringLiteral("127.0.0.1")},
                      {QStringLiteral("Timer"), QStringLiteral("abc")}});
    ASSERT_TRUE(station.start());
    // The message box waits for the operator; the same text goes to stderr at once.
    QString message;
    ASSERT_TRUE(waitFor([&] {
        message += station.stderrText();
        return message.contains(QStringLiteral("Timer")) ||
               station.process().state() == QProcess::NotRunning;
    }));
    EXPECT_TRUE(message.contains(QStringLiteral("Timer"))) << message.toStdString();
    EXPECT_TRUE(message.contains(QStringLiteral("abc"))) << message.toStdString();
}

}  // namespace
