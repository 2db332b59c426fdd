#include "transactions.h"

#include "frames.h"
#include "link.h"

QByteArray RxD(Link& link, int slave, int address, int count, int timeoutMs) {
    const QByteArray request = modbus::readRequest(slave, address, count);
    if (request.isEmpty()) return {};
    const auto reply = link.exchange(request, modbus::readReplyLength(count), timeoutMs);
    return modbus::checkReadReply(reply.value_or(QByteArray()), count);
}

QByteArray TxD(Link& link, int slave, int address, const QByteArray& value) {
    return writeRegister(link, slave, address, value).echo;
}

WriteReply writeRegister(Link& link, int slave, int address, const QByteArray& value,
                         QDeadlineTimer sendBy) {
    using Kind = WriteReply::Kind;
    const QByteArray request = modbus::writeRequest(slave, address, value);
    if (request.isEmpty()) return {};
    const auto reply =
        link.exchange(request, modbus::kWriteReplyLength, linkexchange::kReplyTimeoutMs, sendBy);
    if (!reply) return {sendBy.hasExpired() ? Kind::Late : Kind::NoAnswer, false, 0, {}};
    const QByteArray echo = modbus::checkWriteReply(*reply, request);
    if (!echo.isEmpty()) return {Kind::Echoed, true, 0, echo};
    // A gateway's "no path" and "no reply" speak for a module that said nothing.
    const int code = modbus::exceptionCode(*reply, request);
    if (code == 0 || code == modbus::kGatewayPathUnavailable ||
        code == modbus::kGatewayTargetFailed)
        return {Kind::NoAnswer, true, 0, {}};
    return {Kind::Refused, true, code, {}};
}
