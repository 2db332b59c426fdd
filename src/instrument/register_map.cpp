#include "register_map.h"

namespace regs {

quint8 u8(const QByteArray& data, int byte) {
    // A short string reads as zeros rather than past its end; RxD only hands out
    // blocks of the full length, so this guards hand-made strings only.
    if (byte < 0 || byte >= data.size()) return 0;
    return static_cast<quint8>(data.at(byte));
}

quint16 u16(const QByteArray& data, int byte) {
    return static_cast<quint16>(u8(data, byte) | (u8(data, byte + 1) << 8));
}

quint32 u32(const QByteArray& data, int byte) {
    return static_cast<quint32>(u16(data, byte)) |
           (static_cast<quint32>(u16(data, byte + 2)) << 16);
}

qint32 s32(const QByteArray& data, int byte) {
    // Two's complement by arithmetic, not by a cast, so the meaning never depends on
    // the compiler: a pair with bit 31 set stands for value - 2^32.
    const qint64 value = u32(data, byte);
    return static_cast<qint32>(value >= 0x80000000LL ? value - 0x100000000LL : value);
}

}  // namespace regs
