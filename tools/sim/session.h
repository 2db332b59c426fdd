#pragma once

#include <QByteArray>
#include <QObject>
#include <QTimer>
#include <functional>
#include <limits>

#include "slave_protocol.h"

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

}  // namespace sim
