#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

#include "link.h"

// Read holding registers (function 3): the register string of `count` registers
// starting at `address`, or empty for every kind of failure.
QByteArray RxD(Link& link, int slave, int address, int count,
               int timeoutMs = linkexchange::kReplyTimeoutMs);

// Write single register (function 6): `value` is a register string of two bytes.
// Returns the echoed value as a register string, or empty for every kind of failure.
// Nothing is sent when an argument cannot be encoded.
QByteArray TxD(Link& link, int slave, int address, const QByteArray& value);

// One function-6 attempt as the operator's writes need it: what became of it, not only
// whether an echo came back.
struct WriteReply {
    enum class Kind {
        Late,      // `sendBy` was over before the frame could go out: nothing sent
        NoAnswer,  // no valid reply (silence, a broken reply, a link that is down)
        Echoed,
        Refused,  // an exception reply: the module's answer, with its code
    };
    Kind kind = Kind::NoAnswer;
    bool sent = false;  // the frame went out on the line
    int exceptionCode = 0;
    QByteArray echo;  // Echoed: the echoed value as a register string
};
WriteReply writeRegister(Link& link, int slave, int address, const QByteArray& value,
                         QDeadlineTimer sendBy = QDeadlineTimer::Forever);
