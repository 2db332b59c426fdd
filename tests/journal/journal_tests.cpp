// The journal where a kill can cut it, as any user runs it (no root): a child process the
// kernel ends in the middle of a write (past its file-size limit, SIGXFSZ) or at the
// removal of a file (a seccomp filter, SIGSYS). A directory in a file's place locks it
// against root as well.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <csignal>
#include <memory>
#include <thread>

#include "journal.h"
#include "removal_filter.h"

namespace {

QByteArrayList lines(int from, int to) {
    QByteArrayList list;
    for (int i = from; i < to; ++i) list << "7/12/26;11:42:07;94,7;0,0;" + QByteArray::number(i);
    return list;
}
std::string text(int from, int to) {
    return (lines(from, to).join("\r\n") + "\r\n").toStdString();
}
std::string text(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll().toStdString() : std::string();
}
qint64 size(const QString& path) {
    return QFileInfo(path).size();
}

void limitFileSize(rlim_t bytes) {
    const rlimit limit{bytes, RLIM_INFINITY};
    setrlimit(RLIMIT_FSIZE, &limit);
}

class JournalTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("XDG_DATA_HOME", QFile::encodeName(data.path())); }
    QString log() const { return dir.filePath(QStringLiteral("Peso.csv")); }

    static bool lock(const QString& path) {
        return (!QFile::exists(path) || QFile::rename(path, path + ".aparte")) &&
               QDir().mkdir(path);
    }
    static bool unlock(const QString& path) {
        const QString aside = path + ".aparte";
        return !QFileInfo(path).isDir() ||
               (QDir().rmdir(path) && (!QFile::exists(aside) || QFile::rename(aside, path)));
    }
    // Lines [from, inLog) into the log and [inLog, to) after them, where a journal closed
    // with the log locked leaves them: the pending file, or with that locked too the data
    // directory. Both stay locked.
    void leave(int from, int inLog, int to, bool pendingLocked) {
        Journal journal(log());
        for (const QByteArray& line : lines(from, inLog)) journal.append(line);
        ASSERT_TRUE(lock(log()) && (!pendingLocked || lock(pendingPath(log()))));
        for (const QByteArray& line : lines(inLog, to)) journal.append(line);
    }
    // With both unlocked, a journal opened in a child process the kernel ends: SIGXFSZ
    // once a file would grow `growth` bytes past the log's size, SIGSYS at its first
    // removal of a file. The log's size before.
    qint64 killedOpening(int signal, qint64 growth = 0) {
        EXPECT_TRUE(unlock(log()) && unlock(pendingPath(log())));
        const qint64 before = size(log());
        EXPECT_EXIT(
            {
                if (signal == SIGXFSZ) limitFileSize(static_cast<rlim_t>(before + growth));
                if (signal != SIGSYS || refuseRemoval(SECCOMP_RET_KILL_PROCESS))
                    Journal open(log());
            },
            ::testing::KilledBySignal(signal), "");
        return before;
    }
    // Every line once, in order, in the log; none waiting anywhere.
    void expectAllIn(int to) {
        ASSERT_TRUE(unlock(log()) && unlock(pendingPath(log())));
        Journal next(log());
        EXPECT_EQ(next.pending(), 0);
        EXPECT_EQ(text(log()), text(0, to));
        EXPECT_FALSE(QFile::exists(pendingPath(log())));
        EXPECT_FALSE(QFile::exists(heldLinesPath(log())));
    }

    QTemporaryDir dir;
    QTemporaryDir data;
};

TEST_F(JournalTest, AMoveKilledInTheMiddleOrBeforeTheRemovalLeavesEachLineOnce) {
    leave(0, 3, 20, false);
    const qint64 before = killedOpening(SIGXFSZ, size(pendingPath(log())) / 2);
    // The kill did cut the block: part of it is in the log.
    ASSERT_GT(size(log()), before);
    ASSERT_LT(size(log()), before + size(pendingPath(log())));
    expectAllIn(20);

    leave(20, 23, 40, false);
    killedOpening(SIGSYS);
    ASSERT_EQ(text(log()), text(0, 40));
    ASSERT_TRUE(QFile::exists(pendingPath(log())));
    expectAllIn(40);
}

TEST_F(JournalTest, HeldLinesLeaveTheirFileOnlyOnceTheyAreInAndComeBackOnce) {
    const QString held = heldLinesPath(log());
    leave(0, 3, 30, true);
    {
        // A start that cannot place them either keeps them, and holds its own after them.
        Journal still(log());
        EXPECT_EQ(still.pending(), 27);
        still.append(lines(30, 31)[0]);
    }
    ASSERT_EQ(text(held), text(3, 31));
    const qint64 before = killedOpening(SIGXFSZ, size(held) / 2);
    ASSERT_GT(size(log()), before);
    expectAllIn(31);

    leave(31, 31, 40, true);
    killedOpening(SIGSYS);
    ASSERT_EQ(text(log()), text(0, 40));
    ASSERT_TRUE(QFile::exists(held));
    expectAllIn(40);
    expectAllIn(40);
}

// In the log, the pending file and memory; then with the pending file moved in but not
// removable (refused on the journal's own thread).
TEST_F(JournalTest, NewestLinesAreEachLineOnceWhereverItWaits) {
    auto expectNewest = [](const Journal& journal, int to) {
        for (int count : {1, 5, 8, to + 2})
            EXPECT_EQ(journal.newestLines(count).join('\n').toStdString(),
                      lines(std::max(0, to - count), to).join('\n').toStdString());
    };
    {
        Journal journal(log());
        for (const QByteArray& line : lines(0, 3)) journal.append(line);
        // No file may outgrow the log: the pending file takes three lines, memory the rest.
        std::signal(SIGXFSZ, SIG_IGN);
        limitFileSize(static_cast<rlim_t>(size(log())));
        for (const QByteArray& line : lines(3, 10)) journal.append(line);
        limitFileSize(RLIM_INFINITY);
        EXPECT_EQ(text(pendingPath(log())), text(3, 6));
        expectNewest(journal, 10);
        ASSERT_TRUE(lock(log()));
    }
    ASSERT_TRUE(unlock(log()));
    std::unique_ptr<Journal> stuck;
    std::thread([&] {
        if (refuseRemoval(SECCOMP_RET_ERRNO | EPERM)) stuck = std::make_unique<Journal>(log());
    }).join();
    ASSERT_TRUE(stuck && QFile::exists(pendingPath(log())));
    EXPECT_EQ(text(log()), text(0, 10));
    expectNewest(*stuck, 10);
    stuck->append(lines(10, 11)[0]);
    expectNewest(*stuck, 11);
}

}  // namespace
