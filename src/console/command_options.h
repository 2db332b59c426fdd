#pragma once

#include <QDateTime>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "usage_error.h"

// How an offline command ends when it does not end with 0: its work failed (a file that
// cannot be read or written, a log with nothing to use in it), or its arguments were not
// understood, the shell's usual status for that.
constexpr int kCommandFailed = 1;
constexpr int kUsageError = 2;

// An option a command takes, by its names (the first is the one the command is told:
// "-o" for "--output") and whether the next argument is its value.
struct CommandOption {
    QStringList names;
    bool takesValue = true;
};

// An option as given: its first name and its value, empty for one that takes none.
struct GivenOption {
    QString name;
    QString value;
};

// The arguments after the program's name as options of `accepted`, in their order, so that
// the command reports the first value it cannot use. A value is the next argument
// whatever it looks like; an option given twice is there twice.
std::variant<QList<GivenOption>, UsageError> readOptions(const QStringList& args,
                                                         const QList<CommandOption>& accepted);

// A time as the commands take it: "AAAA-MM-DD HH:MM", with seconds too, or a date alone
// for its midnight. No time zone: the records' own clock.
std::optional<QDateTime> parseCommandTime(const QString& text);

// The messages every command says the same way.
UsageError invalidTime(const QString& option, const QString& value);
// `expected` says what the option takes: "un número no negativo".
UsageError invalidValue(const QString& option, const QString& value, const QString& expected);
QString cannotRead(const QString& path, const QString& reason);
QString cannotWrite(const QString& path, const QString& reason);
