#include "slave_protocol.h"

#include "frames.h"

namespace sim {

namespace {

constexpr int kMaxReadCount = 125;

quint16 wordAt(const QByteArray& frame, int index) {
    return static_cast<quint16>((static_cast<quint8>(frame[index]) << 8) |
                                static_cast<quint8>(frame[index + 1]));
}

bool isKnownFunction(quint8 function) {
    return function == modbus::kReadHoldingRegisters || function == modbus::kWriteSingleRegister;
}

QByteArray readReply(ModuleModel& model, quint8 slave, int start, int count) {
    QByteArray body;
    body.append(static_cast<char>(slave));
    body.append(static_cast<char>(modbus::kReadHoldingRegisters));
    body.append(static_cast<char>(2 * count));
    for (int a = start; a < start + count; ++a) {
        const quint16 v = model.readRegister(a);
        body.append(static_cast<char>(v >> 8));
        body.append(static_cast<char>(v & 0xFF));
    }
    return modbus::withCrc(body);
}

int knownRequestStart(const QByteArray& buffer) {
    for (int i = 1; i + kRequestLength <= buffer.size(); ++i) {
        const QByteArray frame = buffer.mid(i, kRequestLength);
        if (isKnownFunction(static_cast<quint8>(frame[1])) && modbus::hasValidCrc(frame)) return i;
    }
    return -1;
}

}  // namespace

std::optional<QByteArray> FrameAssembler::next() {
    while (buffer_.size() >= 4) {
        const auto function = static_cast<quint8>(buffer_[1]);
        if (isKnownFunction(function)) {
            if (buffer_.size() < kRequestLength) return std::nullopt;
            const QByteArray frame = buffer_.left(kRequestLength);
            if (modbus::hasValidCrc(frame)) {
                buffer_.remove(0, kRequestLength);
                return frame;
            }
            dropFront(1);
            continue;
        }
        for (int n = 4; n <= buffer_.size() && n <= kLongestFrame; ++n) {
            const QByteArray frame = buffer_.left(n);
            if (modbus::hasValidCrc(frame)) {
                buffer_.remove(0, n);
                return frame;
            }
        }
        // Junk in front of a request (stale bytes from the line) must not hold up the
        // request behind it until the line falls silent.
        const int start = knownRequestStart(buffer_);
        if (start > 0) {
            dropFront(start);
            continue;
        }
        if (buffer_.size() < kLongestFrame) return std::nullopt;
        dropFront(1);
    }
    return std::nullopt;
}

void FrameAssembler::dropPartial() {
    dropFront(static_cast<int>(buffer_.size()));
}

void FrameAssembler::dropFront(int n) {
    buffer_.remove(0, n);
    dropped_ += n;
}

QByteArray exceptionReply(quint8 slave, quint8 function, quint8 code) {
    QByteArray body;
    body.append(static_cast<char>(slave));
    body.append(static_cast<char>(function | 0x80));
    body.append(static_cast<char>(code));
    return modbus::withCrc(body);
}

bool addressedTo(quint8 slave, int ownAddress) {
    return slave == 0 || slave == ownAddress;
}

RequestKind classifyRead(int start, int count) {
    struct Known {
        int start, count;
        RequestKind kind;
    };
    static constexpr Known kBlocks[] = {
        {0, 8, RequestKind::WeightRead},      {10, 4, RequestKind::DisplayRead},
        {7, 3, RequestKind::CommandRead},     {14, 6, RequestKind::Setpoints1Read},
        {20, 3, RequestKind::Setpoints2Read},
    };
    for (const Known& b : kBlocks)
        if (b.start == start && b.count == count) return b.kind;
    return RequestKind::OtherRead;
}

Answer answer(ModuleModel& model, const QByteArray& frame, int ownAddress) {
    const auto slave = static_cast<quint8>(frame[0]);
    const auto function = static_cast<quint8>(frame[1]);
    if (!addressedTo(slave, ownAddress)) return {};
    if (!isKnownFunction(function) || frame.size() != kRequestLength)
        return {exceptionReply(slave, function, kIllegalFunction), RequestKind::Refused};
    const int address = wordAt(frame, 2);
    const quint16 value = wordAt(frame, 4);
    if (function == modbus::kReadHoldingRegisters) {
        if (value < 1 || value > kMaxReadCount)
            return {exceptionReply(slave, function, kIllegalValue), RequestKind::Refused};
        if (address + value > kRegisterCount)
            return {exceptionReply(slave, function, kIllegalAddress), RequestKind::Refused};
        return {readReply(model, slave, address, value), classifyRead(address, value)};
    }
    if (address >= kRegisterCount)
        return {exceptionReply(slave, function, kIllegalAddress), RequestKind::Refused};
    const quint8 code = model.writeRegister(address, value);
    if (code != 0) return {exceptionReply(slave, function, code), RequestKind::Refused};
    return {frame, RequestKind::Write};  // the echo of a write is the request itself
}

}  // namespace sim
