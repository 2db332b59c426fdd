// The weight log at the file system's real edges: a disk that fills in the middle of a
// line, a file someone else left without a line end, a pending file that outlives the
// station, and a move into the log that a kill cuts short.
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

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// A log line of the usual length, numbered so order and repeats show.
QString line(int i) {
    return QStringLiteral("7 Dec 2026;11:42:07;94.7;0.0;%1").arg(i, 6, 10, QLatin1Char('0'));
}

QByteArray lines(int from, int to) {
    QByteArray bytes;
    for (int i = from; i < to; ++i) bytes += line(i).toLatin1() + "\r\n";
    return bytes;
}

// A tmpfs of its own, so the test can fill it, enlarge it and pin files to it (needs
// root, as the suite runs in CI).
class SmallDisk : public ::testing::Test {
protected:
    void SetUp() override {
        if (QProcess::execute("mount", {"-t", "tmpfs", "-o", "size=8k", "tmpfs", dir.path()}) != 0)
            GTEST_SKIP() << "cannot mount a tmpfs here (not root?)";
        mounted = true;
    }
    void TearDown() override {
        while (!pinned.isEmpty()) QProcess::execute("umount", {pinned.takeLast()});
        if (mounted) QProcess::execute("umount", {dir.path()});
    }
    bool resize(const char* size) {
        return QProcess::execute("mount",
                                 {"-o", QStringLiteral("remount,size=") + size, dir.path()}) == 0;
    }
    // A file that is a mount point of its own cannot be removed (EBUSY), as a file held
    // open elsewhere on some systems cannot.
    bool pin(const QString& path) {
        if (QProcess::execute("mount", {"--bind", path, path}) != 0) return false;
        pinned.append(path);
        return true;
    }
    QString path(const char* name) const { return QDir(dir.path()).filePath(name); }

    QTemporaryDir dir;
    bool mounted = false;
    QStringList pinned;
};

TEST_F(SmallDisk, ALineCutShortByAFullDiskLeavesNoFragment) {
    const QString log = path("Peso.csv");
    WeightLog weights(log);
    int n = 0;
    while (weights.append(line(n))) ++n;
    ++n;
    // Whatever part of the line fitted was taken back: the file ends with a whole line.
    EXPECT_EQ(contents(log), lines(0, n - 1));
    EXPECT_GT(weights.pending(), 0);

    for (int more = 0; more < 5; ++more, ++n) weights.append(line(n));
    ASSERT_TRUE(resize("64k"));
    EXPECT_TRUE(weights.append(line(n++)));
    EXPECT_EQ(weights.pending(), 0);
    EXPECT_EQ(contents(log), lines(0, n));
    EXPECT_FALSE(QFile::exists(pendingLogPath(log)));
}

TEST_F(SmallDisk, AMoveCutShortByAKillIsFinishedOnceAtTheNextStart) {
    ASSERT_TRUE(resize("64k"));  // room for every file of the move
    const QString log = path("Peso.csv");
    writeFile(log, lines(0, 2));
    ASSERT_TRUE(QFile::rename(log, path("aside")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Peso.csv"));
    {
        WeightLog station(log);
        for (int i = 2; i < 5; ++i) EXPECT_FALSE(station.append(line(i)));
        ASSERT_TRUE(pin(pendingLogPath(log)));
        ASSERT_TRUE(QDir(dir.path()).rmdir("Peso.csv"));
        ASSERT_TRUE(QFile::rename(path("aside"), log));
        // The lines reach the log but the pending file stays: the state a kill between
        // the two steps of the move leaves behind.
        EXPECT_FALSE(station.append(line(5)));
        ASSERT_EQ(contents(log), lines(0, 6));
    }
    QProcess::execute("umount", {pinned.takeLast()});
    WeightLog next(log);
    EXPECT_EQ(next.pending(), 0);
    EXPECT_TRUE(next.append(line(6)));
    EXPECT_EQ(contents(log), lines(0, 7));
}

TEST(WeightLog, PendingLinesWaitBesideTheLogAndMoveAtTheNextStart) {
    QTemporaryDir dir;
    const QString log = dir.filePath("Peso.csv");
    ASSERT_TRUE(QDir(dir.path()).mkdir("Peso.csv"));
    {
        WeightLog station(log);
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(station.append(line(i)));
        EXPECT_EQ(station.pending(), 3);
        // Flushed every cycle, in the log's own format.
        EXPECT_EQ(contents(pendingLogPath(log)), lines(0, 3));
    }
    ASSERT_TRUE(QDir(dir.path()).rmdir("Peso.csv"));
    WeightLog next(log);
    EXPECT_EQ(next.pending(), 0);
    EXPECT_EQ(contents(log), lines(0, 3));
    EXPECT_FALSE(QFile::exists(pendingLogPath(log)));
}

TEST(WeightLog, ANewLineStandsOnItsOwnAfterAFileWithoutLineEnd) {
    const struct {
        QByteArray before, after;
    } cases[] = {
        {"old;line;1;2;3", "old;line;1;2;3\r\nL\r\n"},
        {"old;line;1;2;3\r", "old;line;1;2;3\r\nL\r\n"},
        {"old;line;1;2;3\r\n", "old;line;1;2;3\r\nL\r\n"},
    };
    for (const auto& c : cases) {
        QTemporaryDir dir;
        const QString log = dir.filePath("Peso.csv");
        writeFile(log, c.before);
        WeightLog(log).append("L");
        EXPECT_EQ(contents(log), c.after) << c.before.toStdString();
    }
}

}  // namespace
