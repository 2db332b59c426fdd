#pragma once

#include <QLocalServer>
#include <QString>

// A station's claim on a stream (a broker's address and a topic root), for the whole computer:
// every user, every folder, the services as well as the windows. The claim is a name in the
// kernel's abstract socket namespace, so it needs no file anyone could lack the right to write, and
// it goes with the process however the process ends.
class TopicClaim {
public:
    explicit TopicClaim(const QString& stream);
    // True when this process now holds the stream; false when another one does.
    bool take();
    // The process holding the stream after take() failed, or 0 when it cannot be told.
    qint64 holder() const { return holder_; }

private:
    QString name_;
    QLocalServer server_;
    qint64 holder_ = 0;
};
