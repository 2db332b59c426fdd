#include <gtest/gtest.h>

#include <QDate>
#include <vector>

#include "dose_record.h"

namespace {

QDateTime at(int day, int hour, int minute, int second) {
    return fromLogClock(logMs(QDate(2026, 12, day), ((hour * 60 + minute) * 60 + second) * 1000));
}

DoseRecord record(std::optional<qint64> finalNet, DoseResult result, qint64 fine = 980) {
    DoseRecord r;
    r.start = at(7, 8, 0, 0);
    r.end = at(7, 8, 0, 12);
    r.target = 1000;
    r.coarse = 800;
    r.fine = fine;
    r.finalNet = finalNet;
    r.result = result;
    return r;
}

}  // namespace

TEST(DoseRecord, LineGoesAndComesBackInEveryLocale) {
    DoseRecord complete = record(972, DoseResult::Falta);
    DoseRecord pastMidnight = record(std::nullopt, DoseResult::Incompleta);
    pastMidnight.start = at(7, 23, 59, 55);
    pastMidnight.end = at(8, 0, 0, 7);
    DoseRecord unknownSetpoints = record(1004, DoseResult::Hecha);
    unknownSetpoints.target.reset();
    unknownSetpoints.coarse.reset();

    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    EXPECT_EQ(doseLine(complete, 1, spanish),
              "7/12/26;8:00:00;8:00:12;100,0;80,0;98,0;97,2;-2,8;Falta");
    EXPECT_EQ(doseLine(unknownSetpoints, 1, spanish),
              "7/12/26;8:00:00;8:00:12;;;98,0;100,4;;Hecha");
    const std::vector<std::pair<QLocale, DateOrder>> locales = {
        {spanish, DateOrder::DayFirst},
        {QLocale(QLocale::English, QLocale::UnitedStates), DateOrder::MonthFirst},
        {QLocale(QLocale::German, QLocale::Germany), DateOrder::DayFirst},
    };
    for (const auto& [locale, order] : locales) {
        for (const DoseRecord& r : {complete, pastMidnight, unknownSetpoints}) {
            const QString line = doseLine(r, 1, locale);
            EXPECT_EQ(parseDoseLine(line.toUtf8() + "\r\n", order, 1), r) << line.toStdString();
        }
    }
    EXPECT_FALSE(
        parseDoseLine("7/12/26;8:00:00;8:00:12;100,0;80,0;98,0;;;OK", DateOrder::DayFirst, 1))
        << "an OK without its weight is not a line the station writes";
}

TEST(DoseRecord, ResultAtTheToleranceLimits) {
    struct Row {
        qint64 finalNet, target;
        double tolerance;
        DoseResult expected;
    };
    const Row rows[] = {
        {1005, 1000, 0.5, DoseResult::Ok},   {1006, 1000, 0.5, DoseResult::Exceso},
        {995, 1000, 0.5, DoseResult::Ok},    {994, 1000, 0.5, DoseResult::Falta},
        {10030, 10000, 0.3, DoseResult::Ok}, {10031, 10000, 0.3, DoseResult::Exceso},
        {9970, 10000, 0.3, DoseResult::Ok},  {1200, 1000, 0, DoseResult::Hecha},
    };
    for (const Row& row : rows)
        EXPECT_EQ(doseResult(row.finalNet, row.target, row.tolerance), row.expected)
            << row.finalNet << " against " << row.target << " at " << row.tolerance << " %";
}

TEST(DoseRecord, StatisticsAndSuggestionCountOnlyTheCompleteCycles) {
    const std::vector<DoseRecord> records = {
        record(1000, DoseResult::Ok),
        record(1002, DoseResult::Ok),
        record(std::nullopt, DoseResult::Incompleta),
        record(990, DoseResult::Falta),
        record(1010, DoseResult::Exceso),
    };
    const DoseStats s = doseStats(records, 1);
    EXPECT_EQ(s.count, 4);
    EXPECT_DOUBLE_EQ(s.meanFinal, 100.05);
    EXPECT_NEAR(s.stdDev, 0.82260, 1e-5);  // sample deviation of 100.0, 100.2, 99.0, 101.0
    EXPECT_DOUBLE_EQ(s.minFinal, 99.0);
    EXPECT_DOUBLE_EQ(s.maxFinal, 101.0);
    EXPECT_DOUBLE_EQ(s.meanDeviation, 0.05);
    EXPECT_EQ(s.outOfTolerance, 2);
    EXPECT_DOUBLE_EQ(s.outOfTolerancePercent, 50.0);
    EXPECT_DOUBLE_EQ(s.totalDosed, 400.2);

    const DoseSetpoints inForce{20, 800, 980, 1000};
    EXPECT_FALSE(suggestedFine(records, inForce)) << "four complete cycles are not five";
    std::vector<DoseRecord> more = records;
    more.push_back(record(1500, DoseResult::Exceso, 990));  // other setpoints: not counted
    more.push_back(record(1003, DoseResult::Ok));
    more.push_back(record(1001, DoseResult::Ok));
    // The last five at these setpoints: 1001, 1003, 1010, 990, 1002; mean 1001.2.
    EXPECT_EQ(suggestedFine(more, inForce), 979);
}
