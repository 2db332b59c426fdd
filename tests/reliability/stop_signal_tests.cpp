// The system's stop signals end the real station as its close box does: exit status 0,
// and the lines the log could not take yet survive in the pending file, to be moved
// into Peso.csv, in order and once only, by the next station started there.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <csignal>

#include "harness.h"

namespace {

struct SignalCase {
    const char* name;
    int signal;
};

void PrintTo(const SignalCase& c, std::ostream* out) {
    *out << c.name;
}

class StopSignal : public ::testing::TestWithParam<SignalCase> {
protected:
    void SetUp() override { qputenv("LANG", "C.UTF-8"); }

    qint64 counter(const char* name) { return sim.counters().value(name, -1); }
    QString file(const char* name) const { return QDir(station.dir()).filePath(name); }
    QStringList pendingLines() const { return logLines(station.dir(), "Peso.pendiente.csv"); }

    // Switched off, and a whole block read went unanswered: every weight the module
    // served has been through the station's log by then.
    void silenceModule() {
        sim.toggleSilent();
        const qint64 silent = counter("faults.silent");
        ASSERT_TRUE(waitFor([&] { return counter("faults.silent") >= silent + 3; }));
    }

    SimProcess sim;
    StationProcess station;
};

TEST_P(StopSignal, EndsTheStationLikeItsCloseBoxAndKeepsThePendingLines) {
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--auto-cycle"}));
    auto ini = tcpIni(sim.port());
    ini.insert("Timer", "20");
    station.writeIni(ini);
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 5; }));

    // A directory in the log's place, swapped in while the station stands still.
    const auto pid = static_cast<pid_t>(station.process().processId());
    ::kill(pid, SIGSTOP);
    ASSERT_TRUE(QFile::rename(file("Peso.csv"), file("Peso.keep")));
    ASSERT_TRUE(QDir().mkdir(file("Peso.csv")));
    ::kill(pid, SIGCONT);
    ASSERT_TRUE(waitFor([&] { return pendingLines().size() >= 5; }));
    silenceModule();

    ::kill(pid, GetParam().signal);
    ASSERT_TRUE(station.process().waitForFinished(60000));
    EXPECT_EQ(station.process().exitStatus(), QProcess::NormalExit);
    EXPECT_EQ(station.exitCode(), 0);
    const QStringList kept = logLines(station.dir(), "Peso.keep");
    const QStringList pending = pendingLines();
    EXPECT_EQ(kept.size() + pending.size(), counter("reads.weight"));

    // Released, and a new station started: the pending lines come first, once.
    ASSERT_TRUE(QDir().rmdir(file("Peso.csv")));
    ASSERT_TRUE(QFile::rename(file("Peso.keep"), file("Peso.csv")));
    sim.toggleSilent();
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() > kept.size() + pending.size(); }));
    silenceModule();
    const QStringList lines = station.logLines();
    EXPECT_EQ(lines.size(), counter("reads.weight"));
    EXPECT_EQ(lines.mid(0, kept.size() + pending.size()), kept + pending);
    EXPECT_FALSE(QFile::exists(file("Peso.pendiente.csv")));
}

const SignalCase kCases[] = {
    {"Term", SIGTERM},
    {"Interrupt", SIGINT},
    {"HangUp", SIGHUP},
};

INSTANTIATE_TEST_SUITE_P(Signal, StopSignal, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
