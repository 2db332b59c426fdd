#pragma once

#include <QString>
#include <functional>

#include "session.h"

// The ways the module is reached: TCP, a serial device or a pty. Each opens its
// transport, makes a Session for every conversation and hands it the bytes that
// arrive; what the bytes mean is the simulator's business.

namespace sim {

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
