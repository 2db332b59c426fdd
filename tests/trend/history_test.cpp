#include <gtest/gtest.h>

#include <QFile>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <algorithm>
#include <deque>
#include <random>
#include <vector>

#include "decimator.h"
#include "log_series.h"
#include "trend_recorder.h"
#include "weight_history.h"

TEST(WeightHistory, HoldsADayAtTheDefaultPollAndThenDropsTheOldest) {
    EXPECT_GE(WeightHistory::kCapacity, 24 * 3600 * 1000 / 500);

    WeightHistory h(1000);
    for (int i = 0; i < 2500; ++i) {
        if (i % 100 == 50)
            h.appendGap(i * 500);
        else
            h.append(i * 500, i, -i);
    }
    ASSERT_EQ(h.size(), 1000);
    EXPECT_EQ(h.capacity(), 1000);
    // The newest thousand, oldest first, across the ring's wrap.
    for (qsizetype k = 0; k < h.size(); ++k) {
        const int i = 1500 + static_cast<int>(k);
        EXPECT_EQ(h.at(k).ms, i * 500);
        EXPECT_EQ(h.at(k).gap, i % 100 == 50);
        if (!h.at(k).gap) {
            EXPECT_EQ(h.at(k).gross, i);
        }
    }
    EXPECT_EQ(h.lowerBound(0), 0);
    EXPECT_EQ(h.lowerBound(1500 * 500), 0);
    EXPECT_EQ(h.lowerBound(1500 * 500 + 1), 1);
    EXPECT_EQ(h.lowerBound(2499 * 500), 999);
    EXPECT_EQ(h.lowerBound(2499 * 500 + 1), 1000);
}

TEST(WeightHistory, BreaksCollapseAndTheClockNeverRunsBack) {
    WeightHistory h(10);
    h.append(1000, 1, 1);
    h.appendGap(2000);
    h.appendGap(3000);    // a module silent for several cycles: one break
    h.append(900, 2, 2);  // the clock set back
    ASSERT_EQ(h.size(), 3);
    EXPECT_TRUE(h.at(1).gap);
    EXPECT_EQ(h.at(2).ms, 2000);
    EXPECT_EQ(h.lowerBound(2000), 1);
}

// Any number of readings fold into the same few buckets, and nothing a reader would
// see is lost: the extremes, the first and the last.
TEST(Decimator, KeepsExtremesInBoundedBucketsWhateverTheCount) {
    std::mt19937 random(5);
    std::uniform_real_distribution<double> weight(-50, 150);
    Decimator d(1000, 1, 400);
    double lo = 1e9, hi = -1e9, first = 0, last = 0;
    const int n = 1'000'000;
    for (int i = 0; i < n; ++i) {
        const double w = weight(random);
        if (i == 0) first = w;
        last = w;
        lo = std::min(lo, w);
        hi = std::max(hi, w);
        d.add(1000 + i * 500LL, w, -w);
    }
    const std::vector<Bucket> buckets = d.buckets();
    EXPECT_LE(buckets.size(), 400u);
    EXPECT_GE(buckets.size(), 200u);
    Bucket all;
    qint64 count = 0;
    for (const Bucket& b : buckets) {
        mergeBucket(all, b);
        count += b.count;
    }
    EXPECT_EQ(count, n);
    EXPECT_EQ(all.grossMin, lo);
    EXPECT_EQ(all.grossMax, hi);
    EXPECT_EQ(all.netMin, -hi);
    EXPECT_EQ(all.grossFirst, first);
    EXPECT_EQ(all.grossLast, last);
    EXPECT_EQ(all.firstMs, 1000);
    EXPECT_EQ(all.lastMs, 1000 + (n - 1) * 500LL);
}

TEST(Decimator, ABreakWiderThanABucketSurvivesWidening) {
    Decimator d(0, 1000, 8);
    d.add(0, 1, 1);
    d.add(1000, 2, 2);
    d.addGap();
    d.add(5000, 3, 3);
    d.add(60000, 4, 4);  // widens three times, to 8 s buckets
    const auto buckets = d.buckets();
    ASSERT_GE(buckets.size(), 2u);
    EXPECT_FALSE(buckets[0].gapBefore);
    // With 8 s buckets the break of 4 s falls inside the first one and is no longer
    // drawn; the later reading stays joined.
    EXPECT_EQ(buckets[0].grossMax, 3);
    EXPECT_FALSE(buckets.back().gapBefore);

    Decimator fine(0, 1000, 100);
    fine.add(0, 1, 1);
    fine.addGap();
    fine.add(10000, 2, 2);
    ASSERT_EQ(fine.buckets().size(), 2u);
    EXPECT_TRUE(fine.buckets()[1].gapBefore);
}

// The station's side breaks the curve by the log's rule: by time alone, so a station
// that was stopped or a PC that slept is not bridged, and a clock set back is not
// joined as if later.
TEST(TrendRecorder, ASilenceBreaksTheCurveAndAClockSetBackIsNotJoined) {
    TrendRecorder trend;
    qint64 now = 1'000'000;
    trend.setClock([&] { return now; });
    QSignalSpy changed(&trend, &TrendRecorder::changed);

    auto reading = [&](qint64 after, double weight) {
        now += after;
        trend.addWeights({weight, 0, weight, 0, 0});
    };
    for (int i = 0; i < 10; ++i) reading(i == 9 ? 2500 : 500, i);        // 2.5 s is bridged
    for (int i = 0; i < 10; ++i) reading(i == 0 ? 8000 : 500, 100 + i);  // 8 s is not

    ASSERT_EQ(trend.history().size(), 21);
    EXPECT_TRUE(trend.history().at(10).gap);
    EXPECT_EQ(changed.count(), 20);

    const ChartInput chart = trend.chart(now - 60000, now, 600);
    ASSERT_EQ(chart.buckets.size(), 20u);
    for (size_t i = 0; i < chart.buckets.size(); ++i)
        EXPECT_EQ(chart.buckets[i].gapBefore, i == 10) << i;
    // A window that starts right after the break still begins with one.
    const ChartInput later = trend.chart(trend.history().at(11).ms, now, 600);
    ASSERT_FALSE(later.buckets.empty());
    EXPECT_TRUE(later.buckets.front().gapBefore);

    trend.setSetpoints({1, 80, 98, 100, 5});
    trend.setSetpoints({1, 80, 98, 100, 5});
    trend.setSetpoints({2, 80, 98, 100, 7});  // zero band and percentage are not drawn
    EXPECT_EQ(changed.count(), 21);
    const std::optional<ChartSetpoints> drawn = trend.chart(now - 1000, now, 10).setpoints;
    ASSERT_TRUE(drawn);
    EXPECT_EQ(drawn->fine, 98);

    reading(-2200, 200);  // the last five readings are now in the clock's future
    ASSERT_EQ(trend.history().size(), 18);
    EXPECT_TRUE(trend.history().at(16).gap);
    EXPECT_EQ(trend.history().at(17).ms, now);
    EXPECT_EQ(trend.history().at(15).ms, now - 300);
}

namespace {

QString writeFile(const QTemporaryDir& dir, const QByteArray& bytes) {
    const QString path = dir.filePath(QStringLiteral("Peso.csv"));
    QFile f(path);
    f.open(QIODevice::WriteOnly | QIODevice::Truncate);
    f.write(bytes);
    return path;
}

LogSeries read(const QString& path, const LogRange& range = {}) {
    QFile f(path);
    EXPECT_TRUE(f.open(QIODevice::ReadOnly));
    return readLog(f, DateOrder::DayFirst, range, 800);
}

}  // namespace

TEST(ReadLog, CountsWhatItSkipsAndBreaksTheLineWhereTheLogFellSilent) {
    QTemporaryDir dir;
    QByteArray text;
    text += "7/12/26;8:00:00;10,0;0,0;10,0\r\n";
    text += "\r\n";                               // blank: not a reading lost
    text += "7/12/26;8:00:00;1";                  // cut short by a crash...
    text += "7/12/26;8:00:01;11,0;0,0;11,0\r\n";  // ...and glued to the next
    text += QByteArray(10000, 'x') + "\r\n";      // longer than any line we write
    for (int s = 1; s <= 5; ++s)
        text += QStringLiteral("7/12/26;8:00:%1;%2,0;0,0;%2,0\n")
                    .arg(s, 2, 10, QLatin1Char('0'))
                    .arg(10 + s)
                    .toLatin1();
    text += "7/12/26;8:00:15;20,0;1,0;19,0\n";  // ten seconds of silence
    text += "7/12/26;8:00:16;21,5;1,0;20,5";    // no line end at the end
    const LogSeries s = read(writeFile(dir, text));
    EXPECT_EQ(s.readable, 8);
    EXPECT_EQ(s.unreadable, 2);
    EXPECT_EQ(s.firstUnreadable, 3);
    EXPECT_EQ(s.decimals, 1);
    EXPECT_EQ(s.firstMs, logMs(QDate(2026, 12, 7), 8 * 3600000));
    EXPECT_EQ(s.lastMs, logMs(QDate(2026, 12, 7), 8 * 3600000 + 16000));
    int breaks = 0;
    double top = 0;
    for (const Bucket& b : s.buckets) {
        breaks += b.gapBefore;
        top = std::max(top, b.grossMax);
        if (b.gapBefore) {
            EXPECT_EQ(b.grossFirst, 20.0);
        }
    }
    EXPECT_EQ(breaks, 1);
    EXPECT_EQ(top, 21.5);

    // Only the range asked for is drawn; the rest still counts as read.
    const LogSeries part =
        read(writeFile(dir, text), {logMs(QDate(2026, 12, 7), 8 * 3600000 + 2000),
                                    logMs(QDate(2026, 12, 7), 8 * 3600000 + 4000)});
    EXPECT_EQ(part.readable, 8);
    qint64 drawn = 0;
    for (const Bucket& b : part.buckets) drawn += b.count;
    EXPECT_EQ(drawn, 3);

    const LogSeries empty = read(writeFile(dir, ""));
    EXPECT_EQ(empty.readable, 0);
    EXPECT_EQ(empty.unreadable, 0);
    EXPECT_TRUE(empty.buckets.empty());
}

// The file is read in the machine's order first; one whose own dates say otherwise,
// past the first blocks or only by its AM/PM, is read again in its own.
TEST(ReadLog, ALogInTheOtherDateOrderIsReadInItsOwn) {
    QTemporaryDir dir;
    auto usLog = [](int lastDay, const char* suffix) {
        QByteArray text;
        for (int i = 0; i < 80000; ++i) {  // about 2 MB, two blocks and more
            const int day = i < 60000 ? 7 : lastDay;
            text += "12/" + QByteArray::number(day) + "/26;" +
                    QByteArray::number(1 + i / 3600 % 11) + ":" +
                    QByteArray::number(i / 60 % 60).rightJustified(2, '0') + ":" +
                    QByteArray::number(i % 60).rightJustified(2, '0') + suffix + ";1.5;0.0;1.5\r\n";
        }
        return text;
    };
    for (const auto& [lastDay, suffix] : {std::pair(13, ""), {8, " PM"}}) {
        const LogSeries s = read(writeFile(dir, usLog(lastDay, suffix)));
        EXPECT_EQ(s.readable, 80000) << suffix;
        EXPECT_EQ(s.unreadable, 0) << suffix;
        EXPECT_EQ(s.firstMs / 86400000, logMs(QDate(2026, 12, 7), 0) / 86400000) << suffix;
        EXPECT_EQ(s.lastMs / 86400000, logMs(QDate(2026, 12, lastDay), 0) / 86400000) << suffix;
    }
}

TEST(ReadLog, GapRuleFollowsTheLogsRhythm) {
    GapRule fast;  // Timer=500: two lines a second, written with whole seconds
    for (int i = 0; i < 20; ++i) EXPECT_FALSE(fast.isGap(0, i % 2 ? 0 : 1000));
    EXPECT_FALSE(fast.isGap(0, 3000));
    EXPECT_TRUE(fast.isGap(0, 4000));
    GapRule slow;  // Timer=5000
    for (int i = 0; i < 120; ++i) EXPECT_FALSE(slow.isGap(0, i % 2 ? 5000 : 6000));
    EXPECT_FALSE(slow.isGap(0, 12000));
    EXPECT_TRUE(slow.isGap(0, 20000));
    EXPECT_TRUE(slow.isGap(20000, 19000)) << "a clock set back";
    // The rhythm of the last lines rules, not that of the file's first ones.
    for (int i = 0; i < 200; ++i) EXPECT_FALSE(slow.isGap(0, 500));
    EXPECT_TRUE(slow.isGap(0, 4000));
}

// The usual interval is the median of the last 101, however the rhythm changes: the
// ring of intervals and its sorted copy stay the same multiset.
TEST(ReadLog, GapRuleTakesTheMedianOfTheLastIntervals) {
    std::mt19937 random(3);
    const qint64 kinds[] = {0, 0, 1000, 1000, 1000, 500, 2000, 5000, 6000, -1000};
    GapRule rule;
    std::deque<qint64> last;
    for (int i = 0; i < 20000; ++i) {
        const qint64 interval =
            i % 7 == 0 ? static_cast<qint64>(random() % 20000) : kinds[random() % std::size(kinds)];
        bool expected = interval < 0;
        if (interval > 0) {
            last.push_back(interval);
            if (last.size() > 101) last.pop_front();
            std::vector<qint64> sorted(last.begin(), last.end());
            std::sort(sorted.begin(), sorted.end());
            expected = interval > std::max<qint64>(3000, 3 * sorted[sorted.size() / 2]);
        }
        ASSERT_EQ(rule.isGap(0, interval), expected) << i;
    }
}
