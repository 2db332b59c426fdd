#pragma once

// The reply checks as an independent reading of the rules: the right length, a CRC
// that matches, the function code and byte count of the read asked for (a write: the
// echo of the request), never the slave address; accepted data the reply's registers
// byte-swapped.
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
    const bool readOk = count > 0 && bytes.size() == modbus::readReplyLength(count) &&
                        crcMatches(bytes) && bytes[1] == 3 &&
                        static_cast<quint8>(bytes[2]) == 2 * count;
    if (registers.isEmpty() == readOk) return "read reply accepted or refused wrongly";
    for (int k = 0; readOk && k < count; ++k)
        if (registers[2 * k] != bytes[4 + 2 * k] || registers[2 * k + 1] != bytes[3 + 2 * k])
            return "read reply data";

    // Checked against the request the bytes echo, from another slave, and against one
    // for the next register, which no echo may pass for.
    const bool sized = bytes.size() == modbus::kWriteReplyLength;
    QByteArray asked = sized ? bytes.left(6) : QByteArray("\x01\x06\x00\x10\x00\x64", 6);
    asked[0] = static_cast<char>(asked[0] ^ 0x5A);
    asked[1] = 6;
    const QByteArray request = modbus::withCrc(asked);
    QByteArray other = asked;
    other[3] = static_cast<char>(other[3] + 1);
    const QByteArray echo = modbus::checkWriteReply(bytes, request);
    const bool writeOk = sized && crcMatches(bytes) && bytes[1] == 6;
    if (echo.isEmpty() == writeOk) return "write echo accepted or refused wrongly";
    if (!modbus::checkWriteReply(bytes, modbus::withCrc(other)).isEmpty())
        return "echo of another register accepted";
    if (writeOk && (echo[0] != bytes[5] || echo[1] != bytes[4])) return "write echo value";

    const bool exceptionOk = bytes.size() == modbus::kExceptionReplyLength &&
                             (static_cast<quint8>(bytes[1]) & 0x80u) && crcMatches(bytes);
    if (modbus::isExceptionReply(bytes) != exceptionOk) return "exception reply";
    return nullptr;
}

}  // namespace reply_rules
