// The weight log at the file system's real edges, on a tmpfs of its own (mounted as
// root, as the suite runs in CI): a disk that fills in the middle of a line, a file
// left without a line end, files locked and unlocked across restarts. (Kills in the
// middle of a move are in the journal's own tests.)
#include "weight_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <memory>
#include <random>

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// Log lines of the usual length, numbered so order and repeats show.
QString line(int i) {
    return QStringLiteral("7 Dec 2026;11:42:07;94.7;0.0;%1").arg(i, 6, 10, QLatin1Char('0'));
}
QByteArray lines(int from, int to) {
    QByteArray bytes;
    for (int i = from; i < to; ++i) bytes += line(i).toLatin1() + "\r\n";
    return bytes;
}

class SmallDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (!mount({"-t", "tmpfs", "-o", "size=8k", "tmpfs", dir.path()}))
            GTEST_SKIP() << "cannot mount a tmpfs here (not root?)";
        mounts.append(dir.path());
    }
    void TearDown() override {
        while (!mounts.isEmpty()) QProcess::execute("umount", {mounts.takeLast()});
    }
    bool mount(const QStringList& args) { return QProcess::execute("mount", args) == 0; }
    bool resize(const QString& size) { return mount({"-o", "remount,size=" + size, dir.path()}); }
    QString log() const { return QDir(dir.path()).filePath("Peso.csv"); }

    QTemporaryDir dir;
    QStringList mounts;
};

TEST_F(SmallDisk, ALineCutShortByAFullDiskLeavesNoFragment) {
    WeightLog weights(log());
    int n = 0;
    while (weights.append(line(n))) ++n;
    // Whatever part of the line fitted was taken back: the file ends with a whole line.
    EXPECT_EQ(contents(log()), lines(0, n));
    weights.append(line(n + 1));
    EXPECT_EQ(weights.pending(), 2);

    ASSERT_TRUE(resize("64k"));
    EXPECT_TRUE(weights.append(line(n + 2)));
    EXPECT_EQ(contents(log()), lines(0, n + 3));
}

// Locks a file against appends and removal, as a spreadsheet holding it open does.
bool lock(const QString& path, bool on) {
    return !QFile::exists(path) || QProcess::execute("chattr", {on ? "+i" : "-i", path}) == 0;
}

// A line at every step of a script: 'L' locks or unlocks the log, 'P' the pending file,
// 'R' restarts the station, '.' does nothing else. Lines held in memory over a restart
// wait in the user's data directory.
TEST_F(SmallDisk, EveryLineOnceInOrderWhateverIsLockedWhen) {
    ASSERT_TRUE(resize("256k"));
    QTemporaryDir data;
    qputenv("XDG_DATA_HOME", QFile::encodeName(data.path()));
    QStringList scripts = {"L..PL..R..P..", "L..P.R.L..R.P.R", "L..PRL..P", "LP.L.P.R"};
    std::mt19937 random(17);
    for (int i = 0; i < 30; ++i) {
        QString script;
        for (int step = 0; step < 10; ++step) script += QStringLiteral("LPR.")[random() % 4];
        scripts += script;
    }
    int n = 0;
    for (const QString& script : scripts) {
        bool logLocked = false;
        bool pendingLocked = false;
        auto station = std::make_unique<WeightLog>(log());
        for (const QChar step : script) {
            if (step == QLatin1Char('L')) {
                ASSERT_TRUE(lock(log(), logLocked = !logLocked));
            } else if (step == QLatin1Char('P')) {
                ASSERT_TRUE(lock(pendingPath(log()), pendingLocked = !pendingLocked));
            } else if (step == QLatin1Char('R')) {
                station.reset();
                station = std::make_unique<WeightLog>(log());
            }
            station->append(line(n++));
        }
        ASSERT_TRUE(lock(log(), false) && lock(pendingPath(log()), false));
        station->append(line(n++));
        EXPECT_EQ(station->pending(), 0) << script.toStdString();
        ASSERT_EQ(contents(log()).toStdString(), lines(0, n).toStdString()) << script.toStdString();
    }
}

TEST(WeightLog, ANewLineStandsOnItsOwnAfterAFileWithoutLineEnd) {
    for (const QByteArray before : {"old;line;1;2;3", "old;line;1;2;3\r", "old;line;1;2;3\r\n"}) {
        QTemporaryDir dir;
        QFile file(dir.filePath("Peso.csv"));
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(before);
        file.close();
        WeightLog(file.fileName()).append("L");
        EXPECT_EQ(contents(file.fileName()), "old;line;1;2;3\r\nL\r\n") << before.toStdString();
    }
}

}  // namespace
