#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QList>
#include <QMetaType>
#include <QString>
#include <optional>

#include "link.h"

// One register to write and the value as a register string (low byte first).
struct RegisterWrite {
    int address = 0;
    QByteArray value;
};

// What one operator action sends: one or two register writes, in order. Each is
// retried on its own; the second is not sent once the first failed.
struct WriteRequest {
    QList<RegisterWrite> writes;
    // For the record of changes, as the operator saw it: the control's caption, the
    // value the window showed before (setpoints only) and the value sent.
    QString campo;
    QString antes;
    QString valor;
    // The writes of one operator action that sets several values (a product): they
    // succeed or fail as one, and are told as one.
    QString group;
};

// A register's 16-bit value.
quint16 registerWord(const RegisterWrite& write);
// The number the request's registers carry together, the lowest register the low word.
quint32 requestValue(const WriteRequest& request);

enum class Setpoint { BCero, Grueso, Fino, Teor, Porc };

// Requests for a value already normalized; nullopt when the value is out of range for
// the register width (negative, too large, not finite): nothing may be sent.
std::optional<WriteRequest> setpointRequest(Setpoint setpoint, double value);
std::optional<WriteRequest> commandRequest(double value);
std::optional<WriteRequest> dataRequest(double value);
// Key area 0..4 -> letters S Z M P F into the key register; nullopt for other indices.
std::optional<WriteRequest> keyRequest(int index);

// How long after the press a write may still go out. A press that reaches the module
// later may no longer be wanted (a key starts or stops the dosing cycle). Long enough for a
// write that waits on a poll's attempt at a silent module (its reply timeout and the
// grace for a late reply) to still go out, and for a write that goes out at once to get a
// second attempt after a lost frame.
constexpr int kWriteDeadlineMs =
    linkexchange::kReplyTimeoutMs + linkexchange::kLateReplyGraceMs + 500;

// How an operator's request ended; exactly one per request.
enum class WriteResult {
    Enviado,       // every register echoed
    Error,         // no answer after the attempts
    Rechazado,     // the module answered with an exception
    Descartado,    // given up unsent: too old, or dropped with a failure before it
    FueraDeRango,  // the entry fits no register: decided by the station, nothing queued
    Anotado,       // a setting of the station's own (a lot): recorded, nothing for the module
};

struct WriteOutcome {
    WriteRequest request;
    QList<RegisterWrite> attempted;  // the registers that went out on the line, in order
    WriteResult result = WriteResult::Descartado;
    int exceptionCode = 0;  // Rechazado: the module's exception code
};

// Sends the request's registers in order, each tried up to three times while its answer
// is silence or "busy", none after `sendBy`; the second register of a value whose first
// the module took goes out at once even just past it. Stops at the first register that
// fails or is refused.
WriteOutcome sendRequest(Link& link, int slave, const WriteRequest& request,
                         QDeadlineTimer sendBy = QDeadlineTimer::Forever);

// What a Modbus exception code says, in the operator's words (Spanish).
QString exceptionMeaning(int code);

Q_DECLARE_METATYPE(WriteRequest)
Q_DECLARE_METATYPE(WriteOutcome)
