// Nothing lost: every weight block the real station accepted is exactly one line of
// Peso.csv, in order, even when the file cannot be written for a while and the station
// is stopped by a signal and started again meanwhile. Counted against the simulated
// module, which counts a weight read only when its reply went out intact.
#include <gtest/gtest.h>

#include <QDateTime>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocale>
#include <QProcess>
#include <csignal>
#include <functional>

#include "harness.h"

namespace {

// What stands in the log's way for a while.
enum class Obstacle {
    None,             // only the line's faults
    Directory,        // a directory where the file should be: the file is locked
    FullDisk,         // the file is /dev/full: every write fails with ENOSPC
    Immutable,        // chattr +i: read-only even for root, who ignores mode bits
    NothingWritable,  // the log immutable and the directory's disk (a tmpfs) full
};

struct LostCase {
    const char* name;
    Obstacle obstacle;
    int stopSignal = 0;  // sent while the obstacle stands, then a new station started
    // Peso.pendiente.csv then made immutable, to the end (it can be read, not appended
    // to or removed: a spreadsheet holding it open), and the log freed before the stop.
    bool pendingLocked = false;
};

void PrintTo(const LostCase& c, std::ostream* out) {
    *out << c.name;
}

class NothingLost : public ::testing::TestWithParam<LostCase> {
protected:
    void SetUp() override {
        if (GetParam().obstacle != Obstacle::NothingWritable) return;
        ASSERT_EQ(
            QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=1m", "tmpfs", station.dir()}), 0)
            << "a disk to fill needs a tmpfs (mounted as root)";
    }
    void TearDown() override {
        lockPending(false);
        if (GetParam().obstacle != Obstacle::NothingWritable) return;
        station.stop();
        QProcess::execute("umount", {station.dir()});
    }

    bool lockPending(bool on) {
        const QString pending = QDir(station.dir()).filePath(QStringLiteral("Peso.pendiente.csv"));
        return !GetParam().pendingLocked ||
               QProcess::execute(QStringLiteral("chattr"), {on ? "+i" : "-i", pending}) == 0;
    }

    qint64 counter(const char* name) { return sim.counters().value(name, -1); }

    // Switched off, and a whole block read went unanswered: every weight the module
    // served has been through the station's log by then.
    void silence() {
        sim.toggleSilent();
        const qint64 silent = counter("faults.silent");
        ASSERT_TRUE(waitFor([&] { return counter("faults.silent") >= silent + 3; }));
    }

    // Puts the obstacle up or takes it down; false when it could not be done.
    bool obstruct(Obstacle obstacle, bool up) {
        const QString log = QDir(station.dir()).filePath(QStringLiteral("Peso.csv"));
        const QString kept = QDir(station.dir()).filePath(QStringLiteral("Peso.keep"));
        const auto immutable = [&] {
            return QProcess::execute(QStringLiteral("chattr"), {up ? "+i" : "-i", log}) == 0;
        };
        switch (obstacle) {
            case Obstacle::None:
                return true;
            case Obstacle::Immutable:
                return immutable();
            case Obstacle::NothingWritable:
                // Both at once: a file begun meanwhile would take lines into its last block.
                return paused([&] { return immutable() && fill(up); });
            case Obstacle::Directory:
            case Obstacle::FullDisk:
                break;
        }
        const bool directory = obstacle == Obstacle::Directory;
        return paused([&] {
            return up ? QFile::rename(log, kept) &&
                            (directory ? QDir().mkdir(log) : QFile::link("/dev/full", log))
                      : (directory ? QDir().rmdir(log) : QFile::remove(log)) &&
                            QFile::rename(kept, log);
        });
    }

    // The station stands still while `change` runs, so no append falls in the middle.
    bool paused(const std::function<bool()>& change) {
        const auto pid = static_cast<pid_t>(station.process().processId());
        ::kill(pid, SIGSTOP);
        const bool ok = change();
        ::kill(pid, SIGCONT);
        return ok;
    }

    // Fills the station's disk to the last byte, or empties it again.
    bool fill(bool up) const {
        QFile filler(QDir(station.dir()).filePath(QStringLiteral("relleno")));
        if (!up) return filler.remove();
        if (!filler.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) return false;
        const QByteArray block(512, 'x');
        while (filler.write(block) == block.size()) {
        }
        while (filler.write("x", 1) == 1) {
        }
        return true;
    }

    // The lines a stopped station kept in the user's data directory.
    static QStringList heldLines() {
        QStringList lines;
        QDirIterator it(qEnvironmentVariable("XDG_DATA_HOME"), QDir::Files,
                        QDirIterator::Subdirectories);
        while (it.hasNext()) {
            const QFileInfo held(it.next());
            lines += logLines(held.absolutePath(), held.fileName());
        }
        return lines;
    }

    // Obstacles that move the log aside (to Peso.keep) and put something in its place.
    static bool movesTheLog(Obstacle obstacle) {
        return obstacle == Obstacle::Directory || obstacle == Obstacle::FullDisk;
    }

    QStringList pendingLines() const { return logLines(station.dir(), "Peso.pendiente.csv"); }

    // The lines written so far while the obstacle stands.
    QStringList keptLines(Obstacle obstacle) const {
        return logLines(station.dir(), movesTheLog(obstacle) ? "Peso.keep" : "Peso.csv");
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
    auto ini = tcpIni(sim.port());
    ini.insert("Timer", "20");
    station.writeIni(ini);
    ASSERT_TRUE(station.start());
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= 10; }));

    // No skipping: a missing chattr (e2fsprogs) or a file system without the immutable
    // flag would otherwise pass for a green run.
    ASSERT_TRUE(obstruct(obstacle, true))
        << "the obstacle could not be put up (chattr +i needs e2fsprogs and ext4 or the like)";
    // A line the station had begun when it was paused still goes into the file it had
    // open, now Peso.keep. Once a later line waits in the pending file, none is on its
    // way there.
    if (movesTheLog(obstacle)) {
        ASSERT_TRUE(waitFor([&] { return !pendingLines().isEmpty(); }));
    }
    const qsizetype linesBlocked = keptLines(obstacle).size();
    const qint64 readsBlocked = counter("reads.weight");
    ASSERT_TRUE(waitFor([&] { return counter("reads.weight") >= readsBlocked + 20; }));
    // The obstacle did hold: nothing reached the file meanwhile.
    if (obstacle != Obstacle::None) {
        EXPECT_EQ(keptLines(obstacle).size(), linesBlocked);
    }
    ASSERT_TRUE(lockPending(true));
    const bool freedBeforeStop = GetParam().pendingLocked;
    if (freedBeforeStop) {
        ASSERT_TRUE(obstruct(obstacle, false));
        const qint64 reads = counter("reads.weight");
        ASSERT_TRUE(waitFor([&] { return counter("reads.weight") >= reads + 10; }));
    }
    if (const int signal = GetParam().stopSignal) {
        // Stopped as systemctl, Ctrl-C or a logout would, with lines pending.
        silence();
        ::kill(static_cast<pid_t>(station.process().processId()), signal);
        ASSERT_TRUE(station.process().waitForFinished(60000));
        EXPECT_EQ(station.process().exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(station.exitCode(), 0);
        EXPECT_GT(
            obstacle == Obstacle::NothingWritable ? heldLines().size() : pendingLines().size(), 0);
        sim.toggleSilent();
        ASSERT_TRUE(station.start());
    }
    if (!freedBeforeStop) {
        ASSERT_TRUE(obstruct(obstacle, false));
    }

    const qint64 readsFreed = counter("reads.weight");
    ASSERT_TRUE(waitFor([&] { return station.logLines().size() >= readsFreed; }));
    // Silence, then wait until a whole block read went unanswered: everything served
    // before has been through the station's log by then.
    silence();

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
    {"SigtermWhileTheLogIsLocked", Obstacle::Directory, SIGTERM},
    {"SigintWhileTheLogIsOnAFullDisk", Obstacle::FullDisk, SIGINT},
    {"SighupWhileTheLogIsLocked", Obstacle::Directory, SIGHUP},
    {"SigtermWhileNothingInTheDirectoryIsWritable", Obstacle::NothingWritable, SIGTERM},
    {"SigtermWhileTheLogAndThePendingFileAreLocked", Obstacle::Directory, SIGTERM, true},
};

INSTANTIATE_TEST_SUITE_P(Log, NothingLost, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
