#pragma once

#include <QByteArray>
#include <QDeadlineTimer>

// The byte pipe to the module: the serial port or the TCP socket. Only the link
// worker thread touches a Link. Every blocking call returns within the time it is
// given and also returns early when the calling thread is asked to stop
// (QThread::requestInterruption), so closing the window is never held up.
class Link {
public:
    virtual ~Link() = default;

    // Throws away whatever arrived since the last exchange (a late reply to an
    // earlier request must never be taken for the next one).
    virtual void discardInput() = 0;
    // Sends a frame. False when nothing could be sent (socket not connected, port
    // not open); the caller still waits out its deadline.
    virtual bool send(const QByteArray& frame) = 0;
    // Removes and returns every byte received so far.
    virtual QByteArray takeAvailable() = 0;
    // Blocks until new bytes arrive or `ms` pass. False on timeout or link error.
    virtual bool waitForData(int ms) = 0;
    // Before a reader's first block: give a link that is down one chance to come up
    // (TCP: start a new connection attempt when closed and wait for it), at most
    // until `deadline`. Reports nothing; the transactions decide.
    virtual void waitConnected(QDeadlineTimer deadline) = 0;
    virtual bool isConnected() const = 0;
    virtual void close() = 0;
};

namespace linkexchange {
constexpr int kReplyTimeoutMs = 2000;
constexpr int kConnectTimeoutMs = 2000;
// Longest single blocking wait, so a stop request is seen promptly.
constexpr int kWaitSliceMs = 50;
}  // namespace linkexchange

// True once `received` holds the reply the exchange waits for: the expected number
// of bytes (or more, which the reply check then rejects), or a complete exception
// reply, which ends the wait at once.
bool replyComplete(const QByteArray& received, int expectedLength);

// One send-and-wait on the link: discard stale input, send the frame, collect bytes
// until replyComplete or the deadline (taken once the frame is handed to the link,
// on a monotonic clock). Returns whatever arrived; the caller checks it.
QByteArray linkExchange(Link& link, const QByteArray& frame, int expectedLength,
                        int timeoutMs = linkexchange::kReplyTimeoutMs);

// True when the current thread has been asked to stop.
bool stopRequested();
