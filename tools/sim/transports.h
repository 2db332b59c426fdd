#pragma once

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTimer>
#include <functional>
#include <limits>

#include "slave_protocol.h"

// The ways the module is reached: TCP, a serial device or a pty. Each opens its
// transport, makes a Session for every conversation and hands it the bytes that
// arrive; what the bytes mean is the simulator's business.

namespace sim {

// One conversation with a master: a TCP connection, or the serial line.
class Session : public QObject {
public:
    using Write = std::function<void(const QByteArray&)>;
    using Close = std::function<void()>;

    Session(QObject* owner, Write write, Close close, bool canClose)
        : QObject(owner), write(std::move(write)), close(std::move(close)), canClose(canClose) {
        silence.setSingleShot(true);
        staleTimer.setSingleShot(true);
    }

    Write write;
    Close close;
    bool canClose;
    bool closing = false;
    FrameAssembler frames;
    QTimer silence;
    quint64 requests = 0;
    qint64 partialSinceUs = 0;
    // Unasked junk waits for the line to be quiet: a request that comes first cancels it,
    // so junk never lands on a master that is still reading a reply.
    QTimer staleTimer;
    qint64 staleSentUs = std::numeric_limits<qint64>::min() / 2;
};

enum class TransportKind { Tcp, Serial, Pty };

struct TransportHooks {
    QObject* parent = nullptr;  // owns what the transport opens
    // Makes the session of a new conversation, a child of `owner`.
    std::function<Session*(Session::Write, Session::Close, bool canClose, QObject* owner)>
        newSession;
    std::function<void(Session&, const QByteArray&)> receive;
    std::function<void()> connected;  // a new TCP connection
};

// "listening on HOST:PORT" or "serving on PATH"; empty with `error` set on failure.
QString serveTcp(const TransportHooks& hooks, const QString& host, int port, QString* error);
QString serveSerial(const TransportHooks& hooks, const QString& device, int baud, QString* error);
// Creates a pty and a link to it at `linkPath`, both gone with `hooks.parent`.
QString servePty(const TransportHooks& hooks, const QString& linkPath, QString* error);

}  // namespace sim
