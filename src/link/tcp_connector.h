#pragma once

#include <QMutex>
#include <QString>
#include <QThread>
#include <QWaitCondition>
#include <memory>

class QTcpSocket;

// Makes TCP connections for a thread that must not run an event loop (the link worker: a
// call queued to it would run in the middle of a transaction). Qt carries a name lookup
// and a handshake on an event loop, and gives up an attempt whose blocking wait times out;
// so the attempt runs on a thread of this class's own, whose loop nobody else's calls
// reach, and the asking thread only waits for its end, in slices as short as it likes.
// An attempt carries on between those waits until it connects, fails, or is abandoned.
// A connected socket is handed over to the thread that asked for it.
class TcpConnector {
public:
    TcpConnector();
    // Abandons the attempt under way.
    ~TcpConnector();
    TcpConnector(const TcpConnector&) = delete;
    TcpConnector& operator=(const TcpConnector&) = delete;

    // Starts an attempt to `host`:`port` for the calling thread, in place of the one under
    // way; returns at once. The socket reads at most `readBufferSize` bytes ahead.
    void start(const QString& host, quint16 port, qint64 readBufferSize);
    void abandon();
    // An attempt was started and its end not taken yet.
    bool underWay() const;
    // Waits at most `ms` for the attempt under way to end, and takes its end: the connected
    // socket, now the calling thread's and without a parent, or nullptr when the attempt
    // failed; underWay() is false from then on. nullptr too while it is still under way.
    std::unique_ptr<QTcpSocket> takeEnd(int ms);

private:
    class Dialer;
    // Between the asking thread and the dialer's, under `mutex`.
    struct Attempts {
        mutable QMutex mutex;
        QWaitCondition ended;
        quint64 last = 0;
        quint64 awaited = 0;              // the attempt whose end is wanted; 0: none
        bool hasEnded = false;            // ... and it has ended
        QTcpSocket* connected = nullptr;  // ... connected: its socket, on the asking thread
    };
    // The awaited attempt's socket if it connected and was not taken; none is awaited any more.
    QTcpSocket* forgetAwaited();

    Attempts attempts_;
    QThread thread_;
    Dialer* dialer_;  // lives on thread_, deleted as it ends
};
