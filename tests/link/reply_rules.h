#pragma once

// The reply checks as an independent reading of the rules: the right length and a CRC
// that matches, nothing else, with accepted data the reply's registers byte-swapped.
// The CRC here is computed bit by bit, apart from the table-driven one under test.
// Shared by the randomized test and the libFuzzer target.

#include <QByteArray>

#include "frames.h"

namespace reply_rules {

inline bool crcMatches(const QByteArray& frame) {
    if (frame.size() < 2) return false;
    quint16 crc = 0xFFFF;
    for (qsizetype i = 0; i < frame.size() - 2; ++i) {
        crc ^= static_cast<quint8>(frame[i]);
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1u) ? static_cast<quint16>((crc >> 1) ^ 0xA001u) : crc >> 1;
    }
    return static_cast<quint8>(frame[frame.size() - 2]) == (crc & 0xFF) &&
           static_cast<quint8>(frame[frame.size() - 1]) == (crc >> 8);
}

// Which check disagrees with the rules for `bytes` read as a reply, or nullptr.
inline const char* disagreement(const QByteArray& bytes, int count) {
    const QByteArray registers = modbus::checkReadReply(bytes, count);
    const bool readOk =
        count > 0 && bytes.size() == modbus::readReplyLength(count) && crcMatches(bytes);
    if (registers.isEmpty() == readOk) return "read reply accepted or refused wrongly";
    for (int k = 0; readOk && k < count; ++k)
        if (registers[2 * k] != bytes[4 + 2 * k] || registers[2 * k + 1] != bytes[3 + 2 * k])
            return "read reply data";

    const QByteArray echo = modbus::checkWriteReply(bytes);
    const bool writeOk = bytes.size() == modbus::kWriteReplyLength && crcMatches(bytes);
    if (echo.isEmpty() == writeOk) return "write echo accepted or refused wrongly";
    if (writeOk && (echo[0] != bytes[5] || echo[1] != bytes[4])) return "write echo value";

    const bool exceptionOk = bytes.size() == modbus::kExceptionReplyLength &&
                             (static_cast<quint8>(bytes[1]) & 0x80u) && crcMatches(bytes);
    if (modbus::isExceptionReply(bytes) != exceptionOk) return "exception reply";
    return nullptr;
}

}  // namespace reply_rules
