#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <optional>

#include "module_model.h"

// The slave side of Modbus RTU: cutting requests out of a byte stream and answering
// them from the module's registers. No I/O here.

namespace sim {

constexpr int kRequestLength = 8;  // function 3 and function 6 requests
constexpr int kLongestFrame = 256;

// Cuts requests out of the bytes as they arrive. A function 3 or 6 request is 8
// bytes with a valid CRC; a frame of another function is taken at the first length
// whose CRC matches, so that it can be refused with an exception. Garbage is dropped
// one byte at a time until a request lines up again.
class FrameAssembler {
public:
    void append(const QByteArray& bytes) { buffer_.append(bytes); }
    std::optional<QByteArray> next();
    // After a silence on the line, a partial request will never be completed: drop it
    // so it cannot swallow the start of the next one.
    void dropPartial();
    bool hasPartial() const { return !buffer_.isEmpty(); }
    qint64 droppedBytes() const { return dropped_; }

private:
    void dropFront(int n);
    QByteArray buffer_;
    qint64 dropped_ = 0;
};

// Which of the station's blocks a request is, for the counters.
enum class RequestKind {
    WeightRead,
    DisplayRead,
    CommandRead,
    Setpoints1Read,
    Setpoints2Read,
    OtherRead,
    Write,
    Refused,  // answered with an exception
};

struct Answer {
    QByteArray reply;  // empty: nothing to send (another slave's request)
    RequestKind kind = RequestKind::Refused;
};

QByteArray exceptionReply(quint8 slave, quint8 function, quint8 code);

// True when the module answers requests to `slave`: its own address and 0, the
// station's default.
bool addressedTo(quint8 slave, int ownAddress);

// Answers one complete frame (CRC already checked).
Answer answer(ModuleModel& model, const QByteArray& frame, int ownAddress);

RequestKind classifyRead(int start, int count);

}  // namespace sim
