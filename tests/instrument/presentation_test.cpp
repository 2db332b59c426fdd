#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <algorithm>

#include "display_map.h"
#include "qt_printers.h"
#include "weight_format.h"
#include "weight_log.h"

namespace {

const QLocale kSpanish(QLocale::Spanish, QLocale::Spain);
const QLocale kC = QLocale::c();

// --- weight format ------------------------------------------------------------------

TEST(FormatWeight, DecimalsSeparatorSignAndNoGrouping) {
    const QLocale english(QLocale::English, QLocale::UnitedStates);
    const struct {
        double value;
        int decimals;
        const QLocale& locale;
        const char* shown;
    } cases[] = {
        {12.0, 0, kSpanish, "12"},
        {12.5, 2, kSpanish, "12,50"},
        {12.345, 3, kSpanish, "12,345"},
        {12.5, 2, kC, "12.50"},
        // At least one integer digit.
        {0.0, 0, kSpanish, "0"},
        {0.05, 2, kSpanish, "0,05"},
        // Large values in full, without group separators.
        {1234567.0, 0, kSpanish, "1234567"},
        {42949672.95, 2, kSpanish, "42949672,95"},
        {1234567.891, 3, english, "1234567.891"},
        // A leading minus for negatives, but never for a zero.
        {-1.0, 0, kSpanish, "-1"},
        {-21474836.48, 2, kSpanish, "-21474836,48"},
        {-0.5, 1, kSpanish, "-0,5"},
        {-0.0, 2, kSpanish, "0,00"},
        {-0.0001, 2, kC, "0.00"},
    };
    for (const auto& c : cases)
        EXPECT_EQ(formatWeight(c.value, c.decimals, c.locale), c.shown)
            << c.value << " with " << c.decimals;
}

// --- display replica ----------------------------------------------------------------

TEST(SegmentsFromDisplay, EachBitLightsItsOwnElementFullDarkAndShort) {
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
    const auto litCount = [](const QByteArray& image) {
        const SegmentStates states = segmentsFromDisplay(image);
        return std::count(std::begin(states), std::end(states), true);
    };
    EXPECT_EQ(litCount(QByteArray(8, '\xFF')), 64);
    EXPECT_EQ(litCount(QByteArray(8, '\0')), 0);
    // A short image is no image: nothing lit rather than stale or shifted segments.
    EXPECT_EQ(litCount(QByteArray()), 0);
    EXPECT_EQ(litCount(QByteArray(7, '\xFF')), 0);
}

// --- log line -----------------------------------------------------------------------

const QDateTime kWhen(QDate(2026, 7, 12), QTime(7, 54, 31));

TEST(LogLine, DateTimeAndWeightsInTheLocaleWithoutZone) {
    EXPECT_EQ(logLine(kWhen, {12.5, 0.0, -3.25, 0, 0}, 2, kSpanish),
              "12/7/26;7:54:31;12,50;0,00;-3,25");
    // English keeps its day period.
    EXPECT_EQ(logLine(kWhen, {1234567, 20, 1234547, 0, 0}, 0,
                      QLocale(QLocale::English, QLocale::UnitedStates)),
              "7/12/26;7:54:31 AM;1234567;20;1234547");
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

TEST(WeightLog, AppendsWithCrLfAndKeepsLinesWhileUnwritable) {
    QTemporaryDir dir;
    const QString path = dir.filePath("Peso.csv");
    {
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("earlier\r\n");
    }
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
    EXPECT_EQ(contents(path), "earlier\r\n1\r\n2\r\n3\r\n4\r\n5\r\n");
}

}  // namespace
