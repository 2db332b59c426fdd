#pragma once

#include <QIODevice>
#include <QStringList>
#include <optional>

// What walking a record's chain from its first line found.
struct ChainCheck {
    int lines = 0;        // lines read
    int firstBroken = 0;  // 1-based; 0 when the chain is whole
};

// Each line's last field must be the link of its predecessor's last field (kChainStart
// for the first) and its own other fields.
ChainCheck checkChain(QIODevice& record);

// For main(): the exit status when the arguments after the program's name ask for
// --verify FILE (0 whole, 1 broken, 2 bad arguments or a file that cannot be read),
// nothing otherwise. Reports on stdout, failures to run on stderr.
std::optional<int> runVerifyCommand(const QStringList& args);
