#pragma once

#include <QByteArray>

// Modbus CRC-16 (reflected polynomial 0xA001, initial 0xFFFF, no final XOR) of any
// number of bytes, returned as the two bytes that follow the message on the wire:
// low-order byte first.
QByteArray crc16(const QByteArray& message);
