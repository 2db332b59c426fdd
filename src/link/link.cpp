#include "link.h"

#include <QThread>
#include <algorithm>

#include "frames.h"

bool stopRequested() {
    QThread* thread = QThread::currentThread();
    return thread != nullptr && thread->isInterruptionRequested();
}

bool replyComplete(const QByteArray& received, int expectedLength) {
    return received.size() >= expectedLength || modbus::isExceptionReply(received);
}

QByteArray linkExchange(Link& link, const QByteArray& frame, int expectedLength, int timeoutMs) {
    link.discardInput();
    link.send(frame);
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    QByteArray reply = link.takeAvailable();
    while (!replyComplete(reply, expectedLength) && !deadline.hasExpired() && !stopRequested()) {
        const auto remaining = static_cast<int>(std::max<qint64>(0, deadline.remainingTime()));
        link.waitForData(std::min(remaining, linkexchange::kWaitSliceMs));
        reply += link.takeAvailable();
    }
    return reply;
}
