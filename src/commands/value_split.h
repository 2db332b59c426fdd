#pragma once

#include <QByteArray>
#include <optional>
#include <vector>

// Register strings (low byte first) for a value, lowest register first: one for 16
// bits, two (low word, then high word) for 32 bits. A fraction is dropped. nullopt
// when the value cannot be sent: negative, not finite, or too large for the width.
std::optional<std::vector<QByteArray>> splitValue16(double value);
std::optional<std::vector<QByteArray>> splitValue32(double value);
