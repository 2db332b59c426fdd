#include "crc16.h"

#include <array>

namespace {

// The table-driven form of the published algorithm keeps two running bytes; one
// 16-bit table built from 0xA001 holds both of its lookup tables (low byte: the
// "high-order" table, high byte: the "low-order" table).
constexpr std::array<quint16, 256> makeTable() {
    std::array<quint16, 256> table{};
    for (unsigned i = 0; i < 256; ++i) {
        unsigned value = i;
        for (int bit = 0; bit < 8; ++bit)
            value = (value & 1u) ? (value >> 1) ^ 0xA001u : value >> 1;
        table[i] = static_cast<quint16>(value);
    }
    return table;
}

constexpr std::array<quint16, 256> kTable = makeTable();

}  // namespace

QByteArray crc16(const QByteArray& message) {
    quint16 crc = 0xFFFF;
    for (char c : message) {
        const auto index = static_cast<quint8>((crc ^ static_cast<quint8>(c)) & 0xFFu);
        crc = static_cast<quint16>((crc >> 8) ^ kTable[index]);
    }
    QByteArray out(2, '\0');
    out[0] = static_cast<char>(crc & 0xFFu);
    out[1] = static_cast<char>(crc >> 8);
    return out;
}
