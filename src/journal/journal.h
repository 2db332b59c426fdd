#pragma once

#include <QByteArray>
#include <QByteArrayList>
#include <QLockFile>
#include <QString>
#include <utility>

// A small file whose contents are replaced whole: a reader, also after a kill or a
// power cut, finds the old contents or the new, never a mix. For the state a record
// keeps beside its file (the mark of a move, an open cycle's start, a counter).
class StateFile {
public:
    explicit StateFile(QString path) : path_(std::move(path)) {}
    const QString& path() const { return path_; }
    bool exists() const;
    // The contents last written; empty when there are none.
    QByteArray read() const;
    // Written beside, synced, then renamed over the old contents.
    bool write(const QByteArray& contents);
    bool remove();

private:
    QString path_;
};

// An append-only file of CR LF lines that loses none and writes none twice. A line
// reaches the file whole or not at all; a line the file cannot take waits in the
// pending file beside it (pendingPath), or in memory while no file in the directory can
// be written, and is moved into the file in order and once as soon as it can be
// written again: by this process or by the next one started in the same directory.
// Lines still in memory when the journal closes are kept in the user's data directory
// (heldLinesPath) and taken back, after the pending file's, by the next journal on the
// same file, once: the held file goes only when they are safely in. One journal per
// file: take the directory's lock (DirectoryLock) first.
class Journal {
public:
    // Takes back the lines left waiting by the last journal on `path`.
    explicit Journal(QString path);
    ~Journal();
    Journal(const Journal&) = delete;
    Journal& operator=(const Journal&) = delete;

    const QString& path() const { return path_; }
    // `line` without its line end. True when it and every older line reached the file.
    bool append(const QByteArray& line);
    // Moves the waiting lines into the file if it can be written now.
    bool flushPending();
    // Lines not yet in the file.
    int pending() const { return inFile_ + inMemory_; }
    // The newest `count` lines without their line ends, oldest first, wherever they wait:
    // in memory, in the pending file or in the file.
    QByteArrayList newestLines(int count) const;

private:
    bool settleMark();
    bool moveWaiting();
    bool move(const QByteArray& block);
    bool appendMemory();
    void keep(const QByteArray& lines, int count);
    void takeBackHeld();
    bool placeHeld();
    bool settleHeld();
    bool releaseHeld(qint64 length);
    void holdMemory();
    void forgetMemory();

    QString path_;
    QString pendingPath_;
    QString heldPath_;
    StateFile mark_;
    StateFile heldMark_;
    int inFile_ = 0;
    QByteArray memory_;
    int inMemory_ = 0;
    // The first heldBytes_ of memory_ are lines taken back from the held file, which
    // keeps them (heldLength_ bytes there) until they are placed.
    qsizetype heldBytes_ = 0;
    int heldCount_ = 0;
    qint64 heldLength_ = 0;
    // A placing of held lines is not settled yet: its mark stands.
    bool heldStands_ = false;
    // A finished move's pending file could not be removed: its lines are in the file,
    // and it takes no new ones until it is gone.
    bool stuck_ = false;
};

// "X.pendiente.csv" beside "X.csv": the lines waiting for the file, in its format.
QString pendingPath(const QString& journalPath);
// The folder `dir` in 16 hex digits: the start of the SHA-256 of its clean absolute path.
// Whatever the station keeps outside its folder (held lines, the kill ledger, its client
// id at the broker) is named with it, so two folders of one name stay apart and a folder
// finds its own again at every start, written as a relative path, with "..", or not.
QString folderDigest(const QString& dir);
// Where what cannot wait in the directory `dir` waits between two runs: a folder of the
// user's data directory named for it, "<its name>-<folderDigest>".
QString heldDirectory(const QString& dir);
// Where the lines of `journalPath` still in memory wait between two runs: the held
// directory of the journal's directory.
QString heldLinesPath(const QString& journalPath);

// One writer per directory: a lock file beside the journal ("X.csv.lock"), taken over
// when the process that left it is gone.
class DirectoryLock {
public:
    explicit DirectoryLock(const QString& journalPath);
    enum class Result { Taken, HeldByAnother, Unavailable };
    Result take();
    struct Holder {
        qint64 pid = 0;
        QString host;
        QString application;
    };
    // Who holds it, after take() gave HeldByAnother.
    Holder holder() const;
    const QString& path() const { return path_; }

private:
    QString path_;
    QLockFile lock_;
};
