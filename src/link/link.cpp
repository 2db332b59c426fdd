#include "link.h"

#include <QThread>
#include <utility>

#include "frames.h"

#ifdef Q_OS_UNIX
#include <poll.h>
#endif

bool stopRequested() {
    QThread* thread = QThread::currentThread();
    return thread != nullptr && thread->isInterruptionRequested();
}

bool replyComplete(const QByteArray& received, int expectedLength) {
    return received.size() >= expectedLength || modbus::isExceptionReply(received);
}

namespace {

// How many replies of `expectedLength` bytes (or exception replies) `bytes` holds.
int repliesIn(const QByteArray& bytes, int expectedLength) {
    if (expectedLength <= 0) return 0;
    if (bytes.size() < expectedLength) return modbus::isExceptionReply(bytes) ? 1 : 0;
    return static_cast<int>(bytes.size() / expectedLength);
}

// Requests that are answered alike: the same slave, function and first register, the same
// lengths. Writes of different values to one register are one kind.
quint64 requestKind(const QByteArray& frame, int expectedLength) {
    quint64 kind = 0;
    for (int i = 0; i < 4 && i < frame.size(); ++i)
        kind = kind << 8 | static_cast<quint8>(frame[i]);
    return kind << 32 | static_cast<quint64>(frame.size()) << 16 |
           static_cast<quint16>(expectedLength);
}

#ifdef Q_OS_UNIX
// True when `fd` has something to say (input, a hang-up, an error, an interrupted wait)
// within `ns`; the caller's read finds out what.
bool lookAtInput(int fd, qint64 ns) {
    pollfd input{fd, POLLIN, 0};
    const timespec wait{static_cast<time_t>(ns / 1000000000), static_cast<long>(ns % 1000000000)};
    return ppoll(&input, 1, &wait, nullptr) != 0;
}
#endif

}  // namespace

void Link::sitOutSlice(const QElapsedTimer& slice, int ms) {
    const qint64 left = ms - slice.elapsed();
    if (left > 0) QThread::msleep(static_cast<unsigned long>(left));
}

bool Link::waitForDataNs(qint64 ns, qint64 awakeNs) {
    if (waitForData(0)) return true;
    const int fd = inputHandle();
#ifdef Q_OS_UNIX
    if (fd >= 0) {
        QDeadlineTimer due(0, Qt::PreciseTimer);
        due.setPreciseRemainingTime(0, ns, Qt::PreciseTimer);
        // A wait that ends at no moment of the line (a slice's end) stays asleep.
        const qint64 awake =
            keepAwake_ && awakeNs > 0 ? std::min(ns, awakeNs + ns / linkexchange::kAwakeShare) : 0;
        bool input = ns > awake && lookAtInput(fd, ns - awake);
        while (!input && !due.hasExpired() && !stopRequested()) input = lookAtInput(fd, 0);
        return input && waitForData(0);
    }
#endif
    return waitForData(static_cast<int>((ns + 999999) / 1000000));
}

void Link::waitForReply(quint64 kind, const QDeadlineTimer& deadline) {
    using namespace linkexchange;
    const qint64 sliceNs = waitSliceMs(deadline.remainingTime()) * qint64{1000000};
    const auto last = replyAfterNs_.find(kind);
    if (keepAwake_ && last != replyAfterNs_.end()) {
        const qint64 awakeUntil = last->second + kAwakeNs - unanswered_.lastSent.nsecsElapsed();
        if (awakeUntil > 0) {
            // Awake only where this wait ends at the expected reply, not at a slice's end.
            waitForDataNs(std::min(sliceNs, awakeUntil), awakeUntil <= sliceNs ? 2 * kAwakeNs : 0);
            return;
        }
    }
    waitForData(static_cast<int>(sliceNs / 1000000));
}

bool Link::ensureOpen(QDeadlineTimer) {
    return isConnected();
}

std::optional<QByteArray> Link::keepInterFrameSilence(QDeadlineTimer) {
    return QByteArray();
}

int Link::quietLineMs(int) const {
    return 0;
}

void Link::afterNextRequest(std::function<void()> work) {
    held_.push_back(std::move(work));
}

void Link::runHeldWork() {
    // Work added while this runs waits for the next request.
    for (const auto& work : std::exchange(held_, {})) work();
}

void Link::countReplies(const QByteArray& bytes) {
    unanswered_.count = std::max(0, unanswered_.count - repliesIn(bytes, unanswered_.replyLength));
}

void Link::settleUnanswered() {
    if (unanswered_.count <= 0) return;
    using namespace linkexchange;
    // Every attempt the module has not answered yet may still be answered: wait for as
    // many replies, up to the grace past the last attempt's deadline, then for a quiet
    // line, so that the tail of the last of them is gone too. A line that never falls
    // quiet (noise) is given up on one reply timeout later, or once it brought more than
    // any late replies could be.
    const qint64 graceEnd = unanswered_.replyTimeoutMs + kLateReplyGraceMs;
    const qint64 giveUp = graceEnd + unanswered_.replyTimeoutMs;
    const int quietMs = quietLineMs(unanswered_.replyLength);
    QByteArray late = drainInput();
    QElapsedTimer quiet;
    quiet.start();
    while (!stopRequested() && isConnected() && unanswered_.lastSent.elapsed() < giveUp &&
           late.size() < kInputBudgetBytes) {
        const qint64 sinceSent = unanswered_.lastSent.elapsed();
        const bool owed =
            repliesIn(late, unanswered_.replyLength) < unanswered_.count && sinceSent < graceEnd;
        const qint64 wait = owed ? graceEnd - sinceSent : quietMs - quiet.elapsed();
        if (wait <= 0) break;
        waitForData(waitSliceMs(wait));
        const QByteArray bytes = takeAvailable();
        if (bytes.isEmpty()) continue;
        late += bytes;
        quiet.restart();
    }
    unanswered_ = {};
}

std::optional<QByteArray> Link::exchange(const QByteArray& frame, int expectedLength, int timeoutMs,
                                         QDeadlineTimer sendBy) {
    // Whatever keeps this request from going out at once runs the held work first.
    const auto unsent = [this] {
        runHeldWork();
        return std::optional<QByteArray>();
    };
    const bool settle = frame != unanswered_.request && unanswered_.count > 0;
    if (!isConnected() || settle) runHeldWork();
    const QDeadlineTimer connectBy(linkexchange::kConnectTimeoutMs);
    if (!ensureOpen(std::min(connectBy, sendBy))) return unsent();
    if (frame != unanswered_.request) {
        settleUnanswered();
        unanswered_.request = frame;
        unanswered_.replyLength = expectedLength;
    }
    const QDeadlineTimer quietBy(timeoutMs, Qt::PreciseTimer);
    countReplies(drainInput());
    const std::optional<QByteArray> broke = keepInterFrameSilence(quietBy);
    if (!broke) return unsent();
    countReplies(*broke);
    // The last look before the frame goes out: the connection, a late reply and the line's
    // silence may all have taken time.
    if (stopRequested() || sendBy.hasExpired() || !send(frame)) return unsent();
    ++unanswered_.count;
    unanswered_.lastSent.start();
    unanswered_.replyTimeoutMs = timeoutMs;
    const QDeadlineTimer deadline(timeoutMs, Qt::PreciseTimer);
    runHeldWork();
    // Held work that outlasted the reply time (a stalled disk) must not cost the reply
    // that came meanwhile: one look without waiting.
    if (deadline.hasExpired()) waitForData(0);
    QByteArray reply = takeAvailable();
    const quint64 kind = requestKind(frame, expectedLength);
    // A link that goes down while waiting ends the attempt at once: the next attempt
    // reconnects instead of sitting out a deadline no reply can meet.
    while (!replyComplete(reply, expectedLength) && !deadline.hasExpired() && !stopRequested() &&
           isConnected()) {
        waitForReply(kind, deadline);
        reply += takeAvailable();
    }
    if (replyComplete(reply, expectedLength))
        replyAfterNs_[kind] = unanswered_.lastSent.nsecsElapsed();
    countReplies(reply);
    return reply;
}
