#pragma once

#include <QByteArray>
#include <QList>
#include <QtGlobal>
#include <random>

// Misbehaviour on demand, so the station's error handling can be exercised: each
// fault has a probability per request, or fires on every Nth request when a period
// is given.

namespace sim {

enum class Fault { None, Drop, Exception, Late, BadCrc, ExtraByte, Split };

struct FaultOptions {
    double drop = 0;
    double exception = 0;
    double late = 0;
    double badCrc = 0;
    double extraByte = 0;
    double split = 0;
    double stale = 0;
    int every = 0;       // > 0: faults fire on every Nth request instead of by chance
    int closeAfter = 0;  // > 0: the connection is closed after N requests
    int lateMs = 2500;   // beyond the station's 2 s reply deadline
    int splitPauseMs = 30;
    int staleDelayMs = 20;
};

class FaultPlan {
public:
    FaultPlan(const FaultOptions& options, quint32 randomStart);

    // The fault for request number `n` (counted from 1); at most one per request,
    // the first that fires in the order of the enum.
    Fault faultFor(quint64 n);
    // Whether junk follows the reply of request `n`.
    bool staleAfter(quint64 n);

    // 1 to 5 junk bytes.
    QByteArray staleBytes();
    // The reply cut into 2 to 4 pieces.
    QList<QByteArray> pieces(const QByteArray& reply);

    const FaultOptions& options() const { return options_; }

private:
    bool fires(double probability, quint64 n);

    FaultOptions options_;
    std::mt19937 random_;
};

// The same reply with its CRC spoilt.
QByteArray withBadCrc(const QByteArray& reply);
// The reply with one byte too many.
QByteArray withExtraByte(const QByteArray& reply);

// Microseconds a serial line at `baud` (8N1, 10 bits a character: start, 8 data,
// stop) needs for the request, the reply and `gaps` 3.5-character silences: two
// behind a socket (the gateway keeps the master's silence before the request and the
// module's turnaround), one on a serial line, where the master keeps its own.
qint64 wireTimeUs(int requestChars, int replyChars, int baud, int gaps);

// The silence after which a partial request is dropped: 3.5 characters at `baud`,
// never less than 5 ms (a timer's granularity).
int silenceMs(int baud);

}  // namespace sim
