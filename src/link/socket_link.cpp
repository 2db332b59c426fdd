#include "socket_link.h"

#include <QElapsedTimer>
#include <utility>

SocketLink::SocketLink(QString host, quint16 port)
    : Winsock1(std::make_unique<QTcpSocket>()), host_(std::move(host)), port_(port) {}

SocketLink::~SocketLink() {
    close();
}

void SocketLink::connectToModule() {
    Winsock1->abort();
    // What the kernel holds waits there, bounded by the kernel, until a read asks for it.
    connector_.start(host_, port_, linkexchange::kInputBudgetBytes);
}

void SocketLink::Winsock1_DataArrival() {
    if (Winsock1->bytesAvailable() > 0) RxBuffer += Winsock1->readAll();
}

void SocketLink::Winsock1_Close() {
    // Closing drops Qt's read buffer: keep what the peer sent before it hung up.
    Winsock1_DataArrival();
    Winsock1->abort();
}

void SocketLink::Winsock1_Error() {
    Winsock1_DataArrival();
    if (Winsock1->state() != QAbstractSocket::UnconnectedState) Winsock1->abort();
}

QByteArray SocketLink::drainInput() {
    pullFromKernel();
    return std::exchange(RxBuffer, QByteArray());
}

void SocketLink::pullFromKernel() {
    // A buffered socket reads from the operating system only when its event loop or a
    // wait asks it to; bytes still in the kernel are invisible to bytesAvailable(). A
    // wait of no time reads them in, with no event loop, until nothing more is there or,
    // against a peer that outruns the reads, the budget is reached.
    Winsock1_DataArrival();
    while (RxBuffer.size() < linkexchange::kInputBudgetBytes &&
           Winsock1->state() == QAbstractSocket::ConnectedState) {
        if (!Winsock1->waitForReadyRead(0)) {
            afterFailedWait();
            break;
        }
        Winsock1_DataArrival();
    }
}

bool SocketLink::send(const QByteArray& frame) {
    if (Winsock1->state() != QAbstractSocket::ConnectedState) return false;
    if (Winsock1->write(frame) != frame.size()) {
        afterFailedWait();
        return false;
    }
    // Loopback and LAN sockets take 8 bytes at once; this only pushes them out of
    // Qt's buffer without an event loop.
    const QDeadlineTimer deadline(linkexchange::kReplyTimeoutMs);
    while (Winsock1->bytesToWrite() > 0 && isConnected() && !deadline.hasExpired() &&
           !stopRequested()) {
        if (!Winsock1->waitForBytesWritten(linkexchange::waitSliceMs(deadline.remainingTime())))
            afterFailedWait();
    }
    if (Winsock1->bytesToWrite() == 0) return isConnected();
    // A peer that takes nothing more: the rest of the frame must not go out later, in
    // front of the next request. Only a new connection starts the stream clean.
    Winsock1->abort();
    return false;
}

QByteArray SocketLink::takeAvailable() {
    Winsock1_DataArrival();
    return std::exchange(RxBuffer, QByteArray());
}

bool SocketLink::waitForData(int ms) {
    if (Winsock1->bytesAvailable() > 0) {
        Winsock1_DataArrival();
        return true;
    }
    QElapsedTimer slice;
    slice.start();
    if (Winsock1->state() == QAbstractSocket::ConnectedState) {
        if (Winsock1->waitForReadyRead(ms)) {
            Winsock1_DataArrival();
            return true;
        }
        // False stands for a timeout, the peer's close and an error alike; bytes that
        // came in together with the close are still in the socket.
        const bool gotData = Winsock1->bytesAvailable() > 0;
        afterFailedWait();
        if (gotData) return true;
    }
    sitOutSlice(slice, ms);
    return false;
}

void SocketLink::afterFailedWait() {
    Winsock1_DataArrival();
    switch (Winsock1->state()) {
        case QAbstractSocket::ConnectedState:
            return;  // a plain timeout
        case QAbstractSocket::UnconnectedState:
        case QAbstractSocket::ClosingState:
            if (Winsock1->error() == QAbstractSocket::RemoteHostClosedError)
                Winsock1_Close();
            else
                Winsock1_Error();
            return;
        default:
            Winsock1_Error();
    }
}

void SocketLink::waitConnected(QDeadlineTimer deadline) {
    // Only an attempt already under way is waited for: each transaction attempt makes
    // its own, so a module that is away costs one connection attempt per attempt.
    waitWhileConnecting(deadline);
}

bool SocketLink::ensureOpen(QDeadlineTimer deadline) {
    // A connection the peer has closed still reads as connected until someone looks at
    // it: look, without waiting (what arrives meanwhile stays in RxBuffer).
    pullFromKernel();
    if (isConnected()) return true;
    if (!connector_.underWay() && !stopRequested()) connectToModule();
    waitWhileConnecting(deadline);
    if (!isConnected()) return false;
    // Nothing sent on an earlier connection is answered on this one.
    forgetUnanswered();
    RxBuffer.clear();
    return true;
}

int SocketLink::quietLineMs(int) const {
    // Behind the socket a gateway or the module keeps the serial line's timing, at a
    // speed we are not told. At the slowest line in use (9600 baud) our longest reply
    // takes about 24 ms; twice that covers the network's own jitter on a LAN.
    constexpr int kQuietLineMs = 50;
    return kQuietLineMs;
}

void SocketLink::waitWhileConnecting(QDeadlineTimer deadline) {
    // In slices, so that a stop request ends the wait at once; an attempt still under way
    // when the wait ends carries on into the next one.
    while (connector_.underWay() && !stopRequested()) {
        const qint64 remaining =
            deadline.isForever() ? linkexchange::kConnectTimeoutMs : deadline.remainingTime();
        if (remaining <= 0) return;
        if (auto socket = connector_.takeEnd(linkexchange::waitSliceMs(remaining)))
            Winsock1 = std::move(socket);
    }
}

int SocketLink::inputHandle() const {
    return isConnected() ? static_cast<int>(Winsock1->socketDescriptor()) : -1;
}

bool SocketLink::isConnected() const {
    return Winsock1->state() == QAbstractSocket::ConnectedState;
}

void SocketLink::close() {
    Winsock1->abort();
    connector_.abandon();
}
