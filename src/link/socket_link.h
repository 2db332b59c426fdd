#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

#include "link.h"

// The module behind a TCP connection carrying plain RTU frames (with CRC, no MBAP
// header). Construct and use it on the link worker thread only: the socket has no
// parent. The handlers below are called by this class itself once a blocking wait has
// shown that data arrived, the peer closed or the socket failed, so the worker needs no
// event loop while it waits for replies; only the wait for a connection under way runs
// one, with the socket's state change connected to end it.
//
// A module that reboots drops the connection; ensureOpen() starts a new attempt
// whenever the socket is found closed, so the next transaction attempt picks the module
// up again. While an attempt is under way, ensureOpen() and waitConnected() run the
// thread's event loop: the caller must not mind queued calls being delivered inside it.
class SocketLink : public Link {
public:
    SocketLink(QString host, quint16 port);
    ~SocketLink() override;
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;

    // Closes the socket and starts a connection attempt; returns at once. The attempt
    // makes progress in the next wait.
    void connectToModule();

    // Appends everything the socket has received to RxBuffer.
    void Winsock1_DataArrival();
    // The peer closed the connection.
    void Winsock1_Close();
    // The socket reported an error: close it unless it is closed already.
    void Winsock1_Error();

    QByteArray drainInput() override;
    bool send(const QByteArray& frame) override;
    QByteArray takeAvailable() override;
    bool waitForData(int ms) override;
    void waitConnected(QDeadlineTimer deadline) override;
    bool ensureOpen(QDeadlineTimer deadline) override;
    int quietLineMs(int replyLength) const override;
    bool isConnected() const override;
    int inputHandle() const override;
    void close() override;

    QTcpSocket* Winsock1;
    QByteArray RxBuffer;

private:
    void afterFailedWait();
    void pullFromKernel();
    void waitWhileConnecting(QDeadlineTimer deadline);
    bool isConnecting() const;

    QString host_;
    quint16 port_;
};
