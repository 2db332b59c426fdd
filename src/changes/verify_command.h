#pragma once

#include <QIODevice>
#include <QString>
#include <QStringList>
#include <variant>

#include "usage_error.h"

// What walking a record's chain from its first line found.
struct ChainCheck {
    int lines = 0;        // lines read
    int firstBroken = 0;  // 1-based; 0 when the chain is whole
};

// Each line's last field must be the link of its predecessor's last field (kChainStart
// for the first) and its own other fields.
ChainCheck checkChain(QIODevice& record);

// What --verify says of the record at `path`: "cadena completa, 42 líneas", or the line
// where the chain breaks.
QString chainVerdict(const QString& path, const ChainCheck& check);

// vormelq --verify Cambios.csv: the arguments after the program's name, to the record's
// path.
std::variant<QString, UsageError> parseVerifyArguments(const QStringList& args);

// Checks the record at `path` and says so on stdout: 0 when its chain is whole, 1 naming
// the first line that breaks it, 1 too, on stderr, when it cannot be read.
int runVerify(const QString& path);
