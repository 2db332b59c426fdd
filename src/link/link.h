#pragma once

#include <QByteArray>
#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <algorithm>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace linkexchange {
constexpr int kReplyTimeoutMs = 2000;
constexpr int kConnectTimeoutMs = 2000;
// Longest single blocking wait, so a stop request is seen promptly.
constexpr int kWaitSliceMs = 50;
// The next blocking wait towards something `remainingMs` away.
constexpr int waitSliceMs(qint64 remainingMs) {
    return static_cast<int>(std::clamp<qint64>(remainingMs, 0, kWaitSliceMs));
}
// A reply that missed its deadline is still waited for this long past it before the
// next, different request goes out. Modules and gateways that answer late at all do so
// by a few hundred milliseconds at most; a reply later still is taken as lost.
constexpr int kLateReplyGraceMs = 500;
// How a block is read: so many attempts, each given so long to answer.
struct Attempts {
    int count = 0;
    int replyTimeoutMs = 0;
};
// A module alone on its link is worth waiting for: three attempts of the full reply time.
constexpr Attempts kAloneOnLink{3, kReplyTimeoutMs};
// On a line shared by several modules, one module's silence must not hold up the others: a
// block gets one attempt, with half the reply time.
constexpr Attempts kSharedLine{1, kReplyTimeoutMs / 2};
// What an attempt that gets no answer holds the line for: its reply time, then the grace for
// its late reply, in which nothing else may go out.
constexpr int unansweredAttemptMs(const Attempts& attempts) {
    return attempts.replyTimeoutMs + kLateReplyGraceMs;
}
// A module that missed its attempt on a shared line is asked again (one attempt) this long
// after it was last asked: its silence costs the others at most a tenth of the line, and its
// readings are back within this time of its return.
constexpr int kSilentRetryMs = 15000;
static_assert(10 * unansweredAttemptMs(kSharedLine) <= kSilentRetryMs);
// An operator's register write: attempts of the full reply time, within the write's deadline.
constexpr int kWriteAttempts = 3;
// The most bytes an exchange takes in before its request goes out (late replies, stray
// bytes), and the most a link holds unread. A sound line carries a few replies of at
// most 255 bytes between two requests; more is a line that never falls silent (noise, a
// babbling device, a flood), and the attempt fails instead of reading it for ever.
constexpr qsizetype kInputBudgetBytes = 4096;
// A thread asleep wakes tens of microseconds after its moment, and more on a virtual
// machine, whose idle processor must be woken first: several characters at 115200 baud.
// While the poll runs back to back, the link spends this long awake before a moment it
// knows (the end of the line's silence) and on each side of one it expects (a reply
// due when the last one to the same request came). The longer a sleep, the later it
// ends (0.2 to 0.35 ms after 30 ms on a virtual machine), so such a wait also spends
// 1/64 of itself awake: half a millisecond before a reply at 9600 baud.
constexpr qint64 kAwakeNs = 150000;
constexpr qint64 kAwakeShare = 64;
}  // namespace linkexchange

// The byte pipe to the module: the serial port or the TCP socket. Only the link
// worker thread touches a Link. Every blocking call returns within the time it is
// given and also returns early when the calling thread is asked to stop
// (QThread::requestInterruption), so closing the window is never held up.
class Link {
public:
    virtual ~Link() = default;

    // Removes and returns the bytes that arrived since the last exchange, from the
    // library's buffer and from the operating system's alike (a late reply to an earlier
    // request must never be taken for the next one), about kInputBudgetBytes at most.
    virtual QByteArray drainInput() = 0;
    // Sends a frame. False when nothing could be sent (socket not connected, port
    // not open).
    virtual bool send(const QByteArray& frame) = 0;
    // Removes and returns every byte received so far.
    virtual QByteArray takeAvailable() = 0;
    // Blocks until new bytes arrive or `ms` pass (a slice from waitSliceMs, so never
    // negative). False on timeout or link error.
    virtual bool waitForData(int ms) = 0;
    // Before a reader's first block: lets a connection attempt that is already under
    // way finish, at most until `deadline`. Reports nothing; the transactions decide.
    virtual void waitConnected(QDeadlineTimer deadline) = 0;
    // Before each attempt: a link that is down gets one chance to come up (TCP: one
    // new connection attempt; serial: reopening a port that went away), at most until
    // `deadline`. True when the link is up.
    virtual bool ensureOpen(QDeadlineTimer deadline);
    // Right before a request goes out: keeps the line's own silence between frames.
    // Returns the bytes that broke the silence meanwhile (and were thrown away), or
    // nothing when the line did not fall silent by `deadline` or within
    // kInputBudgetBytes: the request must not go out into it.
    virtual std::optional<QByteArray> keepInterFrameSilence(QDeadlineTimer deadline);
    // How long the line must stay quiet after a surplus reply of `replyLength` bytes
    // started to arrive before it is taken as complete.
    virtual int quietLineMs(int replyLength) const;
    virtual bool isConnected() const = 0;
    virtual void close() = 0;
    // The system's handle that input arrives on, to wait on it to the nanosecond; -1 when
    // there is none (link down).
    virtual int inputHandle() const { return -1; }

    // While the poll runs back to back the line is what holds it up: the link stays awake
    // at the moments a byte is due instead of sleeping through them (it costs a little
    // processor time each exchange, so only then).
    void setKeepAwake(bool awake) { keepAwake_ = awake; }

    // One send-and-wait on the link. The link is brought up if it is down (an attempt on a
    // link that stays down fails at once); replies still owed to an earlier, different
    // request are waited for and thrown away; stale input is drained and the line's
    // silence kept, within `timeoutMs` (a line that never falls silent fails the
    // attempt); then the frame is sent and bytes collected until replyComplete, the
    // deadline (taken once the frame is handed to the link, on a monotonic clock) or the
    // link going down. Returns whatever arrived, for the caller to check; nullopt when the
    // frame did not go out (link down, a line that never fell silent, stop request, or
    // `sendBy` over before the line was ready for it).
    std::optional<QByteArray> exchange(const QByteArray& frame, int expectedLength,
                                       int timeoutMs = linkexchange::kReplyTimeoutMs,
                                       QDeadlineTimer sendBy = QDeadlineTimer::Forever);

    // Work that must not hold up the line (records, what the window and the plant are
    // told): run, in the order given, as soon as the next request is on the wire, so that
    // it overlaps the line's own time, or by the next exchange that sends nothing (a link
    // that is down, a late reply to wait out) before it waits. runHeldWork() runs it now.
    void afterNextRequest(std::function<void()> work);
    void runHeldWork();

protected:
    // A new connection or a reopened port carries no reply to anything sent before.
    void forgetUnanswered() { unanswered_ = {}; }
    // For a waitForData() that could not wait (link down, or a wait that failed at
    // once): sits out the rest of its `ms`, started at `slice`, instead of letting the
    // caller spin, so the caller's deadline still paces the loop.
    static void sitOutSlice(const QElapsedTimer& slice, int ms);
    // As waitForData(), to the nanosecond where the link has an inputHandle(); the last
    // `awakeNs` of the wait, and 1/kAwakeShare of it more, are spent awake when the link
    // keeps awake; none with an `awakeNs` of zero.
    bool waitForDataNs(qint64 ns, qint64 awakeNs);

private:
    // The attempts of the current request that no reply has been seen for yet. The
    // module answers every request it understood, however late, and the frames do
    // not say which request they answer; attempts at the same request are
    // interchangeable, so only a change of request needs the line cleared first.
    struct Unanswered {
        QByteArray request;
        int replyLength = 0;
        int count = 0;
        QElapsedTimer lastSent;
        int replyTimeoutMs = 0;  // the last attempt's: its late reply is due after that
    };
    void settleUnanswered();
    void countReplies(const QByteArray& bytes);
    // Waits for the rest of a reply: asleep until shortly before it is expected, awake
    // around that, asleep again after.
    void waitForReply(quint64 kind, const QDeadlineTimer& deadline);

    Unanswered unanswered_;
    std::vector<std::function<void()>> held_;
    bool keepAwake_ = false;
    // How long after its request the last complete reply of each kind came (slave, function,
    // first register, request and reply lengths), in nanoseconds.
    std::unordered_map<quint64, qint64> replyAfterNs_;
};

// True once `received` holds the reply the exchange waits for: the expected number
// of bytes (or more, which the reply check then rejects), or a complete exception
// reply, which ends the wait at once.
bool replyComplete(const QByteArray& received, int expectedLength);

// True when the current thread has been asked to stop.
bool stopRequested();
