#include "topic_claim.h"

#include <sys/socket.h>

#include <QCryptographicHash>
#include <QLocalSocket>

namespace {

// The peer's process id on a connected local socket, from the kernel.
qint64 peerProcess(const QLocalSocket& socket) {
#ifdef SO_PEERCRED
    ucred credentials{};
    socklen_t size = sizeof credentials;
    if (getsockopt(static_cast<int>(socket.socketDescriptor()), SOL_SOCKET, SO_PEERCRED,
                   &credentials, &size) == 0)
        return credentials.pid;
#else
    Q_UNUSED(socket);
#endif
    return 0;
}

}  // namespace

TopicClaim::TopicClaim(const QString& stream)
    : name_(QStringLiteral("vormelq-tema-") +
            QString::fromLatin1(
                QCryptographicHash::hash(stream.toUtf8(), QCryptographicHash::Sha256).toHex())) {
    server_.setSocketOptions(QLocalServer::AbstractNamespaceOption);
    // Whoever asks who holds the stream is answered by the connection itself: let it go.
    QObject::connect(&server_, &QLocalServer::newConnection, &server_, [this] {
        while (QLocalSocket* asker = server_.nextPendingConnection()) asker->deleteLater();
    });
}

bool TopicClaim::take() {
    if (server_.isListening() || server_.listen(name_)) return true;
    // A claim that cannot be made at all does not keep the station from starting.
    if (server_.serverError() != QAbstractSocket::AddressInUseError) return true;
    QLocalSocket asker;
    asker.setSocketOptions(QLocalSocket::AbstractNamespaceOption);
    asker.connectToServer(name_);
    holder_ = asker.waitForConnected(1000) ? peerProcess(asker) : 0;
    return false;
}
