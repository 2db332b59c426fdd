#pragma once

#include <QByteArray>
#include <QDir>
#include <QString>
#include <optional>

// Reads one key of "modbus.ini" in `dir` (the current directory by default): file name,
// section and key matched without regard to case; a UTF-8 byte-order mark skipped; the
// value trimmed of blanks and of one pair of surrounding quotes, cut to 254 characters,
// then stripped of its last character (every stored value carries one extra trailing
// character). Absent key, empty value, no file or no text: `defaultValue`, unchanged.
QString LeeIni(const QString& section, const QString& key, const QString& defaultValue,
               const QDir& dir = QDir::current());

// Why modbus.ini in `dir` cannot be read as text (a Spanish sentence for the start-up
// box); empty when it can, or when there is no such file.
QString iniFileProblem(const QDir& dir = QDir::current());

// The file's name as stored in `dir`, whatever its case; empty when there is none.
QString findIniFile(const QDir& dir);

// The text of a file written by hand on Windows: UTF-16 after its byte-order mark, UTF-8
// when it decodes as such, else Latin-1; none when it holds a NUL (no text file does).
std::optional<QString> decodeIniText(const QByteArray& content);

// The longest value the read hands back; the station's buffer holds 255 characters
// including the terminator.
constexpr int kIniValueMax = 254;

// What the INI read gives for `section` / `key` in the file text `content`: the first
// occurrence's value, trimmed, unquoted and cut to kIniValueMax characters; empty when
// the section or key is absent. The text is UTF-16 after its byte-order mark, UTF-8
// when it decodes as such, else Latin-1; text with a NUL in it holds no values.
QString iniValue(const QByteArray& content, const QString& section, const QString& key);

// Applies the stored value convention to a read value: empty -> `defaultValue`,
// otherwise the value without its last character (which may leave it empty).
QString storedValue(const QString& readValue, const QString& defaultValue);
