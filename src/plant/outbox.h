#pragma once

#include <QByteArray>
#include <QFile>
#include <QHash>
#include <QList>
#include <QMap>
#include <QPair>
#include <QString>
#include <mutex>
#include <set>

#include "kill_ledger.h"

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
// Lines the folder cannot take (a full disk, an unwritable folder) wait in memory and,
// as they come, in the held file of the user's data directory; the next start takes
// them back. A line leaves the held file only once it is in a segment synced to the
// disk, and before it is handed out: a kill at any point loses none and sends none
// twice. Only when the held file cannot take them either are they lost to a kill or a
// close; the kill ledger (in memory the system keeps) tells the next start how many and
// up to which seq, and the next start counts them as given up and skips their seq.
//
// add() is called from any thread and only appends (no sync, no network); the rest is
// for the one thread that publishes, which opens the outbox first. close() may come
// from any thread: after it nothing touches the folder or the held file.
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

    // Reads what the last run left. Until then add() queues its messages unnumbered.
    void open();

    // Numbers `body` (a JSON object) with the stream's next seq and keeps it. A message
    // the disk cannot take waits in memory and goes to disk ahead of the next one.
    void add(const QByteArray& stream, const QByteArray& body);
    // A message of `stream` is on its way (its record is being written): until add()
    // keeps it, a kill counts it as lost and the next start skips a seq for it.
    void expect(const QByteArray& stream);

    // Up to `max` messages not yet handed out, oldest first, each on disk (synced) first.
    QList<Message> take(int max);
    // Hands out every unacknowledged message again (a new connection).
    void rewind();
    // Hands out again the message at `index` and those after it: they did not go out.
    void unsent(qint64 index);
    void acknowledged(qint64 index);
    // Writes the state and removes the segments wholly acknowledged.
    bool saveProgress();
    // The last work on the files: the state written, the lines still in memory held.
    void close();

    // Nothing left to hand out: the last message taken is the newest.
    bool handedOutAll() const;
    qint64 pending() const;
    qint64 dropped() const;

private:
    void openLocked();
    void number(const QByteArray& stream, const QByteArray& body);
    void appendFromMemory();
    void holdMemory();
    void enforceLimit();
    void applyLedger(const QHash<QByteArray, qint64>& left);
    void noteLedger(bool always = false);
    QByteArray ledgerText() const;
    qint64 expectedCount() const;
    qsizetype unkept() const { return memory_.size() - heldInMemory_; }
    void settleHeld();
    void syncTo(qint64 to, const QMap<qint64, qint64>& segments);
    bool saveProgressLocked();
    QList<Message> readRange(qint64 from, qint64 to, const QMap<qint64, qint64>& segments);
    QString segmentPath(qint64 first) const;

    const QString dir_;
    const QString heldPath_;
    const qint64 limit_;

    // Held by the file work of the publishing thread, and by close(): no file is
    // touched once close() has returned.
    std::mutex ioMutex_;
    mutable std::mutex mutex_;
    bool opened_ = false;
    bool closed_ = false;
    QList<QPair<QByteArray, QByteArray>> early_;  // added before open(): stream, body
    QMap<qint64, qint64> segments_;               // first index -> lines
    qint64 nextIndex_ = 0;                        // index of the next line written
    qint64 acked_ = 0;                            // every message below it is done with
    qint64 sent_ = 0;                             // next message to hand out
    qint64 dropped_ = 0;
    std::set<qint64> earlyAcks_;
    QHash<QByteArray, qint64> nextSeq_;
    QList<QByteArray> memory_;  // lines the disk did not take yet, oldest first
    QFile appendFile_;
    qint64 appendFirst_ = -1;
    qint64 appendSize_ = 0;  // its length, kept here: no look at the file per line
    bool appendFailed_ = false;
    // The held file: the first heldInMemory_ lines of memory_, after heldPlaced_ lines
    // since written to the segments, from heldFirst_ to before heldEnd_. Stale: it has
    // lines the limit gave up.
    QFile heldFile_;
    qsizetype heldInMemory_ = 0;
    qint64 heldPlaced_ = 0;
    qint64 heldFirst_ = -1;
    qint64 heldEnd_ = -1;
    bool heldStale_ = false;
    bool heldFailed_ = false;
    KillLedger ledger_;
    bool ledgerNoted_ = false;            // the ledger tells of lines a kill would lose
    QHash<QByteArray, qint64> expected_;  // by stream: announced by expect(), not added yet

    // The publishing thread's own: how far the disk is synced, the newest segment whose
    // name is synced with the folder, and its reader.
    qint64 synced_ = 0;
    qint64 dirSynced_ = -1;
    QFile reader_;
    qint64 readerFirst_ = -1;
    qint64 readerNext_ = -1;
    QByteArray savedState_;
};
