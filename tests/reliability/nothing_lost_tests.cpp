// Nothing lost: every weight block the real station accepted is exactly one line of
// Peso.csv, in order, even when the file cannot be written for a while. Counted
// against the simulated module, which counts a weight read only when its reply went
// out intact.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <csignal>

#include "harness.h"

namespace {

// What stands in the log's way for a while.
enum class Obstacle {
    None,       // only the line's faults
    Directory,  // a directory where the file should be: the file is locked
    FullDisk,   // the file is /dev/full: every write fails with ENOSPC
    Immutable,  // chattr +i: read-only even for root, who ignores mode bits
};

struct LostCase {
    const char* name;
    Obstacle obstacle;
};

void PrintTo(const LostCase& c, std::ostream* out) {
    *out << c.name;
}

QStringList readLines(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    QStringList lines = QString::fromLocal8Bit(file.readAll()).split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

bool run(const QString& program, const QStringList& args) {
    return QProcess::execute(program, args) == 0;
}

class NothingLost : public ::testing::TestWithParam<LostCase> {
protected:
    void SetUp() override { qputenv("LANG", "C.UTF-8"); }

    QString file(const char* name) const { return QDir(station.dir()).filePath(name); }
    qint64 counter(const char* name) { return sim.counters().value(name, -1); }

    // The station stands still while the file is swapped, so no append falls between
    // two renames.
    template <typename F>
    void whileStopped(F swap) {
        const auto pid = static_cast<pid_t>(station.process().processId());
        ::kill(pid, SIGSTOP);
        swap();
        ::kill(pid, SIGCONT);
    }

    bool block(Obstacle obstacle) {
        const QString log = file("Peso.csv");
        const QString kept = file("Peso.keep");
        bool ok = true;
        switch (obstacle) {
            case Obstacle::None:
                break;
            case Obstacle::Directory:
                whileStopped([&] { ok = QFile::rename(log, kept) && QDir().mkdir(log); });
                break;
            case Obstacle::FullDisk:
                whileStopped(
                    [&] { ok = QFile::rename(log, kept) && QFile::link("/dev/full", log); });
                break;
            case Obstacle::Immutable:
                ok = run(QStringLiteral("chattr"), {QStringLiteral("+i"), log});
                break;
        }
        return ok;
    }

    void unblock(Obstacle obstacle) {
        const QString log = file("Peso.csv");
        const QString kept = file("Peso.keep");
        switch (obstacle) {
            case Obstacle::None:
                break;
            case Obstacle::Directory:
                whileStopped([&] { QDir().rmdir(log), QFile::rename(kept, log); });
                break;
            case Obstacle::FullDisk:
                whileStopped([&] { QFile::remove(log), QFile::rename(kept, log); });
                break;
            case Obstacle::Immutable:
                run(QStringLiteral("chattr"), {QStringLiteral("-i"), log});
                break;
        }
    }

    // Where the lines written so far are while the obstacle stands.
    QString keptFile(Obstacle obstacle) const {
        return obstacle == Obstacle::Directory || obstacle == Obstacle::FullDisk ? file("Peso.keep")
                                                                                 : file("Peso.csv");
    }

    SimProcess sim;
    StationProcess station;
};

TEST_P(NothingLost, EveryAcceptedWeightReadIsOneLineInOrder) {
    const Obstacle obstacle = GetParam().obstacle;
    // Faults the station rejects and retries; the simulator counts none of them as
    // served. (Stale bytes and late replies can spoil a reply the module counted, so
    // they have no place in a count.)
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1", "--auto-cycle", "--bad-crc",
                           "0.05", "--extra-byte", "0.05", "--exception", "0.05", "--split", "0.1",
                           "--random-start", QString::number(7 + static_cast<int>(obstacle))}));
    station.writeIni({{QStringLiteral("Comunicacion_1"), QStringLiteral("1")},
                      {QStringLiteral("Host_1"), sim.host()},
                      {QStringLiteral("Port_1"), QString::number(sim.port())},
                      {QStringLiteral("ID_1"), QStringLiteral("1")},
                      {QStringLiteral("Timer"), QStringLiteral("20")}});
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 10; }));

    if (!block(obstacle)) {
        unblock(obstacle);
        GTEST_SKIP() << "this file system cannot hold the obstacle (chattr +i needs ext4 or "
                        "the like)";
    }
    const qsizetype linesBlocked = readLines(keptFile(obstacle)).size();
    const qint64 readsBlocked = counter("reads.weight");
    ASSERT_TRUE(waitFor([&] { return counter("reads.weight") >= readsBlocked + 20; }));
    // The obstacle did hold: nothing reached the file meanwhile.
    if (obstacle != Obstacle::None) {
        EXPECT_EQ(readLines(keptFile(obstacle)).size(), linesBlocked);
    }
    unblock(obstacle);

    const qint64 readsFreed = counter("reads.weight");
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= readsFreed; }));
    // Silence, then wait until a whole block read went unanswered: everything served
    // before has been through the station's log by then.
    sim.toggleSilent();
    const qint64 silent = counter("faults.silent");
    ASSERT_TRUE(waitFor([&] { return counter("faults.silent") >= silent + 3; }));

    const QStringList lines = station.logLines();
    EXPECT_EQ(lines.size(), counter("reads.weight"));
    EXPECT_TRUE(station.running());
    // The station writes the system locale's short date; this process has the same.
    QDateTime previous(QDate(1, 1, 1), QTime(0, 0));
    for (const QString& line : lines) {
        const QStringList f = line.split(QLatin1Char(';'));
        ASSERT_EQ(f.size(), 5) << line.toStdString();
        const QDateTime when(QLocale::system().toDate(f[0], QLocale::ShortFormat),
                             QTime::fromString(f[1], QStringLiteral("H:mm:ss")));
        ASSERT_TRUE(when.isValid()) << line.toStdString();
        EXPECT_LE(previous, when) << line.toStdString();
        previous = when;
    }
}

const LostCase kCases[] = {
    {"FaultyLine", Obstacle::None},
    {"LogLockedByADirectory", Obstacle::Directory},
    {"LogOnAFullDisk", Obstacle::FullDisk},
    {"LogReadOnly", Obstacle::Immutable},
};

INSTANTIATE_TEST_SUITE_P(Log, NothingLost, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
