#pragma once

#include <QElapsedTimer>
#include <QtGlobal>
#include <functional>

class QObject;

// How long bytes take on an emulated serial line, and sending at that moment.

namespace sim {

// Microseconds a serial line at `baud` (8N1, 10 bits a character: start, 8 data,
// stop) needs for the request, the reply and `gaps` 3.5-character silences: two
// behind a socket (the gateway keeps the master's silence before the request and the
// module's turnaround), one on a serial line, where the master keeps its own.
qint64 wireTimeUs(int requestChars, int replyChars, int baud, int gaps);

// The silence after which a partial request is dropped: 3.5 characters at `baud`,
// never less than 5 ms (a timer's granularity).
int silenceMs(int baud);

// Runs `action` on the event loop once `clock` reads `dueUs`, or at once when that has
// passed; nothing runs if `context` is gone by then. Timers count whole milliseconds:
// one wakes the loop up to a millisecond early and the rest is waited out in turns of
// the loop, so fast lines are emulated to the microsecond without blocking the others.
void atMicrosecond(const QElapsedTimer& clock, qint64 dueUs, QObject* context,
                   std::function<void()> action);

}  // namespace sim
