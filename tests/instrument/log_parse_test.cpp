#include "log_parse.h"

#include <gtest/gtest.h>

#include <QBuffer>
#include <QDateTime>
#include <algorithm>
#include <bit>
#include <charconv>
#include <random>
#include <string>

#include "log_reader.h"
#include "weight_log.h"

namespace {

DateOrder orderOf(const QByteArray& text, DateOrder fallback) {
    QBuffer buffer;
    buffer.setData(text);
    buffer.open(QIODevice::ReadOnly);
    return detectDateOrder(buffer, fallback);
}

}  // namespace

// The station's own writer against the reader, in each locale it is run under: every
// line comes back with its time to the second and its three weights.
TEST(LogParse, ReadsWhatTheStationWritesInEachLocale) {
    const QDateTime times[] = {
        QDateTime(QDate(2026, 12, 7), QTime(0, 0, 0)),
        QDateTime(QDate(2026, 12, 7), QTime(12, 30, 5)),
        QDateTime(QDate(2026, 3, 5), QTime(23, 59, 59)),
        QDateTime(QDate(2026, 1, 31), QTime(7, 4, 31)),
        QDateTime(QDate(2026, 11, 13), QTime(12, 0, 0)),
        QDateTime(QDate(2027, 2, 1), QTime(1, 2, 3)),
    };
    const WeightReading weights[] = {
        {94.7, 0, 94.7}, {-12.25, 3.5, -15.75}, {1234567, 4294967.295, 0}};
    for (const char* name : {"es_ES", "de_DE", "en_US", "C"}) {
        const QLocale locale{QLatin1String(name)};
        for (int decimals : {0, 1, 3}) {
            QByteArray file;
            for (const QDateTime& when : times)
                for (const WeightReading& w : weights)
                    file += logLine(when, w, decimals, locale).toLocal8Bit() + "\r\n";
            // The order of a file is found from its own dates, whatever the reader's
            // locale would suggest.
            for (const DateOrder fallback : {DateOrder::DayFirst, DateOrder::MonthFirst}) {
                const DateOrder order = orderOf(file, fallback);
                const QList<QByteArray> lines = file.split('\n');
                int i = 0;
                for (const QDateTime& when : times) {
                    for (const WeightReading& w : weights) {
                        const QByteArray& line = lines[i++];
                        const auto record = parseLogLine(line, order);
                        ASSERT_TRUE(record) << name << " " << line.constData();
                        EXPECT_EQ(record->ms,
                                  logMs(when.date(), when.time().msecsSinceStartOfDay()))
                            << name << " " << line.constData();
                        const double step =
                            std::pow(10.0, -decimals) * 1.001;  // rounded when written
                        EXPECT_NEAR(record->gross, w.gross, step / 2) << line.constData();
                        EXPECT_NEAR(record->tare, w.tare, step / 2) << line.constData();
                        EXPECT_NEAR(record->net, w.net, step / 2) << line.constData();
                        EXPECT_EQ(record->decimals, decimals) << line.constData();
                    }
                }
            }
        }
    }
}

TEST(LogParse, DateOrderComesFromTheFileAndOnlyThenFromTheFallback) {
    struct Case {
        const char* text;
        DateOrder fallback;
        DateOrder expected;
    } cases[] = {
        // A day past the 12th settles it, wherever it comes in the file.
        {"5/6/26;8:00:00;1;0;1\r\n13/6/26;8:00:00;1;0;1\r\n", DateOrder::MonthFirst,
         DateOrder::DayFirst},
        {"6/5/26;8:00:00;1;0;1\r\n6/13/26;8:00:00;1;0;1\r\n", DateOrder::DayFirst,
         DateOrder::MonthFirst},
        {"07.12.26;08:00:00;1;0;1\r\n", DateOrder::MonthFirst, DateOrder::MonthFirst},
        // Every date reads both ways: AM/PM marks a month-first writer.
        {"6/5/26;8:00:00 AM;1;0;1\r\n", DateOrder::DayFirst, DateOrder::MonthFirst},
        {"6/5/26;8:00:00;1;0;1\r\n", DateOrder::DayFirst, DateOrder::DayFirst},
        // Broken lines say nothing.
        {"garbage 13/6/26\r\n6/13/26;8:00:00;1;0;1\r\n", DateOrder::DayFirst,
         DateOrder::MonthFirst},
        {"", DateOrder::MonthFirst, DateOrder::MonthFirst},
    };
    for (const Case& c : cases) EXPECT_EQ(orderOf(c.text, c.fallback), c.expected) << c.text;
}

TEST(LogParse, LinesItCannotReadAreRefusedNotMisread) {
    const char* bad[] = {
        "",
        "7/12/26;11:42:07;94,7;0,0",                        // a field short
        "old;line;1;2;37 Dec 2026;11:42:19;94.7;0.0;94.7",  // glued to another
        "7 Dec 2026;11:7 Dec 2026;11:42:07;94.7;0.0;94.7",  // cut and glued
        "7/12/26;11:42:07;94,7;0,0;94,7;",                  // a field too many
        "7/12/26;11:42:07;9,4,7;0,0;94,7",                  // two separators
        "7/12/26;11:42:07;94,7 ;0,0;94,7",
        "7/12/26;11:42:07;1e5;0,0;94,7",
        "7/12/26;11:42:07;-;0,0;94,7",
        "7/12/26;11:42:07;94,;0,0;94,7",
        "7/12/26;11:42:07;,7;0,0;94,7",
        "7/12/26;11:42:07;9-4;0,0;94,7",
        "31/31/26;11:42:07;94,7;0,0;94,7",  // no such date
        "7/12/2026/1;11:42:07;94,7;0,0;94,7",
        "7/12;11:42:07;94,7;0,0;94,7",
        "7 Foo 2026;11:42:07;94,7;0,0;94,7",
        "7/12/26;25:00:00;94,7;0,0;94,7",
        "7/12/26;13:00:00 PM;94,7;0,0;94,7",
        "7/12/26;11:60:00;94,7;0,0;94,7",
        "7/12/26;24:00:00;94,7;0,0;94,7",
        "7/12/26;9:59:60;94,7;0,0;94,7",
        "7/12/26;11:42;94,7;0,0;94,7",
        "7/12/26;;94,7;0,0;94,7",
    };
    for (const char* line : bad)
        EXPECT_FALSE(parseLogLine(QByteArrayView(line), DateOrder::DayFirst)) << line;

    struct Good {
        const char* line;
        DateOrder order;
        QTime time;
        double gross;
    } good[] = {
        {"7/12/26;11:42:07;94,7;0,0;94,7\n", DateOrder::DayFirst, QTime(11, 42, 7), 94.7},
        {"7/12/2026;11:42:07;-0.5;0.0;-0.5\r\n", DateOrder::DayFirst, QTime(11, 42, 7), -0.5},
        {"2026-12-07;11:42:07;12;0;12", DateOrder::MonthFirst, QTime(11, 42, 7), 12},
        {"12/7/26;12:05:00 AM;1;0;1", DateOrder::MonthFirst, QTime(0, 5, 0), 1},
        {"12/7/26;12:05:00 p. m.;1;0;1", DateOrder::MonthFirst, QTime(12, 5, 0), 1},
        {"7 dec 2026;00:00:00;1;0;1", DateOrder::MonthFirst, QTime(0, 0, 0), 1},
        {"7/12/26;9:05:07;1;0;1", DateOrder::DayFirst, QTime(9, 5, 7), 1},
        {"7/12/26;23:59:59;1;0;1", DateOrder::DayFirst, QTime(23, 59, 59), 1},
        {"7/12/26;7:5:9;1;0;1", DateOrder::DayFirst, QTime(7, 5, 9), 1},
    };
    for (const Good& g : good) {
        const auto record = parseLogLine(QByteArrayView(g.line), g.order);
        ASSERT_TRUE(record) << g.line;
        EXPECT_EQ(record->ms, logMs(QDate(2026, 12, 7), g.time.msecsSinceStartOfDay())) << g.line;
        EXPECT_DOUBLE_EQ(record->gross, g.gross) << g.line;
    }
}

// A weight comes back as the very double its decimal text names, as the C++ library's
// own reading gives it, whatever its length: the chart is drawn from these.
TEST(LogParse, AWeightIsTheDoubleItsTextNames) {
    std::mt19937_64 random(7);
    for (int i = 0; i < 200000; ++i) {
        const int digits = 1 + static_cast<int>(random() % 20);
        std::string text;
        for (int d = 0; d < digits; ++d) text += static_cast<char>('0' + random() % 10);
        const int places = static_cast<int>(random() % static_cast<unsigned>(digits));
        if (places > 0) text.insert(text.end() - places, '.');
        if (random() % 2) text.insert(text.begin(), '-');
        double expected = 0;
        std::from_chars(text.data(), text.data() + text.size(), expected);
        if (random() % 2) std::replace(text.begin(), text.end(), '.', ',');
        int decimals = -1;
        const auto got = parseLogNumber(QByteArrayView(text.data(), std::ssize(text)), &decimals);
        ASSERT_TRUE(got) << text;
        ASSERT_EQ(std::bit_cast<quint64>(*got), std::bit_cast<quint64>(expected)) << text;
        ASSERT_EQ(decimals, places) << text;
    }
}
