// Peso.csv read back in blocks on several threads, against the same file read line by
// line: the same readings in the same order, the same lines counted and skipped, for
// blocks from one byte to larger than the file.
#include "log_reader.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QTemporaryDir>
#include <cstring>
#include <utility>
#include <vector>

namespace {

struct Reading {
    std::vector<LogRecord> records;
    qint64 lines = 0;
    qint64 unreadable = 0;
    qint64 firstUnreadable = 0;
};

Reading lineByLine(QFile& file, DateOrder order) {
    Reading r;
    file.seek(0);
    forEachLine(file, [&](QByteArrayView line, qint64 number) {
        r.lines = number;
        if (const auto record = parseLogLine(line, order))
            r.records.push_back(*record);
        else if (!line.trimmed().isEmpty() && r.unreadable++ == 0)
            r.firstUnreadable = number;
        return true;
    });
    return r;
}

Reading inBlocks(QFile& file, DateOrder order, qsizetype blockBytes, int threads) {
    Reading r;
    const bool whole = readLogBlocks(
        file, order,
        [&](const LogBlock& block) {
            if (block.unreadable > 0 && r.unreadable == 0)
                r.firstUnreadable = r.lines + block.firstUnreadable;
            r.unreadable += block.unreadable;
            r.lines += block.lines;
            r.records.insert(r.records.end(), block.records.begin(), block.records.end());
            return true;
        },
        blockBytes, threads);
    EXPECT_TRUE(whole);
    return r;
}

// Every field, bit for bit: the picture is drawn from them.
bool same(const LogRecord& a, const LogRecord& b) {
    return a.ms == b.ms && a.decimals == b.decimals &&
           std::memcmp(&a.gross, &b.gross, sizeof a.gross) == 0 &&
           std::memcmp(&a.tare, &b.tare, sizeof a.tare) == 0 &&
           std::memcmp(&a.net, &b.net, sizeof a.net) == 0;
}

}  // namespace

TEST(LogReader, BlocksOnSeveralThreadsReadWhatLineByLineReads) {
    QByteArray text = "garbage first\r\n";
    for (int i = 0; i < 400; ++i) {
        // Days change, come back and break: each date is worked out once per change.
        const char* day = i % 97 < 60 ? "7/12/26" : (i % 97 < 90 ? "8/12/26" : "31/31/26");
        text += QByteArray(day) + ";" + QByteArray::number(8 + i / 3600) + ":" +
                QByteArray::number(i / 60 % 60).rightJustified(2, '0') + ":" +
                QByteArray::number(i % 60).rightJustified(2, '0') + ";" +
                QByteArray::number(i % 50) + "," + QByteArray::number(i % 10) + ";-0,0;" +
                QByteArray::number(i * 7 % 1000) + (i % 5 ? "\r\n" : "\n");
        if (i == 100) text += "\r\n\n";             // blank lines
        if (i == 150) text += "7/12/26;8:00:00;1";  // cut short by a crash, glued on
        // Longer than any line the station writes, yet a reading if read whole: passed
        // on cut short, and so unreadable, whichever way and wherever it falls.
        if (i == 200) text += "7" + QByteArray(5000, '/') + "12/26;9:00:00;1,0;0,0;1,0\r\n";
        if (i == 300) text += QByteArray(9000, 'x') + "\n";
    }
    text += "7/12/26;10:00:00;12,5;0,0;12,5";  // no line end at the end

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("Peso.csv")));
    ASSERT_TRUE(file.open(QIODevice::ReadWrite));
    file.write(text);
    file.flush();
    const Reading expected = lineByLine(file, DateOrder::DayFirst);
    // 28 lines with no such date, one glued to the line after it, two too long.
    ASSERT_EQ(expected.records.size(), 400u - 28 - 1 + 1);
    ASSERT_EQ(expected.unreadable, 1 + 28 + 1 + 2);

    // Every byte a block boundary, and boundaries on, before and after a line's end
    // and inside a long line, on one thread and on more than there are cores.
    const std::pair<qsizetype, int> runs[] = {{1, 2},    {7, 4},    {32, 1},    {33, 2},
                                              {4096, 2}, {4097, 4}, {20000, 2}, {1 << 20, 2}};
    for (const auto& [blockBytes, threads] : runs) {
        const Reading got = inBlocks(file, DateOrder::DayFirst, blockBytes, threads);
        const auto where = testing::Message() << blockBytes << " bytes, " << threads;
        EXPECT_EQ(got.lines, expected.lines) << where;
        EXPECT_EQ(got.unreadable, expected.unreadable) << where;
        EXPECT_EQ(got.firstUnreadable, expected.firstUnreadable) << where;
        ASSERT_EQ(got.records.size(), expected.records.size()) << where;
        for (size_t i = 0; i < got.records.size(); ++i)
            ASSERT_TRUE(same(got.records[i], expected.records[i])) << where << ", " << i;
    }

    QFile empty(dir.filePath(QStringLiteral("empty.csv")));
    ASSERT_TRUE(empty.open(QIODevice::ReadWrite));
    const Reading none = inBlocks(empty, DateOrder::DayFirst, kLogBlockBytes, 2);
    EXPECT_EQ(none.lines, 0);
    EXPECT_TRUE(none.records.empty());
}
