#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "display_map.h"
#include "qt_printers.h"
#include "weight_format.h"
#include "weight_log.h"

namespace {

const QLocale kSpanish(QLocale::Spanish, QLocale::Spain);
const QLocale kC = QLocale::c();

// --- weight format ------------------------------------------------------------------

TEST(WeightFormat, PatternHasOneZeroPerDecimal) {
    EXPECT_EQ(WeightFormat(0), "#####0");
    EXPECT_EQ(WeightFormat(1), "#####0.0");
    EXPECT_EQ(WeightFormat(3), "#####0.000");
}

TEST(FormatWeight, DecimalsAndSeparatorFollowTheLocale) {
    EXPECT_EQ(formatWeight(12.0, 0, kSpanish), "12");
    EXPECT_EQ(formatWeight(12.5, 2, kSpanish), "12,50");
    EXPECT_EQ(formatWeight(12.345, 3, kSpanish), "12,345");
    EXPECT_EQ(formatWeight(12.5, 2, kC), "12.50");
    EXPECT_EQ(formatWeight(12.345, 3, kC), "12.345");
    // At least one integer digit.
    EXPECT_EQ(formatWeight(0.0, 0, kSpanish), "0");
    EXPECT_EQ(formatWeight(0.05, 2, kSpanish), "0,05");
    EXPECT_EQ(formatWeight(0.0, 3, kC), "0.000");
}

TEST(FormatWeight, LargeValuesAreWrittenInFullWithoutGrouping) {
    EXPECT_EQ(formatWeight(1234567.0, 0, kSpanish), "1234567");
    EXPECT_EQ(formatWeight(4294967295.0, 0, kC), "4294967295");
    EXPECT_EQ(formatWeight(42949672.95, 2, kSpanish), "42949672,95");
    EXPECT_EQ(formatWeight(1234567.891, 3, QLocale(QLocale::English, QLocale::UnitedStates)),
              "1234567.891");
}

TEST(FormatWeight, NegativesGetALeadingMinusButZeroNever) {
    EXPECT_EQ(formatWeight(-1.0, 0, kSpanish), "-1");
    EXPECT_EQ(formatWeight(-999999.0, 0, kC), "-999999");
    EXPECT_EQ(formatWeight(-21474836.48, 2, kSpanish), "-21474836,48");
    EXPECT_EQ(formatWeight(-0.5, 1, kSpanish), "-0,5");
    EXPECT_EQ(formatWeight(-0.0, 2, kSpanish), "0,00");
    EXPECT_EQ(formatWeight(-0.0001, 2, kC), "0.00");
}

// --- display replica ----------------------------------------------------------------

TEST(SegmentsFromDisplay, EachBitLightsItsOwnElement) {
    // Character i carries the single bit i-1, so element 8(i-1) + i is the only one lit.
    QByteArray display;
    for (int i = 0; i < 8; ++i) display.append(static_cast<char>(1 << i));
    const SegmentStates states = segmentsFromDisplay(display);
    EXPECT_FALSE(states[0]);
    for (int index = 1; index <= 64; ++index) {
        const int character = (index - 1) / 8 + 1;
        const int bit = (index - 1) % 8;
        EXPECT_EQ(states[index], bit == character - 1) << index;
    }
}

TEST(SegmentsFromDisplay, FullAndDarkCharacters) {
    QByteArray display(8, '\0');
    display[0] = static_cast<char>(0xFF);
    display[2] = 0x06;  // rightmost digit, bits 1 and 2: segments c and d
    const SegmentStates states = segmentsFromDisplay(display);
    QList<int> lit;
    for (int index = 0; index <= 64; ++index)
        if (states[index]) lit << index;
    EXPECT_EQ(lit,
              QList<int>({1, 2, 3, 4, 5, 6, 7, 8, seg::digitFirst(0) + 1, seg::digitFirst(0) + 2}));
}

TEST(SegmentsFromDisplay, ShortOrEmptyImageIsDark) {
    for (const QByteArray& display : {QByteArray(), QByteArray(7, '\xFF')}) {
        const SegmentStates states = segmentsFromDisplay(display);
        for (bool on : states) EXPECT_FALSE(on);
    }
}

// --- log line -----------------------------------------------------------------------

const QDateTime kWhen(QDate(2026, 7, 12), QTime(7, 54, 31));

TEST(LogLine, SpanishDateTimeAndCommaWithoutZone) {
    const WeightReading w{12.5, 0.0, -3.25, 0, 0};
    EXPECT_EQ(logLine(kWhen, w, 2, kSpanish), "12/7/26;7:54:31;12,50;0,00;-3,25");
}

TEST(LogLine, EnglishKeepsTheDayPeriodButNoZone) {
    const WeightReading w{1234567, 20, 1234547, 0, 0};
    const QString line = logLine(kWhen, w, 0, QLocale(QLocale::English, QLocale::UnitedStates));
    EXPECT_EQ(line, "7/12/26;7:54:31 AM;1234567;20;1234547");
}

TEST(LogLine, NoLocaleLeavesAZoneInTheTime) {
    const WeightReading w{};
    for (const QLocale& locale : {kC, kSpanish, QLocale(QLocale::German, QLocale::Germany),
                                  QLocale(QLocale::French, QLocale::France),
                                  QLocale(QLocale::English, QLocale::UnitedKingdom)}) {
        const QStringList fields = logLine(kWhen, w, 0, locale).split(';');
        ASSERT_EQ(fields.size(), 5) << locale.name().toStdString();
        const QString time = fields[1];
        EXPECT_TRUE(time.contains("54") && time.contains("31")) << time.toStdString();
        EXPECT_FALSE(time.contains("UTC") || time.contains('(') || time.endsWith(' '))
            << time.toStdString();
    }
}

// --- weight log ---------------------------------------------------------------------

QByteArray contents(const QString& path) {
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) return {};
    return file.readAll();
}

TEST(WeightLog, AppendsLinesWithCrLf) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Peso.csv");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier\r\n");
    }
    WeightLog log(path);
    EXPECT_TRUE(log.append("a;1"));
    EXPECT_TRUE(log.append("b;2"));
    EXPECT_EQ(contents(path), "earlier\r\na;1\r\nb;2\r\n");
    EXPECT_EQ(log.pending(), 0);
}

TEST(WeightLog, KeepsLinesWhileUnwritableAndWritesThemOnceInOrder) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Peso.csv");
    WeightLog log(path);
    EXPECT_TRUE(log.append("1"));

    // A directory in the file's place cannot be opened for writing, even by root.
    ASSERT_TRUE(QFile::rename(path, dir.filePath("moved.csv")));
    ASSERT_TRUE(QDir(dir.path()).mkdir("Peso.csv"));
    EXPECT_FALSE(log.append("2"));
    EXPECT_FALSE(log.append("3"));
    EXPECT_EQ(log.pending(), 2);

    ASSERT_TRUE(QDir(dir.path()).rmdir("Peso.csv"));
    ASSERT_TRUE(QFile::rename(dir.filePath("moved.csv"), path));
    EXPECT_TRUE(log.append("4"));
    EXPECT_EQ(log.pending(), 0);
    EXPECT_TRUE(log.append("5"));
    EXPECT_EQ(contents(path), "1\r\n2\r\n3\r\n4\r\n5\r\n");
}

TEST(WeightLog, BacklogDropsOnlyTheOldestBeyondItsBound) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Peso.csv");
    ASSERT_TRUE(QDir(dir.path()).mkdir("Peso.csv"));
    WeightLog log(path);
    const int total = WeightLog::kMaxBacklog + 3;
    for (int i = 0; i < total; ++i) log.append(QString::number(i));
    EXPECT_EQ(log.pending(), WeightLog::kMaxBacklog);

    ASSERT_TRUE(QDir(dir.path()).rmdir("Peso.csv"));
    EXPECT_TRUE(log.append(QString::number(total)));
    const QList<QByteArray> lines = contents(path).split('\n');
    // The newest line counts towards the bound too; the split leaves one empty tail.
    ASSERT_EQ(lines.size(), WeightLog::kMaxBacklog + 1);
    EXPECT_EQ(lines.front(), "4\r");
    EXPECT_EQ(lines[lines.size() - 2], QByteArray::number(total) + "\r");
}

}  // namespace
