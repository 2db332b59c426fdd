#include "wire_time.h"

#include <QTimer>
#include <algorithm>

namespace sim {

namespace {
constexpr int kBitsPerChar = 10;  // 8N1: start, 8 data, stop
}

qint64 wireTimeUs(int requestChars, int replyChars, int baud, int gaps) {
    if (baud <= 0) return 0;
    const double charUs = kBitsPerChar * 1e6 / baud;
    return static_cast<qint64>((requestChars + replyChars + gaps * 3.5) * charUs);
}

int silenceMs(int baud) {
    if (baud <= 0) return 5;
    const double ms = 3.5 * kBitsPerChar * 1000.0 / baud;
    return std::max(5, static_cast<int>(ms + 0.999));
}

void atMicrosecond(const QElapsedTimer& clock, qint64 dueUs, QObject* context,
                   std::function<void()> action) {
    const qint64 earlyUs = dueUs - clock.nsecsElapsed() / 1000;
    if (earlyUs <= 0) {
        action();
        return;
    }
    const auto wakeMs = static_cast<int>(std::max<qint64>(0, earlyUs / 1000 - 1));
    QTimer::singleShot(wakeMs, Qt::PreciseTimer, context,
                       [&clock, dueUs, context, action = std::move(action)]() mutable {
                           atMicrosecond(clock, dueUs, context, std::move(action));
                       });
}

}  // namespace sim
