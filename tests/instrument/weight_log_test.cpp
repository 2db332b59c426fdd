// The weight log at the file system's real edges, on a tmpfs of its own (mounted as
// root, as the suite runs in CI): a disk that fills in the middle of a line, a file
// left without a line end, and a move into the log that a kill cuts short.
#include "weight_log.h"

#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

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

TEST_F(SmallDisk, AMoveCutShortByAKillIsFinishedOnceAtTheNextStart) {
    ASSERT_TRUE(resize("64k"));
    const QString aside = log() + ".aside";
    {
        WeightLog station(log());
        station.append(line(0));
        ASSERT_TRUE(QFile::rename(log(), aside) && QDir().mkdir(log()));
        for (int i = 1; i < 4; ++i) EXPECT_FALSE(station.append(line(i)));
        // A file that is a mount point cannot be removed (EBUSY): the lines reach the
        // log and the pending file stays, as a kill between the two steps leaves them.
        ASSERT_TRUE(mount({"--bind", pendingLogPath(log()), pendingLogPath(log())}));
        mounts.append(pendingLogPath(log()));
        ASSERT_TRUE(QDir().rmdir(log()) && QFile::rename(aside, log()));
        EXPECT_FALSE(station.append(line(4)));
        ASSERT_EQ(contents(log()), lines(0, 5));
    }
    QProcess::execute("umount", {mounts.takeLast()});
    WeightLog next(log());
    EXPECT_EQ(next.pending(), 0);
    EXPECT_TRUE(next.append(line(5)));
    EXPECT_EQ(contents(log()), lines(0, 6));
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
