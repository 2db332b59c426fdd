#pragma once

#include <QByteArray>
#include <QList>
#include <QSet>
#include <array>
#include <deque>
#include <functional>
#include <utility>

#include "frames.h"
#include "link.h"

// A scripted module behind a Link: it answers every read-holding-registers request
// from its own register table at once and echoes every register write. A reply it is told to spoil
// arrives complete but with a broken CRC, so a failed attempt costs no reply timeout.
class FakeModule : public Link {
public:
    std::array<quint16, 23> regs{};
    // Consumed one per request: false spoils that reply. Empty: answer normally.
    std::deque<bool> script;
    // Blocks (by start address) that never answer properly.
    QSet<int> deadBlocks;
    // Consumed one per write: a code other than 0 answers with that exception.
    std::deque<int> refusals;
    // Every request, in order, and the start address of each.
    QList<QByteArray> sent;
    QList<int> addresses;
    int waitConnectedCalls = 0;
    std::function<void(int address)> onRequest;

    void setPair(int address, quint32 value) {
        regs[address] = static_cast<quint16>(value & 0xFFFF);
        regs[address + 1] = static_cast<quint16>(value >> 16);
    }

    QByteArray drainInput() override { return std::exchange(pending_, {}); }
    bool send(const QByteArray& frame) override {
        sent << frame;
        const int address = (static_cast<quint8>(frame[2]) << 8) | static_cast<quint8>(frame[3]);
        const int count = static_cast<quint8>(frame[5]);
        addresses << address;
        if (onRequest) onRequest(address);
        bool ok = !deadBlocks.contains(address);
        if (!script.empty()) {
            ok = ok && script.front();
            script.pop_front();
        }
        pending_ = frame[1] == char(modbus::kWriteSingleRegister)
                       ? frame
                       : reply(static_cast<quint8>(frame[0]), address, count);
        if (!ok) pending_[pending_.size() - 1] = static_cast<char>(pending_.back() ^ 0x55);
        if (frame[1] == char(modbus::kWriteSingleRegister) && !refusals.empty()) {
            const char code = static_cast<char>(refusals.front());
            refusals.pop_front();
            if (code != 0) pending_ = modbus::withCrc(frame.left(1) + char(0x86) + code);
        }
        return true;
    }
    QByteArray takeAvailable() override { return std::exchange(pending_, {}); }
    bool waitForData(int) override { return false; }
    void waitConnected(QDeadlineTimer) override { ++waitConnectedCalls; }
    bool isConnected() const override { return true; }
    void close() override {}

private:
    QByteArray reply(quint8 slave, int address, int count) const {
        QByteArray body;
        body.append(static_cast<char>(slave));
        body.append(static_cast<char>(modbus::kReadHoldingRegisters));
        body.append(static_cast<char>(2 * count));
        for (int k = 0; k < count; ++k) {
            const quint16 v = address + k < static_cast<int>(regs.size()) ? regs[address + k] : 0;
            body.append(static_cast<char>(v >> 8));  // high byte first on the wire
            body.append(static_cast<char>(v & 0xFF));
        }
        return modbus::withCrc(body);
    }

    QByteArray pending_;
};
