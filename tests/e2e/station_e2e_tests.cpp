// The real station against the simulated module, over TCP and over a serial pty,
// observed the way a user sees it: through Peso.csv and the module's own counters.
#include <gtest/gtest.h>

#include <QDir>
#include <QRegularExpression>
#include <QTemporaryDir>

#include "harness.h"

namespace {

// date;time;gross;tare;net with one decimal and the Spanish decimal comma.
const QRegularExpression kLine(
    QStringLiteral("^[0-9]{1,2}/[0-9]{1,2}/[0-9]{2,4};[0-9]{1,2}:[0-9]{2}:[0-9]{2};"
                   "-?[0-9]+,[0-9];[0-9]+,[0-9];-?[0-9]+,[0-9]$"));

class StationE2E : public ::testing::TestWithParam<bool> {  // true: serial pty
protected:
    void SetUp() override {
        qputenv("LANG", "es_ES.UTF-8");
        qputenv("LC_ALL", "es_ES.UTF-8");
    }
    void TearDown() override {
        qunsetenv("LC_ALL");
        qputenv("LANG", "C.UTF-8");
    }
    // The simulator and a station pointed at it, over the wire of the test's parameter.
    void startBoth() {
        QMap<QString, QString> ini{{"ID_1", "1"}, {"Decimales_1", "1"}, {"Timer", "100"}};
        if (GetParam()) {
            const QString link = QDir(ptyDir.path()).filePath(QStringLiteral("module"));
            ASSERT_TRUE(sim.start({"--pty", link, "--slave", "1", "--decimals", "1"}));
            ini.insert({{"Comunicacion_1", "0"}, {"Comm_1", link}, {"Baudios_1", "115200"}});
        } else {
            ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--decimals", "1"}));
            ini.insert({{"Comunicacion_1", "1"},
                        {"Host_1", sim.host()},
                        {"Port_1", QString::number(sim.port())}});
        }
        station.writeIni(ini);
        ASSERT_TRUE(station.start());
    }
    qint64 silentReads() { return sim.counters().value("faults.silent", -1); }

    QTemporaryDir ptyDir;
    SimProcess sim;
    StationProcess station;
};

// One correct line per cycle; a silent module adds none and the station carries on;
// once the module answers again the lines resume.
TEST_P(StationE2E, LogsEachCycleStopsWhileSilentAndResumes) {
    ASSERT_NO_FATAL_FAILURE(startBoth());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 5; }));
    for (const QString& line : station.logLines())
        EXPECT_TRUE(kLine.match(line).hasMatch()) << line.toStdString();

    sim.toggleSilent();
    // Once a whole block read has gone unanswered, everything served before the
    // silence has been logged.
    const qint64 silentBefore = silentReads();
    ASSERT_TRUE(waitFor([&] { return silentReads() >= silentBefore + 3; }));
    const qsizetype during = station.logLines().size();
    ASSERT_TRUE(waitFor([&] { return silentReads() >= silentBefore + 9; }));
    EXPECT_EQ(station.logLines().size(), during);
    EXPECT_TRUE(station.running());

    sim.toggleSilent();
    EXPECT_TRUE(waitFor([&] { return station.logLines().size() >= during + 3; }));
}

INSTANTIATE_TEST_SUITE_P(Wire, StationE2E, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pty" : "Tcp"; });

}  // namespace
