#include <QByteArray>
#include <cstddef>
#include <cstdint>

#include "frames.h"

// Any bytes as a reply from the module. A random CRC almost never matches, so half of
// the inputs get theirs sealed: the checks behind the CRC are reached too.
//
// What must hold: nothing is accepted unless its length and CRC are right, accepted
// data is the reply's data with each register's bytes swapped, and an exception reply
// is only ever a complete, sealed one.
namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

void checkRead(const QByteArray& reply, int count) {
    const QByteArray data = modbus::checkReadReply(reply, count);
    if (data.isEmpty()) return;
    check(count > 0 && data.size() == 2 * count);
    check(reply.size() == modbus::readReplyLength(count) && modbus::hasValidCrc(reply));
    for (int i = 0; i < count; ++i) {
        check(data[2 * i] == reply[3 + 2 * i + 1]);
        check(data[2 * i + 1] == reply[3 + 2 * i]);
    }
}

void checkWrite(const QByteArray& reply) {
    const QByteArray value = modbus::checkWriteReply(reply);
    if (value.isEmpty()) return;
    check(value.size() == 2);
    check(reply.size() == modbus::kWriteReplyLength && modbus::hasValidCrc(reply));
    check(value[0] == reply[5] && value[1] == reply[4]);
}

void checkException(const QByteArray& reply) {
    if (!modbus::isExceptionReply(reply)) return;
    check(reply.size() == modbus::kExceptionReplyLength);
    check((static_cast<quint8>(reply[1]) & 0x80) != 0 && modbus::hasValidCrc(reply));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    // First byte: register count (low 7 bits) and whether to seal the rest (top bit).
    const int count = data[0] & 0x7F;
    QByteArray reply(reinterpret_cast<const char*>(data + 1), qsizetype(size - 1));
    if ((data[0] & 0x80) != 0 && reply.size() >= 2) {
        reply = modbus::withCrc(reply.left(reply.size() - 2));
        check(modbus::hasValidCrc(reply));
    }
    checkRead(reply, count);
    checkRead(reply, -count);
    checkWrite(reply);
    checkException(reply);
    return 0;
}
