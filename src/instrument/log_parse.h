#pragma once

#include <QByteArrayView>
#include <QDate>
#include <array>
#include <optional>

// Peso.csv as the station writes it in any locale: "date;time;gross;tare;net", the date
// in the locale's short format ("7/12/26", "07.12.26", "12/7/26", "7 Dec 2026",
// "2026-12-07"), the time as hours, minutes and seconds with or without AM/PM, the
// weights with a point or a comma. Times are kept as written, with no time zone:
// milliseconds since 1970-01-01 00:00 of the log's own clock.

// Which of the two small numbers of a short date is the day. Only the file as a whole
// can tell: "5/6/26" reads either way, "13/6/26" only one way.
enum class DateOrder { Unknown, DayFirst, MonthFirst };

// A short date taken apart, before the order is known.
struct DateFields {
    int first = 0;   // day or month
    int second = 0;  // month or day
    int year = 0;    // four digits
    // Dates that read only one way ("7 Dec 2026", "2026-12-07") carry their date.
    std::optional<QDate> certain;
};

std::optional<DateFields> parseLogDate(QByteArrayView text);
// What this date says about the file's order, if anything.
DateOrder dateOrderHint(const DateFields& date);
// Unknown is read day first.
std::optional<QDate> resolveDate(const DateFields& date, DateOrder order);

struct LogTime {
    int msOfDay = 0;
    bool twelveHour = false;  // written with AM/PM, as month-first locales do
};
std::optional<LogTime> parseLogTime(QByteArrayView text);

// A weight as formatWeight writes it; `decimals` gets its places after the separator.
std::optional<double> parseLogNumber(QByteArrayView text, int* decimals = nullptr);

struct LogRecord {
    qint64 ms = 0;
    double gross = 0;
    double tare = 0;
    double net = 0;
    int decimals = 0;
};

// The fields of one line, with or without its CR LF.
struct LogFields {
    QByteArrayView date, time, gross, tare, net;
};
std::optional<LogFields> splitLogLine(QByteArrayView line);
std::optional<LogRecord> parseLogLine(QByteArrayView line, DateOrder order);

// What the lines of a file say about its date order, gathered as they are read: every
// line with its five fields counts, a reading or not.
struct DateEvidence {
    DateOrder firstHint = DateOrder::Unknown;  // of the first date that reads one way only
    bool twelveHour = false;                   // a time written with AM/PM

    // Adds what the lines after these say.
    void follow(const DateEvidence& later);
    // The file's order: its first one-way date; for a file whose every date reads both
    // ways, AM/PM marks a month-first writer; else `fallback`.
    DateOrder order(DateOrder fallback) const;
};

// The dates of one record's lines in turn. A day's record repeats its date thousands of
// times, so each date is worked out once, when it changes.
class LogDateReader {
public:
    explicit LogDateReader(DateOrder order) : order_(order) {}

    // The log time of 00:00 on the date written `text` in `ms`; false when it is no date.
    bool dayStart(QByteArrayView text, qint64& ms);
    // A time of the same lines written with AM/PM.
    void noteTwelveHour() { evidence_.twelveHour = true; }
    // Of the dates read since the last call.
    DateEvidence takeEvidence();

private:
    DateOrder order_;
    std::array<char, 32> dateText_{};
    qsizetype dateSize_ = -1;  // nothing held yet
    qint64 dateMs_ = 0;
    bool dateValid_ = false;
    DateOrder dateHint_ = DateOrder::Unknown;  // what the date held says of the order
    DateEvidence evidence_;
};

// Reads the lines of one log in turn, as parseLogLine does.
class LogLineParser {
public:
    explicit LogLineParser(DateOrder order) : dates_(order) {}

    // False when the line is no reading; `record` is then any.
    bool parse(QByteArrayView line, LogRecord& record);

    // Of the lines parsed since the last call.
    DateEvidence takeEvidence() { return dates_.takeEvidence(); }

private:
    LogDateReader dates_;
};

qint64 logMs(QDate date, int msOfDay);
