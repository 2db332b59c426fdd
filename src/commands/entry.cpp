#include "entry.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <limits>
#include <string>
#include <system_error>

namespace {

// Operators paste numbers from other programs; blanks and line breaks inside them are
// ignored rather than ending the number ("1 2" is 12).
bool isBlank(QChar c) {
    return c == u' ' || c == u'\t' || c == u'\r' || c == u'\n';
}

// Only ASCII digits: other scripts' digits are not numbers for the module.
bool isDigit(QChar c) {
    return c >= u'0' && c <= u'9';
}

// Far beyond any double's range, and small enough that adding digits cannot overflow.
constexpr long long kExponentLimit = 1'000'000'000;

// The pieces of the leading number, as read from the text.
struct DecimalParts {
    bool negative = false;
    std::string integer;   // digits before the point
    std::string fraction;  // digits after it
    long long exponent = 0;
};

// Walks the text skipping blanks wherever they stand.
class Cursor {
public:
    explicit Cursor(const QString& text) : text_(text) {}

    QChar peek() {
        while (pos_ < text_.size() && isBlank(text_[pos_])) ++pos_;
        return pos_ < text_.size() ? text_[pos_] : QChar();
    }
    void advance() { ++pos_; }

private:
    const QString& text_;
    qsizetype pos_ = 0;
};

std::string takeDigits(Cursor& cursor) {
    std::string digits;
    while (isDigit(cursor.peek())) {
        digits.push_back(static_cast<char>(cursor.peek().unicode()));
        cursor.advance();
    }
    return digits;
}

// An exponent counts only when at least one digit follows the E (and its sign);
// otherwise the number ends before the E and the exponent is 0.
long long takeExponent(Cursor& cursor) {
    const QChar e = cursor.peek();
    if (e != u'E' && e != u'e') return 0;
    cursor.advance();
    bool negative = false;
    if (cursor.peek() == u'+' || cursor.peek() == u'-') {
        negative = cursor.peek() == u'-';
        cursor.advance();
    }
    long long exponent = 0;
    while (isDigit(cursor.peek())) {
        exponent = std::min(kExponentLimit, exponent * 10 + (cursor.peek().unicode() - u'0'));
        cursor.advance();
    }
    return negative ? -exponent : exponent;
}

// Text without digits before the exponent leaves both digit strings empty.
DecimalParts scanLeadingNumber(const QString& text) {
    DecimalParts parts;
    Cursor cursor(text);
    if (cursor.peek() == u'+' || cursor.peek() == u'-') {
        parts.negative = cursor.peek() == u'-';
        cursor.advance();
    }
    parts.integer = takeDigits(cursor);
    if (cursor.peek() == u'.') {
        cursor.advance();
        parts.fraction = takeDigits(cursor);
    }
    if (!parts.integer.empty() || !parts.fraction.empty()) parts.exponent = takeExponent(cursor);
    return parts;
}

// Decimal position of the first significant digit: positive for magnitudes of 1 and up.
long long magnitude(const DecimalParts& parts) {
    const auto firstInteger = parts.integer.find_first_not_of('0');
    if (firstInteger != std::string::npos)
        return static_cast<long long>(parts.integer.size() - firstInteger) + parts.exponent;
    const auto firstFraction = parts.fraction.find_first_not_of('0');
    if (firstFraction == std::string::npos) return 0;
    return parts.exponent - static_cast<long long>(firstFraction);
}

double toDouble(const DecimalParts& parts) {
    if (parts.integer.empty() && parts.fraction.empty()) return 0.0;
    std::string text = parts.integer.empty() ? std::string("0") : parts.integer;
    if (!parts.fraction.empty()) text += '.' + parts.fraction;
    text += 'e' + std::to_string(parts.exponent);

    double value = 0.0;
    const auto result = std::from_chars(text.data(), text.data() + text.size(), value);
    if (result.ec == std::errc::result_out_of_range)
        value = magnitude(parts) > 0 ? std::numeric_limits<double>::infinity() : 0.0;
    return parts.negative ? -value : value;
}

// Thousands separators would make the box text unreadable for the entry reader.
QLocale plainLocale(const QLocale& locale) {
    QLocale plain = locale;
    plain.setNumberOptions(locale.numberOptions() | QLocale::OmitGroupSeparator);
    return plain;
}

// The locale's plain form of a number. Whole numbers below 10^15 are written out in
// full so an operator who typed 4294967295 reads it back digit for digit; everything
// else takes the shortest form to 15 significant digits, with an exponent only for
// very large or very small magnitudes.
QString numberText(double value, const QLocale& plain) {
    if (value == 0.0) value = 0.0;  // no "-0" in the box
    if (std::isfinite(value) && std::trunc(value) == value && std::fabs(value) < 1e15)
        return plain.toString(value, 'f', 0);
    return plain.toString(value, 'g', 15);
}

}  // namespace

double leadingNumber(const QString& text) {
    return toDouble(scanLeadingNumber(text));
}

NormalizedEntry normalizeEntry(const QString& text, const QLocale& locale) {
    const QLocale plain = plainLocale(locale);
    const double number = leadingNumber(text);
    NormalizedEntry entry{numberText(number, plain), number};
    if (!std::isfinite(number)) return entry;
    // The value sent is what the box now says, so box and module agree to the digit.
    bool ok = false;
    const double readBack = plain.toDouble(entry.text, &ok);
    if (ok) entry.value = readBack;
    return entry;
}
