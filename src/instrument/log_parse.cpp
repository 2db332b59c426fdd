#include "log_parse.h"

#include <array>
#include <charconv>
#include <cstring>

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
    const Groups g = scanGroups(text);
    if (g.tooMany || g.count != 3) return std::nullopt;
    int hour = g.value[0];
    const int minute = g.value[1];
    const int second = g.value[2];
    LogTime time;
    // "3:04:31 PM", "3:04:31 p. m.": only the letters a and p before an m count.
    const bool am = text.contains("AM") || text.contains("am") || text.contains("a. m.") ||
                    text.contains("A.M.");
    const bool pm = text.contains("PM") || text.contains("pm") || text.contains("p. m.") ||
                    text.contains("P.M.");
    if (am || pm) {
        if (hour < 1 || hour > 12) return std::nullopt;
        hour = hour % 12 + (pm ? 12 : 0);
        time.twelveHour = true;
    }
    if (hour > 23 || minute > 59 || second > 59) return std::nullopt;
    time.msOfDay = ((hour * 60 + minute) * 60 + second) * 1000;
    return time;
}

std::optional<double> parseLogNumber(QByteArrayView text, int* decimals) {
    // Plain ASCII with either separator, as formatWeight writes it; nothing else, so a
    // line glued to another is refused rather than read as some other number.
    char buffer[48];
    const qsizetype n = text.size();
    if (n == 0 || n >= static_cast<qsizetype>(sizeof buffer)) return std::nullopt;
    qsizetype point = -1;
    int digits = 0;
    for (qsizetype i = 0; i < n; ++i) {
        char c = text[i];
        if (c == ',' || c == '.') {
            if (point >= 0) return std::nullopt;
            point = i;
            c = '.';
        } else if (c == '-') {
            if (i != 0) return std::nullopt;
        } else if (isDigit(c)) {
            ++digits;
        } else {
            return std::nullopt;
        }
        buffer[i] = c;
    }
    if (digits == 0 || point == n - 1 || (point >= 0 && point == (text[0] == '-' ? 1 : 0)))
        return std::nullopt;
    double value = 0;
    const auto [end, error] = std::from_chars(buffer, buffer + n, value);
    if (error != std::errc() || end != buffer + n) return std::nullopt;
    if (decimals) *decimals = point >= 0 ? static_cast<int>(n - point - 1) : 0;
    return value;
}

std::optional<LogFields> splitLogLine(QByteArrayView line) {
    while (!line.isEmpty() && (line.back() == '\n' || line.back() == '\r')) line.chop(1);
    std::array<QByteArrayView, 5> fields;
    int count = 0;
    qsizetype start = 0;
    for (qsizetype i = 0; i <= line.size(); ++i) {
        if (i < line.size() && line[i] != ';') continue;
        if (count == 5) return std::nullopt;
        fields[static_cast<size_t>(count++)] = line.sliced(start, i - start);
        start = i + 1;
    }
    if (count != 5) return std::nullopt;
    return LogFields{fields[0], fields[1], fields[2], fields[3], fields[4]};
}

qint64 logMs(QDate date, int msOfDay) {
    constexpr qint64 kEpochJulianDay = 2440588;  // 1970-01-01
    return (date.toJulianDay() - kEpochJulianDay) * 86400000 + msOfDay;
}

std::optional<LogRecord> parseLogLine(QByteArrayView line, DateOrder order) {
    const auto fields = splitLogLine(line);
    if (!fields) return std::nullopt;
    const auto dateFields = parseLogDate(fields->date);
    if (!dateFields) return std::nullopt;
    const auto date = resolveDate(*dateFields, order);
    const auto time = parseLogTime(fields->time);
    if (!date || !time) return std::nullopt;
    LogRecord record;
    const auto gross = parseLogNumber(fields->gross, &record.decimals);
    const auto tare = parseLogNumber(fields->tare);
    const auto net = parseLogNumber(fields->net);
    if (!gross || !tare || !net) return std::nullopt;
    record.ms = logMs(*date, time->msOfDay);
    record.gross = *gross;
    record.tare = *tare;
    record.net = *net;
    return record;
}
