#pragma once

#include <QDir>
#include <QString>

// Reads one key of "modbus.ini" in `dir` (the current directory by default): file name,
// section and key matched without regard to case; a UTF-8 byte-order mark skipped; the
// value trimmed of blanks and of one pair of surrounding quotes, cut to 254 characters,
// then stripped of its last character (every stored value carries one extra trailing
// character). Absent key, empty value or no file: `defaultValue`, unchanged.
QString LeeIni(const QString& section, const QString& key, const QString& defaultValue,
               const QDir& dir = QDir::current());

// The file's name as stored in `dir`, whatever its case; empty when there is none.
QString findIniFile(const QDir& dir);
