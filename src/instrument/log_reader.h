#pragma once

// Peso.csv read back line by line, for the offline commands and the dose history.

#include <QIODevice>
#include <QString>
#include <functional>
#include <optional>

#include "log_parse.h"

// Calls `line` for every line of `device` (without its line end) with its number from 1,
// reading in large blocks so a file of millions of lines goes by in seconds. A line
// longer than any the station writes is passed on cut short, so it fails to parse
// instead of growing the memory. Stops early when `line` returns false.
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
