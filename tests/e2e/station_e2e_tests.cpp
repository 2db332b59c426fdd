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
    void TearDown() override {
        qunsetenv("LC_ALL");
        qputenv("LANG", "C.UTF-8");
    }
    qint64 silentReads() { return sim.counters().value("faults.silent", -1); }

    QTemporaryDir ptyDir;
    SimProcess sim;
    StationProcess station;
};

// One correct line per cycle; a silent module adds none and the station carries on;
// once the module answers again the lines resume.
TEST_P(StationE2E, LogsEachCycleStopsWhileSilentAndResumes) {
    // The station inherits the Spanish locale: decimal comma, day/month/year.
    qputenv("LANG", "es_ES.UTF-8");
    qputenv("LC_ALL", "es_ES.UTF-8");
    const QString link = QDir(ptyDir.path()).filePath(QStringLiteral("module"));
    const QStringList where =
        GetParam() ? QStringList{"--pty", link} : QStringList{"--listen", "127.0.0.1:0"};
    ASSERT_TRUE(sim.start(where + QStringList{"--slave", "1", "--decimals", "1"}));
    auto ini = GetParam() ? serialIni(link) : tcpIni(sim.port());
    ini.insert("Decimales_1", "1");
    station.writeIni(ini);
    ASSERT_TRUE(station.start());
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

// The first cycle runs as soon as the window is up, not one poll interval later.
TEST_P(StationE2E, FirstCycleRunsAtOnce) {
    const QString link = QDir(ptyDir.path()).filePath(QStringLiteral("module"));
    const QStringList where =
        GetParam() ? QStringList{"--pty", link} : QStringList{"--listen", "127.0.0.1:0"};
    ASSERT_TRUE(sim.start(where + QStringList{"--slave", "1"}));
    auto ini = GetParam() ? serialIni(link) : tcpIni(sim.port());
    ini.insert("Timer", "65535");  // the longest interval
    station.writeIni(ini);
    ASSERT_TRUE(station.start());
    // Well inside the first interval (a guard against hanging, not a timing bound).
    EXPECT_TRUE(waitFor([&] { return station.logLines().size() == 1; }, 30000));
}

INSTANTIATE_TEST_SUITE_P(Wire, StationE2E, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Pty" : "Tcp"; });

}  // namespace
