#pragma once

#include <QByteArray>
#include <QList>
#include <QMetaType>
#include <optional>

class Link;

// One register to write and the value as a register string (low byte first).
struct RegisterWrite {
    int address = 0;
    QByteArray value;
};

// What one operator action sends: one or two register writes, in order. Each is
// retried on its own; the second is not sent once the first failed.
struct WriteRequest {
    QList<RegisterWrite> writes;
};

enum class Setpoint { BCero, Grueso, Fino, Teor, Porc };

// Requests for a value already normalized; nullopt when the value is out of range for
// the register width (negative, too large, not finite): nothing may be sent.
std::optional<WriteRequest> setpointRequest(Setpoint setpoint, double value);
std::optional<WriteRequest> commandRequest(double value);
std::optional<WriteRequest> dataRequest(double value);
// Key area 0..4 -> letters S Z M P F into the key register; nullopt for other indices.
std::optional<WriteRequest> keyRequest(int index);

// Up to three TxD calls, stopping at the first echo. False when all three failed.
bool retriedWrite(Link& link, int slave, const RegisterWrite& write);

Q_DECLARE_METATYPE(WriteRequest)
