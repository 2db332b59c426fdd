#pragma once

#include <QByteArray>

// Building Modbus RTU requests and checking the module's replies. Pure functions over
// byte strings: no I/O, no state.
//
// A "register string" holds each 16-bit register as two bytes, low byte first, in
// ascending address order: the reverse of the wire order.

namespace modbus {

constexpr quint8 kReadHoldingRegisters = 0x03;
constexpr quint8 kWriteSingleRegister = 0x06;
constexpr int kExceptionReplyLength = 5;
constexpr int kWriteReplyLength = 8;
// Exception codes with a meaning of their own to the station.
constexpr int kSlaveBusy = 6;
constexpr int kGatewayPathUnavailable = 10;
constexpr int kGatewayTargetFailed = 11;

// Length of a valid reply to a read of `count` registers.
constexpr int readReplyLength(int count) {
    return 2 * count + 5;
}

// The 8-byte function-3 request with its CRC; empty when an argument cannot be
// encoded (slave or count outside 0..255, address outside 0..65535).
QByteArray readRequest(int slave, int address, int count);

// The 8-byte function-6 request; `value` is a register string of exactly two bytes.
// Empty when an argument cannot be encoded.
QByteArray writeRequest(int slave, int address, const QByteArray& value);

// The register string carried by a read reply of `count` registers, or empty when the
// reply is not exactly readReplyLength(count) bytes, its CRC does not match, or its
// function code or byte count is not that of a read of `count` registers: a reply to
// another request must not pass for this one. The slave address is not compared: a
// module asked at address 0 answers with its own. A count of 0 never yields data.
QByteArray checkReadReply(const QByteArray& reply, int count);

// The echoed value of a write reply as a register string of two bytes, or empty when
// the reply is not the 8-byte echo of `request` (function code, register and value;
// the slave address again not compared) with a matching CRC.
QByteArray checkWriteReply(const QByteArray& reply, const QByteArray& request);

// True for a complete Modbus exception reply: 5 bytes, function code with bit 7 set,
// matching CRC.
bool isExceptionReply(const QByteArray& bytes);

// The exception code of a complete exception reply to `request` (its function code with
// bit 7 set), or 0 when `reply` is no such thing: a refusal of another request is no
// answer to this one.
int exceptionCode(const QByteArray& reply, const QByteArray& request);

// Appends the CRC to a message: the helper both sides of the link use to seal a frame.
QByteArray withCrc(const QByteArray& body);

// True when the last two bytes are the CRC of the rest.
bool hasValidCrc(const QByteArray& frame);

}  // namespace modbus
