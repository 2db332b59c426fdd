#include "value_split.h"

#include <array>
#include <cmath>

namespace {

constexpr double kByte = 256.0;
constexpr double kLimit16 = 65536.0;
constexpr double kLimit32 = 4294967296.0;

// Negative values would give a negative top byte and non-finite ones no bytes at all:
// neither can go on the wire, so both are refused along with values too wide.
bool fits(double value, double limit) {
    return std::isfinite(value) && value >= 0 && value < limit;
}

QByteArray bytePair(double low, double high) {
    QByteArray pair(2, '\0');
    pair[0] = static_cast<char>(static_cast<quint8>(low));
    pair[1] = static_cast<char>(static_cast<quint8>(high));
    return pair;
}

// Bytes of floor(value), least significant first. The subtractions remove exact
// multiples of powers of two, so no rounding creeps in for values below 2^32.
std::array<double, 4> bytes32(double value) {
    const double b3 = std::floor(value / (kByte * kByte * kByte));
    value -= b3 * kByte * kByte * kByte;
    const double b2 = std::floor(value / (kByte * kByte));
    value -= b2 * kByte * kByte;
    const double b1 = std::floor(value / kByte);
    const double b0 = std::floor(value - b1 * kByte);
    return {b0, b1, b2, b3};
}

}  // namespace

std::optional<std::vector<QByteArray>> splitValue16(double value) {
    if (!fits(value, kLimit16)) return std::nullopt;
    const double b1 = std::floor(value / kByte);
    const double b0 = std::floor(value - b1 * kByte);
    return std::vector<QByteArray>{bytePair(b0, b1)};
}

std::optional<std::vector<QByteArray>> splitValue32(double value) {
    if (!fits(value, kLimit32)) return std::nullopt;
    const auto b = bytes32(value);
    return std::vector<QByteArray>{bytePair(b[0], b[1]), bytePair(b[2], b[3])};
}
