#include "frames.h"

#include "crc16.h"

namespace modbus {

namespace {

bool isByte(int v) {
    return v >= 0 && v <= 0xFF;
}
bool isAddress(int v) {
    return v >= 0 && v <= 0xFFFF;
}

QByteArray header(int slave, quint8 function, int address) {
    QByteArray body;
    body.reserve(8);
    body.append(static_cast<char>(slave));
    body.append(static_cast<char>(function));
    body.append(static_cast<char>(address >> 8));
    body.append(static_cast<char>(address & 0xFF));
    return body;
}

}  // namespace

QByteArray withCrc(const QByteArray& body) {
    return body + crc16(body);
}

bool hasValidCrc(const QByteArray& frame) {
    if (frame.size() < 2) return false;
    return crc16(frame.left(frame.size() - 2)) == frame.right(2);
}

QByteArray readRequest(int slave, int address, int count) {
    if (!isByte(slave) || !isAddress(address) || !isByte(count)) return {};
    QByteArray body = header(slave, kReadHoldingRegisters, address);
    body.append('\0');
    body.append(static_cast<char>(count));
    return withCrc(body);
}

QByteArray writeRequest(int slave, int address, const QByteArray& value) {
    if (!isByte(slave) || !isAddress(address) || value.size() != 2) return {};
    QByteArray body = header(slave, kWriteSingleRegister, address);
    body.append(value[1]);  // high byte goes first on the wire
    body.append(value[0]);
    return withCrc(body);
}

QByteArray checkReadReply(const QByteArray& reply, int count) {
    if (count <= 0 || count > 0xFF) return {};
    if (reply.size() != readReplyLength(count) || !hasValidCrc(reply)) return {};
    if (static_cast<quint8>(reply[1]) != kReadHoldingRegisters ||
        static_cast<quint8>(reply[2]) != 2 * count)
        return {};
    QByteArray registers;
    registers.reserve(2 * count);
    for (int k = 0; k < count; ++k) {
        registers.append(reply[3 + 2 * k + 1]);
        registers.append(reply[3 + 2 * k]);
    }
    return registers;
}

QByteArray checkWriteReply(const QByteArray& reply, const QByteArray& request) {
    if (reply.size() != kWriteReplyLength || !hasValidCrc(reply)) return {};
    if (request.size() != kWriteReplyLength || reply.mid(1, 5) != request.mid(1, 5)) return {};
    QByteArray value;
    value.append(reply[5]);
    value.append(reply[4]);
    return value;
}

bool isExceptionReply(const QByteArray& bytes) {
    return bytes.size() == kExceptionReplyLength && (static_cast<quint8>(bytes[1]) & 0x80u) != 0 &&
           hasValidCrc(bytes);
}

int exceptionCode(const QByteArray& reply, const QByteArray& request) {
    if (!isExceptionReply(reply) || request.size() < 2) return 0;
    if (static_cast<quint8>(reply[1]) != (static_cast<quint8>(request[1]) | 0x80u)) return 0;
    return static_cast<quint8>(reply[2]);
}

}  // namespace modbus
