#include "log_parse.h"

#include <QtEndian>
#include <array>
#include <bit>
#include <charconv>
#include <cstring>
#include <utility>

namespace {

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}
bool isLetter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
char lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

struct Groups {
    std::array<int, 3> value{};
    std::array<int, 3> digits{};
    int count = 0;
    QByteArrayView word;  // the first run of letters
    bool tooMany = false;
};

// The runs of digits and the first run of letters in `text`; everything else separates.
Groups scanGroups(QByteArrayView text) {
    Groups g;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        const char c = text[i];
        if (isDigit(c)) {
            int value = 0;
            int digits = 0;
            while (i < n && isDigit(text[i])) {
                if (digits < 6) value = value * 10 + (text[i] - '0');
                ++digits;
                ++i;
            }
            if (g.count == 3) {
                g.tooMany = true;
                return g;
            }
            g.value[static_cast<size_t>(g.count)] = value;
            g.digits[static_cast<size_t>(g.count)] = digits;
            ++g.count;
        } else if (isLetter(c)) {
            const qsizetype start = i;
            while (i < n && isLetter(text[i])) ++i;
            if (g.word.isEmpty()) g.word = text.sliced(start, i - start);
        } else {
            ++i;
        }
    }
    return g;
}

// The C locale writes English month abbreviations.
int monthFromName(QByteArrayView word) {
    static const char* const kNames[] = {"jan", "feb", "mar", "apr", "may", "jun",
                                         "jul", "aug", "sep", "oct", "nov", "dec"};
    if (word.size() < 3) return 0;
    const char abbrev[3] = {lower(word[0]), lower(word[1]), lower(word[2])};
    for (int m = 0; m < 12; ++m)
        if (std::memcmp(abbrev, kNames[m], 3) == 0) return m + 1;
    return 0;
}

int fullYear(int value, int digits) {
    return digits <= 2 ? 2000 + value : value;
}

struct Clock {
    unsigned hour = 0;
    unsigned minute = 0;
    unsigned second = 0;
    int msOfDay() const { return static_cast<int>(((hour * 60 + minute) * 60 + second) * 1000); }
};

// "8:04:31" and "08:04:31", as most locales write the time, taken apart without a look
// at the ranges; false for any other form, which the general reading takes. This and
// the readers below hand back plain values, not optionals: an optional written a byte
// at a time and read back whole stalls the load that reads it, for every field of
// every line of a log.
bool plainClock(QByteArrayView text, Clock& clock) {
    const qsizetype n = text.size();
    if (n != 7 && n != 8) return false;
    const char* t = text.data() + n - 7;  // "H:mm:ss" from here, one more digit before
    auto digit = [](char c) { return static_cast<unsigned>(c - '0'); };
    if (t[1] != ':' || t[4] != ':' || digit(t[0]) > 9 || digit(t[2]) > 9 || digit(t[3]) > 9 ||
        digit(t[5]) > 9 || digit(t[6]) > 9 || (n == 8 && digit(t[-1]) > 9))
        return false;
    clock.hour = (n == 8 ? digit(t[-1]) * 10 : 0) + digit(t[0]);
    clock.minute = digit(t[2]) * 10 + digit(t[3]);
    clock.second = digit(t[5]) * 10 + digit(t[6]);
    return true;
}

// Powers of ten a double holds exactly.
constexpr double kExactPowers[] = {1e0, 1e1, 1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                                   1e8, 1e9, 1e10, 1e11, 1e12, 1e13, 1e14, 1e15};
constexpr int kExactDigits = 15;  // any integer of 15 digits is exact as a double too

bool readTime(QByteArrayView text, LogTime& time) {
    Clock clock;
    if (plainClock(text, clock)) {
        time = {clock.msOfDay(), false};
        return clock.hour <= 23 && clock.minute <= 59 && clock.second <= 59;
    }
    // "3:04:31 PM", as English locales write it: what the general reading below makes
    // of it, without its searches.
    const qsizetype n = text.size();
    if (n > 3 && text[n - 3] == ' ' && (text[n - 2] == 'A' || text[n - 2] == 'P') &&
        text[n - 1] == 'M' && plainClock(text.first(n - 3), clock)) {
        if (clock.hour < 1 || clock.hour > 12 || clock.minute > 59 || clock.second > 59)
            return false;
        clock.hour = clock.hour % 12 + (text[n - 2] == 'P' ? 12 : 0);
        time = {clock.msOfDay(), true};
        return true;
    }
    const Groups g = scanGroups(text);
    if (g.tooMany || g.count != 3) return false;
    int hour = g.value[0];
    const int minute = g.value[1];
    const int second = g.value[2];
    time = {};
    // "3:04:31 PM", "3:04:31 p. m.": only the letters a and p before an m count.
    const bool am = text.contains("AM") || text.contains("am") || text.contains("a. m.") ||
                    text.contains("A.M.");
    const bool pm = text.contains("PM") || text.contains("pm") || text.contains("p. m.") ||
                    text.contains("P.M.");
    if (am || pm) {
        if (hour < 1 || hour > 12) return false;
        hour = hour % 12 + (pm ? 12 : 0);
        time.twelveHour = true;
    }
    if (hour > 23 || minute > 59 || second > 59) return false;
    time.msOfDay = ((hour * 60 + minute) * 60 + second) * 1000;
    return true;
}

bool readNumber(QByteArrayView text, double& value, int& places) {
    // Plain ASCII with either separator, as formatWeight writes it; nothing else, so a
    // line glued to another is refused rather than read as some other number.
    constexpr qsizetype kLongest = 47;
    if (text.isEmpty() || text.size() > kLongest) return false;
    const char* const end = text.data() + text.size();
    const bool negative = text[0] == '-';
    const char* const first = text.data() + (negative ? 1 : 0);
    const char* point = nullptr;
    int digits = 0;
    qint64 mantissa = 0;  // the digits without the separator, while they are few
    for (const char* p = first; p < end; ++p) {
        const char c = *p;
        if (isDigit(c)) {
            if (++digits <= kExactDigits) mantissa = mantissa * 10 + (c - '0');
        } else if ((c == ',' || c == '.') && !point) {
            point = p;
        } else {
            return false;
        }
    }
    if (digits == 0 || point == first || point == end - 1) return false;
    places = point ? static_cast<int>(end - point - 1) : 0;
    if (digits <= kExactDigits) {
        // Both exact, so the one rounding of the division is that of the decimal text:
        // the same double from_chars gives, for a fraction of its time.
        value = static_cast<double>(mantissa) / kExactPowers[places];
        if (negative) value = -value;
    } else {
        char buffer[kLongest];
        std::memcpy(buffer, text.data(), static_cast<size_t>(text.size()));
        if (point) buffer[point - text.data()] = '.';
        const auto [stop, error] = std::from_chars(buffer, buffer + text.size(), value);
        if (error != std::errc() || stop != buffer + text.size()) return false;
    }
    return true;
}

bool splitFields(QByteArrayView line, LogFields& fields) {
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r')) line.chop(1);
    // Four separators and no fifth, found in one pass: this runs for every line of a log.
    const char* const begin = line.data();
    const char* const end = begin + line.size();
    std::array<const char*, 4> cuts{};
    size_t count = 0;
    auto cut = [&](const char* at) {
        if (count == cuts.size()) return false;
        cuts[count++] = at;
        return true;
    };
    // Eight bytes at a time: fields are a few bytes long, and a test per byte would
    // guess wrong at nearly every separator.
    constexpr quint64 kOnes = 0x0101010101010101;
    constexpr quint64 kLow7 = kOnes * 0x7f;
    const char* p = begin;
    for (; end - p >= 8; p += 8) {
        quint64 word = 0;
        std::memcpy(&word, p, sizeof word);
        const quint64 x = qFromLittleEndian(word) ^ (kOnes * ';');  // 0 at each separator
        // The high bit of each byte that is 0, exactly (no borrow runs between bytes).
        for (quint64 zero = ~(((x & kLow7) + kLow7) | x | kLow7); zero; zero &= zero - 1)
            if (!cut(p + std::countr_zero(zero) / 8)) return false;
    }
    for (; p < end; ++p)
        if (*p == ';' && !cut(p)) return false;
    if (count != cuts.size()) return false;
    auto field = [](const char* from, const char* to) { return QByteArrayView(from, to - from); };
    fields = {field(begin, cuts[0]), field(cuts[0] + 1, cuts[1]), field(cuts[1] + 1, cuts[2]),
              field(cuts[2] + 1, cuts[3]), field(cuts[3] + 1, end)};
    return true;
}

}  // namespace

std::optional<DateFields> parseLogDate(QByteArrayView text) {
    const Groups g = scanGroups(text);
    if (g.tooMany) return std::nullopt;
    DateFields date;
    if (!g.word.isEmpty()) {
        const int month = monthFromName(g.word);
        if (month == 0 || g.count != 2) return std::nullopt;
        // "7 Dec 2026": the day comes first, the year has its four digits.
        const QDate d(fullYear(g.value[1], g.digits[1]), month, g.value[0]);
        if (!d.isValid()) return std::nullopt;
        date.certain = d;
        return date;
    }
    if (g.count != 3) return std::nullopt;
    if (g.digits[0] == 4) {
        const QDate d(g.value[0], g.value[1], g.value[2]);
        if (!d.isValid()) return std::nullopt;
        date.certain = d;
        return date;
    }
    if (g.digits[2] != 2 && g.digits[2] != 4) return std::nullopt;
    date.first = g.value[0];
    date.second = g.value[1];
    date.year = fullYear(g.value[2], g.digits[2]);
    if (!resolveDate(date, DateOrder::DayFirst) && !resolveDate(date, DateOrder::MonthFirst))
        return std::nullopt;
    return date;
}

DateOrder dateOrderHint(const DateFields& date) {
    if (date.certain) return DateOrder::Unknown;
    if (date.first > 12 && date.second <= 12) return DateOrder::DayFirst;
    if (date.second > 12 && date.first <= 12) return DateOrder::MonthFirst;
    return DateOrder::Unknown;
}

std::optional<QDate> resolveDate(const DateFields& date, DateOrder order) {
    if (date.certain) return date.certain;
    const QDate d = order == DateOrder::MonthFirst ? QDate(date.year, date.first, date.second)
                                                   : QDate(date.year, date.second, date.first);
    if (!d.isValid()) return std::nullopt;
    return d;
}

std::optional<LogTime> parseLogTime(QByteArrayView text) {
    LogTime time;
    if (!readTime(text, time)) return std::nullopt;
    return time;
}

std::optional<double> parseLogNumber(QByteArrayView text, int* decimals) {
    double value = 0;
    int places = 0;
    if (!readNumber(text, value, places)) return std::nullopt;
    if (decimals) *decimals = places;
    return value;
}

std::optional<LogFields> splitLogLine(QByteArrayView line) {
    LogFields fields;
    if (!splitFields(line, fields)) return std::nullopt;
    return fields;
}

qint64 logMs(QDate date, int msOfDay) {
    constexpr qint64 kEpochJulianDay = 2440588;  // 1970-01-01
    return (date.toJulianDay() - kEpochJulianDay) * 86400000 + msOfDay;
}

std::optional<LogRecord> parseLogLine(QByteArrayView line, DateOrder order) {
    LogRecord record;
    if (!LogLineParser(order).parse(line, record)) return std::nullopt;
    return record;
}

void DateEvidence::follow(const DateEvidence& later) {
    if (firstHint == DateOrder::Unknown) firstHint = later.firstHint;
    twelveHour = twelveHour || later.twelveHour;
}

DateOrder DateEvidence::order(DateOrder fallback) const {
    if (firstHint != DateOrder::Unknown) return firstHint;
    return twelveHour ? DateOrder::MonthFirst : fallback;
}

DateEvidence LogDateReader::takeEvidence() {
    return std::exchange(evidence_, DateEvidence{});
}

bool LogDateReader::dayStart(QByteArrayView text, qint64& ms) {
    if (text.isEmpty()) return false;
    auto note = [this](DateOrder hint) {
        if (evidence_.firstHint == DateOrder::Unknown) evidence_.firstHint = hint;
    };
    const auto size = static_cast<size_t>(text.size());
    if (text.size() == dateSize_ && std::memcmp(text.data(), dateText_.data(), size) == 0) {
        note(dateHint_);
        ms = dateMs_;
        return dateValid_;
    }
    bool valid = false;
    ms = 0;
    DateOrder hint = DateOrder::Unknown;
    if (const auto fields = parseLogDate(text)) {
        hint = dateOrderHint(*fields);
        if (const auto date = resolveDate(*fields, order_)) {
            ms = logMs(*date, 0);
            valid = true;
        }
    }
    note(hint);
    if (size <= dateText_.size()) {
        std::memcpy(dateText_.data(), text.data(), size);
        dateSize_ = text.size();
        dateMs_ = ms;
        dateValid_ = valid;
        dateHint_ = hint;
    }
    return valid;
}

bool LogLineParser::parse(QByteArrayView line, LogRecord& record) {
    LogFields fields;
    if (!splitFields(line, fields)) return false;
    qint64 day = 0;
    const bool dated = dates_.dayStart(fields.date, day);
    LogTime time;
    const bool timed = readTime(fields.time, time);
    if (timed && time.twelveHour) dates_.noteTwelveHour();
    int places = 0;
    if (!dated || !timed || !readNumber(fields.gross, record.gross, record.decimals) ||
        !readNumber(fields.tare, record.tare, places) ||
        !readNumber(fields.net, record.net, places))
        return false;
    record.ms = day + time.msOfDay;
    return true;
}
