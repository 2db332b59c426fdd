#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QString>
#include <mutex>
#include <set>

// The messages that must reach the broker, kept on disk from the moment they are made
// until the broker has acknowledged them, so a broker away for days or a station killed
// meanwhile loses none. Each stream ("lectura", "dosificacion", "cambio") numbers its
// messages (their "seq") one up from the last, across restarts.
//
// On disk: numbered segment files of whole lines, one message a line, appended only and
// removed whole once every line in them is acknowledged; and a small state file with the
// position of the oldest unacknowledged message, the next seq of each stream and the
// count of messages given up. Front removal never rewrites a file, and a kill between
// acknowledgements and the state written only resends: the same seq again, never a gap.
//
// add() is called from any thread and only appends (no sync, no network); the rest is
// for the one thread that publishes.
class Outbox {
public:
    struct Message {
        qint64 index;  // position in the outbox, for acknowledged()
        QByteArray stream;
        QByteArray payload;
    };

    // `limit`: the most messages kept; past it the oldest go, counted in dropped().
    Outbox(const QString& dir, qint64 limit);
    ~Outbox();
    Outbox(const Outbox&) = delete;
    Outbox& operator=(const Outbox&) = delete;

    // Numbers `body` (a JSON object) with the stream's next seq and keeps it. A message
    // the disk cannot take waits in memory and goes to disk ahead of the next one.
    void add(const QByteArray& stream, const QByteArray& body);

    // Up to `max` messages not yet handed out, oldest first, each on disk (synced) first.
    QList<Message> take(int max);
    // Hands out every unacknowledged message again (a new connection).
    void rewind();
    void acknowledged(qint64 index);
    // Writes the state and removes the segments wholly acknowledged.
    bool saveProgress();

    qint64 pending() const;
    qint64 dropped() const;

private:
    void open();
    void appendFromMemory();
    void enforceLimit();
    QList<Message> readRange(qint64 from, qint64 to, const QMap<qint64, qint64>& segments);
    QString segmentPath(qint64 first) const;

    const QString dir_;
    const qint64 limit_;

    mutable std::mutex mutex_;
    QMap<qint64, qint64> segments_;  // first index -> lines
    qint64 nextIndex_ = 0;           // index of the next line written
    qint64 acked_ = 0;               // every message below it is done with
    qint64 sent_ = 0;                // next message to hand out
    qint64 dropped_ = 0;
    std::set<qint64> earlyAcks_;
    QHash<QByteArray, qint64> nextSeq_;
    QList<QByteArray> memory_;  // lines the disk did not take yet, oldest first
    QFile appendFile_;
    qint64 appendFirst_ = -1;

    // The publishing thread's own: how far the disk is synced, and its reader.
    qint64 synced_ = 0;
    QFile reader_;
    qint64 readerFirst_ = -1;
    qint64 readerNext_ = -1;
    QByteArray savedState_;
};
