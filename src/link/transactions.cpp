#include "transactions.h"

#include "frames.h"
#include "link.h"

QByteArray RxD(Link& link, int slave, int address, int count) {
    const QByteArray request = modbus::readRequest(slave, address, count);
    if (request.isEmpty()) return {};
    const QByteArray reply = linkExchange(link, request, modbus::readReplyLength(count));
    return modbus::checkReadReply(reply, count);
}

QByteArray TxD(Link& link, int slave, int address, const QByteArray& value) {
    const QByteArray request = modbus::writeRequest(slave, address, value);
    if (request.isEmpty()) return {};
    const QByteArray reply = linkExchange(link, request, modbus::kWriteReplyLength);
    return modbus::checkWriteReply(reply, request);
}
