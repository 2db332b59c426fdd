#include "entry.h"

#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>

namespace {

const QLocale kSpanish(QLocale::Spanish, QLocale::Spain);

struct EntryCase {
    const char* typed;
    const char* shown;  // in the Spanish locale
    double value;
};

void PrintTo(const EntryCase& c, std::ostream* os) {
    *os << '"' << c.typed << '"';
}

class NormalizeEntry : public ::testing::TestWithParam<EntryCase> {};

TEST_P(NormalizeEntry, ShowsLocaleFormAndSendsWhatItShows) {
    const EntryCase& c = GetParam();
    const NormalizedEntry entry = normalizeEntry(QString::fromUtf8(c.typed), kSpanish);
    EXPECT_EQ(entry.text, QString::fromUtf8(c.shown));
    EXPECT_DOUBLE_EQ(entry.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(
    Spanish, NormalizeEntry,
    ::testing::Values(
        // Text after the number and blanks inside it.
        EntryCase{"12abc", "12", 12}, EntryCase{"1 2", "12", 12},
        EntryCase{" \t1\r\n2 3", "123", 123}, EntryCase{"- 5", "-5", -5}, EntryCase{"+7", "7", 7},
        // The decimal point is always the full stop; the box shows the locale's comma.
        EntryCase{"1,5", "1", 1}, EntryCase{"12.9", "12,9", 12.9}, EntryCase{".5", "0,5", 0.5},
        EntryCase{"5.", "5", 5}, EntryCase{"1.2.3", "1,2", 1.2},
        // Nothing that reads as a number is 0.
        EntryCase{"", "0", 0}, EntryCase{"abc", "0", 0}, EntryCase{".", "0", 0},
        EntryCase{"-", "0", 0}, EntryCase{"-0", "0", 0}, EntryCase{"e5", "0", 0},
        // Exponents, and an E that is not one.
        EntryCase{"1e3", "1000", 1000}, EntryCase{"1E+3", "1000", 1000},
        EntryCase{"25e-1", "2,5", 2.5}, EntryCase{"1 e 3", "1000", 1000}, EntryCase{"1e", "1", 1},
        EntryCase{"1e+", "1", 1}, EntryCase{"1ex3", "1", 1}, EntryCase{"1e-5", "1E-05", 1e-5},
        EntryCase{"1e20", "1E+20", 1e20},
        // Whole numbers stay whole up to 15 digits; beyond that the exponent form.
        EntryCase{"4294967295", "4294967295", 4294967295.0},
        EntryCase{"4294967296", "4294967296", 4294967296.0},
        EntryCase{"1234567890123", "1234567890123", 1234567890123.0},
        EntryCase{"999999999999999", "999999999999999", 999999999999999.0},
        EntryCase{"1000000000000000", "1E+15", 1e15},
        // 15 significant digits: the value sent is the rounded one the box shows.
        EntryCase{"0.1234567890123456789", "0,123456789012346", 0.123456789012346},
        EntryCase{"123456789012345.6", "123456789012346", 123456789012346.0},
        EntryCase{"4294967295.99999999", "4294967296", 4294967296.0},
        EntryCase{"65535.4", "65535,4", 65535.4}));

TEST(LeadingNumber, ExtremeMagnitudesAndDigitsOfOtherScripts) {
    const struct {
        QString text;
        double value;
    } cases[] = {
        {"0.1", 0.1},     // correctly rounded, like the compiler's literal
        {"\xd9\xa3", 0},  // other scripts' digits are not digits
        {"1e999", HUGE_VAL},
        {"-1e999", -HUGE_VAL},
        {"1" + QString(400, u'0'), HUGE_VAL},
        {"1e-999", 0},
        {"0e99999999999999999999", 0},
        {"1e99999999999999999999", HUGE_VAL},
        {"0." + QString(400, u'0') + "1e405", 1e4},
        {"1e308", 1e308},
    };
    for (const auto& c : cases) EXPECT_EQ(leadingNumber(c.text), c.value) << c.text.toStdString();
    EXPECT_TRUE(std::signbit(leadingNumber("-1e-999")));
}

TEST(NormalizeEntryLimits, NonFiniteStaysNonFinite) {
    for (const char* typed : {"1e999", "-1e999"}) {
        const NormalizedEntry entry = normalizeEntry(typed, kSpanish);
        EXPECT_TRUE(std::isinf(entry.value)) << typed;
        EXPECT_FALSE(entry.text.isEmpty()) << typed;
    }
}

TEST(NormalizeEntryLimits, NoThousandsSeparatorInAnyLocale) {
    for (const QLocale& locale :
         {kSpanish, QLocale(QLocale::German, QLocale::Germany), QLocale(QLocale::English),
          QLocale(QLocale::French, QLocale::France), QLocale::c()}) {
        const NormalizedEntry entry = normalizeEntry("1234567.5", locale);
        EXPECT_EQ(entry.value, 1234567.5) << locale.name().toStdString();
        const QString plain = QStringLiteral("1234567") + locale.decimalPoint() + QLatin1Char('5');
        EXPECT_EQ(entry.text.toStdString(), plain.toStdString()) << locale.name().toStdString();
    }
}

}  // namespace
