#pragma once

#include <QByteArray>
#include <QtGlobal>

// The module's whole interface: holding registers 0 to 22. Every address, block and
// encoding the station uses is here and nowhere else.

// Registers written by the operator's actions (and the blocks that start there).
constexpr int RegPeso = 0;      // weight block
constexpr int RegTecla = 6;     // front-panel key (write: the key letter)
constexpr int RegComando = 7;   // command word; the command readback block starts here
constexpr int RegDato = 8;      // data word, low word (high word at RegDato + 1)
constexpr int RegDisplay = 10;  // display block

// Setpoints, each a 32-bit pair (low word first) but the percentage.
constexpr int RegBCero = 14;
constexpr int RegGrueso = 16;
constexpr int RegFino = 18;
constexpr int RegTeor = 20;
constexpr int RegPorc = 22;

struct Block {
    int start;
    int count;
};

constexpr Block kWeightBlock{RegPeso, 8};
constexpr Block kCommandBlock{RegComando, 3};
constexpr Block kDisplayBlock{RegDisplay, 4};
constexpr Block kSetpointBlock1{RegBCero, 6};
constexpr Block kSetpointBlock2{RegTeor, 3};

// Decoding of a register string (low byte of each register first). `byte` counts
// from 0 here.
namespace regs {
// 16-bit unsigned at bytes [byte, byte+1].
quint16 u16(const QByteArray& data, int byte);
// 32-bit pair, low word first: b1 + 256 b2 + 256^2 b3 + 256^3 b4.
quint32 u32(const QByteArray& data, int byte);
// The same pair as a 32-bit two's complement number.
qint32 s32(const QByteArray& data, int byte);
quint8 u8(const QByteArray& data, int byte);
}  // namespace regs
