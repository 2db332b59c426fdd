#pragma once

#include <QByteArray>
#include <QString>

// A few hundred bytes of text that outlive a kill of the station (not of the machine):
// a file in the system's shared memory (/dev/shm), mapped, so that writing it is a copy
// in memory and works while every disk refuses. The outbox keeps there what a kill would
// lose, for the next start to count it and skip its seq.
//
// Two slots and a generation: a write goes to the slot not in use and then names it, so
// a kill in the middle of a write leaves the last whole text.
class KillLedger {
public:
    // One ledger per `key` (the outbox's folder) and user. Without shared memory it
    // keeps nothing.
    explicit KillLedger(const QString& key);
    ~KillLedger();
    KillLedger(const KillLedger&) = delete;
    KillLedger& operator=(const KillLedger&) = delete;

    // What the last run wrote and did not clear, as it was at the start.
    QByteArray left() const { return left_; }
    // Texts longer than a slot are cut at the slot's size.
    void write(const QByteArray& text);
    // Nothing to tell the next start: the file goes.
    void clear();

    static constexpr qsizetype kSlotSize = 4000;

private:
    struct Page;
    // Maps the open file `fd` (and closes it); true when it holds a ledger already.
    bool map(int fd);
    QByteArray path_;
    Page* page_ = nullptr;
    QByteArray left_;
};
