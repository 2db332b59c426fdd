// The journal where a kill can cut it: a move into the log and the taking back of held
// lines, each ended by the kernel in the middle (a child process past its file-size
// limit gets SIGXFSZ in the middle of a write; a seccomp filter ends it at a removal).
// The log and the pending file are locked by a directory in their place, which stops
// root as well as anyone: the suite needs no privileges.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <csignal>
#include <functional>
#include <memory>
#include <ostream>
#include <thread>

#include "journal.h"
#include "removal_filter.h"

// Failures show the lines as text.
void PrintTo(const QByteArray& bytes, std::ostream* os) {
    *os << '"' << bytes.toStdString() << '"';
}

namespace {

QByteArray contents(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

qint64 size(const QString& path) {
    return QFileInfo(path).size();
}

// Log lines numbered so order and repeats show.
QByteArray line(int i) {
    return "7/12/26;11:42:07;94,7;0,0;" + QByteArray::number(i).rightJustified(6, '0');
}
QByteArray lines(int from, int to) {
    QByteArray bytes;
    for (int i = from; i < to; ++i) bytes += line(i) + "\r\n";
    return bytes;
}
QByteArrayList lineList(int from, int to) {
    QByteArrayList list;
    for (int i = from; i < to; ++i) list << line(i);
    return list;
}

// How far this process may write into any file; past it a write fails (EFBIG), or ends
// the process (SIGXFSZ) unless that signal is ignored.
void limitFileSize(rlim_t bytes) {
    const rlimit limit{bytes, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
}

// For a death test's child: `work`, ended by the kernel once a file grows past `bytes`.
void killedPastSize(qint64 bytes, const std::function<void()>& work) {
    limitFileSize(static_cast<rlim_t>(bytes));
    work();
}
// For a death test's child: `work`, ended by the kernel at its first removal of a file.
void killedAtRemoval(const std::function<void()>& work) {
    if (refuseRemoval(SECCOMP_RET_KILL_PROCESS)) work();
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_DATA_HOME", QFile::encodeName(data.path())); }

    QString log() const { return dir.filePath(QStringLiteral("Peso.csv")); }
    QString held() const { return heldLinesPath(log()); }

    // A directory in the file's place: nobody, root included, appends to it.
    static bool lock(const QString& path) {
        return (!QFile::exists(path) || QFile::rename(path, path + ".aparte")) &&
               QDir().mkdir(path);
    }
    static bool unlock(const QString& path) {
        return QDir().rmdir(path) &&
               (!QFile::exists(path + ".aparte") || QFile::rename(path + ".aparte", path));
    }

    // Lines [0, inLog) in the log and [inLog, to) in the pending file.
    void leavePending(int inLog, int to) {
        {
            Journal journal(log());
            for (int i = 0; i < inLog; ++i) ASSERT_TRUE(journal.append(line(i)));
            ASSERT_TRUE(lock(log()));
            for (int i = inLog; i < to; ++i) EXPECT_FALSE(journal.append(line(i)));
        }
        ASSERT_TRUE(unlock(log()));
        ASSERT_EQ(contents(pendingPath(log())), lines(inLog, to));
    }

    // Lines [0, inLog) in the log and [inLog, to) held in the data directory by a
    // journal closed while neither the log nor its pending file could be written; both
    // stay locked.
    void leaveHeld(int inLog, int to) {
        Journal journal(log());
        for (int i = 0; i < inLog; ++i) ASSERT_TRUE(journal.append(line(i)));
        ASSERT_TRUE(lock(log()) && lock(pendingPath(log())));
        for (int i = inLog; i < to; ++i) EXPECT_FALSE(journal.append(line(i)));
    }
    void expectLog(int to) {
        Journal next(log());
        EXPECT_EQ(next.pending(), 0);
        EXPECT_EQ(contents(log()), lines(0, to));
        EXPECT_FALSE(QFile::exists(pendingPath(log())));
        EXPECT_FALSE(QFile::exists(held()));
    }

    QTemporaryDir dir;
    QTemporaryDir data;
};

TEST_F(JournalTest, AMoveCutShortByAKillIsMovedAgainOnce) {
    leavePending(3, 40);
    const qint64 before = size(log());
    EXPECT_EXIT(
        killedPastSize(before + size(pendingPath(log())) / 2, [&] { Journal journal(log()); }),
        ::testing::KilledBySignal(SIGXFSZ), "");
    // The kill did cut the block: part of it is in the log.
    ASSERT_GT(size(log()), before);
    ASSERT_LT(size(log()), before + size(pendingPath(log())));
    expectLog(40);
}

TEST_F(JournalTest, AKillBeforeTheMovedPendingFileIsRemovedLeavesItsLinesOnce) {
    leavePending(3, 10);
    EXPECT_EXIT(killedAtRemoval([&] { Journal journal(log()); }), ::testing::KilledBySignal(SIGSYS),
                "");
    ASSERT_EQ(contents(log()), lines(0, 10));
    ASSERT_TRUE(QFile::exists(pendingPath(log())));
    expectLog(10);
}

TEST_F(JournalTest, HeldLinesSurviveAKillThatCutsThemShortOnTheirWayIn) {
    leaveHeld(3, 40);
    ASSERT_EQ(contents(held()), lines(3, 40));
    ASSERT_TRUE(unlock(log()) && unlock(pendingPath(log())));
    const qint64 before = size(log());
    EXPECT_EXIT(killedPastSize(before + size(held()) / 2, [&] { Journal journal(log()); }),
                ::testing::KilledBySignal(SIGXFSZ), "");
    ASSERT_GT(size(log()), before);
    expectLog(40);
}

// Taken back by runs that could not place them either, then by one that could, and by
// one that was killed once they were in: each line once, in order.
TEST_F(JournalTest, HeldLinesAreTakenBackOnce) {
    leaveHeld(3, 6);
    for (int run = 0; run < 2; ++run) {
        Journal still(log());
        EXPECT_EQ(still.pending(), 3 + 3 * run);
        for (int i = 6 + 3 * run; i < 9 + 3 * run; ++i) EXPECT_FALSE(still.append(line(i)));
    }
    ASSERT_EQ(contents(held()), lines(3, 12));
    ASSERT_TRUE(unlock(log()) && unlock(pendingPath(log())));
    EXPECT_EXIT(killedAtRemoval([&] { Journal journal(log()); }), ::testing::KilledBySignal(SIGSYS),
                "");
    ASSERT_EQ(contents(log()), lines(0, 12));
    ASSERT_TRUE(QFile::exists(held()));
    expectLog(12);
    expectLog(12);
}

// Lines in the log, in the pending file and in memory; then the pending file's lines
// moved into the log while the pending file cannot be removed.
TEST_F(JournalTest, NewestLinesWhereverTheyWait) {
    auto expectNewest = [](const Journal& journal, int to) {
        for (int count : {1, 3, 5, 8, 12, to + 2})
            EXPECT_EQ(journal.newestLines(count), lineList(std::max(0, to - count), to)) << count;
    };
    {
        Journal journal(log());
        for (int i = 0; i < 3; ++i) ASSERT_TRUE(journal.append(line(i)));
        // No file grows past the log's size: the pending file takes as many lines as the
        // log has, the rest wait in memory.
        std::signal(SIGXFSZ, SIG_IGN);
        limitFileSize(static_cast<rlim_t>(size(log())));
        for (int i = 3; i < 10; ++i) EXPECT_FALSE(journal.append(line(i)));
        limitFileSize(RLIM_INFINITY);
        std::signal(SIGXFSZ, SIG_DFL);
        EXPECT_EQ(contents(pendingPath(log())), lines(3, 6));
        EXPECT_EQ(journal.pending(), 7);
        expectNewest(journal, 10);
        ASSERT_TRUE(lock(log()));
    }
    ASSERT_TRUE(unlock(log()));
    ASSERT_EQ(contents(pendingPath(log())), lines(3, 10));

    std::unique_ptr<Journal> stuck;
    std::thread([&] {
        if (refuseRemoval(SECCOMP_RET_ERRNO | EPERM)) stuck = std::make_unique<Journal>(log());
    }).join();
    ASSERT_TRUE(stuck);
    ASSERT_TRUE(QFile::exists(pendingPath(log())));
    EXPECT_EQ(contents(log()), lines(0, 10));
    EXPECT_EQ(stuck->pending(), 0);
    expectNewest(*stuck, 10);
    EXPECT_TRUE(stuck->append(line(10)));
    expectNewest(*stuck, 11);
}

}  // namespace
