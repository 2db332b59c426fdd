#pragma once

#include <QByteArray>

class Link;

// Read holding registers (function 3): the register string of `count` registers
// starting at `address`, or empty for every kind of failure.
QByteArray RxD(Link& link, int slave, int address, int count);

// Write single register (function 6): `value` is a register string of two bytes.
// Returns the echoed value as a register string, or empty for every kind of failure.
// Nothing is sent when an argument cannot be encoded.
QByteArray TxD(Link& link, int slave, int address, const QByteArray& value);
