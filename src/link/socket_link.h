#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpSocket>
#include <memory>

#include "link.h"
#include "tcp_connector.h"

// The module behind a TCP connection carrying plain RTU frames (with CRC, no MBAP
// header). Construct and use it on the link worker thread only: the socket has no
// parent. The handlers below are called by this class itself once a blocking wait has
// shown that data arrived, the peer closed or the socket failed, so the worker needs no
// event loop, neither while it waits for replies nor while a connection is made: that
// runs on a connector's thread of its own, and the worker only waits for it, in slices.
//
// A module that reboots drops the connection; ensureOpen() starts a new attempt
// whenever the socket is found closed, so the next transaction attempt picks the module
// up again.
class SocketLink : public Link {
public:
    SocketLink(QString host, quint16 port);
    ~SocketLink() override;
    SocketLink(const SocketLink&) = delete;
    SocketLink& operator=(const SocketLink&) = delete;

    // Closes the socket and starts a connection attempt; returns at once. The attempt
    // makes progress on its own until a wait takes its end.
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

    // The connection, or a closed socket while there is none.
    std::unique_ptr<QTcpSocket> Winsock1;
    QByteArray RxBuffer;

private:
    void afterFailedWait();
    void pullFromKernel();
    void waitWhileConnecting(QDeadlineTimer deadline);

    QString host_;
    quint16 port_;
    TcpConnector connector_;
};
