#pragma once

// Peso.csv read back line by line, for the offline commands and the dose history.

#include <QFile>
#include <QIODevice>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

#include "log_parse.h"

// A line longer than any the station writes is passed on cut short to this length, so
// it fails to parse instead of growing the memory.
constexpr qsizetype kLongestLogLine = 4096;

// Calls `line` for every line of `device` (without its line end) with its number from 1,
// reading in large blocks so a file of millions of lines goes by in seconds. Stops early
// when `line` returns false.
void forEachLine(QIODevice& device,
                 const std::function<bool(QByteArrayView line, qint64 number)>& line);

// The file's date order, from the first date that reads only one way; for a file whose
// every date reads both ways ("5/6/26" and nothing after the 12th), from the AM/PM of
// its times (month-first locales write them), else `fallback`.
DateOrder detectDateOrder(QIODevice& device, DateOrder fallback);

// The order this machine's own short dates are written in.
DateOrder systemDateOrder();

// What the offline commands say on stderr about the lines of a log they skipped.
QString skippedLinesNote(const QString& path, qint64 count, qint64 first);
// What they say of a log in which no line reads: the wrong file, most likely.
QString noReadingNote(const QString& path);

// The lines of one stretch of a log, parsed.
struct LogBlock {
    std::vector<LogRecord> records;  // its readable lines, in order
    qint64 lines = 0;                // every line, blank ones too
    qint64 unreadable = 0;           // lines that are not readings (blank ones do not count)
    qint64 firstUnreadable = 0;      // its line number within the block, from 1; 0 when none
    DateEvidence evidence;           // what its lines say of the date order
};

constexpr qsizetype kLogBlockBytes = 1 << 20;

// Reads the whole of `file` (open, not sequential) as forEachLine and parseLogLine do,
// a block of about `blockBytes` at a time, the blocks parsed on up to `threads` threads
// at once (0: one per core), and hands each block to `take` in the file's order until
// it returns false. `take` runs on any of those threads, never on two at once; a few
// blocks are held at a time, whatever the file's size. False when part of the file
// could not be read.
bool readLogBlocks(QFile& file, DateOrder order, const std::function<bool(const LogBlock&)>& take,
                   qsizetype blockBytes = kLogBlockBytes, int threads = 0);
