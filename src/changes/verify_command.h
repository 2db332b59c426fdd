#pragma once

#include <QIODevice>

// What walking a record's chain from its first line found.
struct ChainCheck {
    int lines = 0;        // lines read
    int firstBroken = 0;  // 1-based; 0 when the chain is whole
};

// Each line's last field must be the link of its predecessor's last field (kChainStart
// for the first) and its own other fields.
ChainCheck checkChain(QIODevice& record);
