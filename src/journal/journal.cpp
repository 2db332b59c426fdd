#include "journal.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <QStandardPaths>

#include "file_sync.h"
#include "tail.h"

namespace {

bool endsLine(const QByteArray& bytes) {
    return bytes.isEmpty() || bytes.endsWith('\n');
}

int countLines(const QByteArray& bytes) {
    return static_cast<int>(bytes.count('\n')) + (endsLine(bytes) ? 0 : 1);
}

// False when the file is there but cannot be read: its lines must not be taken for none.
bool readFile(const QString& path, QByteArray* bytes) {
    bytes->clear();
    QFile file(path);
    if (!file.exists()) return true;
    if (!file.open(QIODevice::ReadOnly)) return false;
    *bytes = file.readAll();
    return true;
}

QByteArray readFile(const QString& path) {
    QByteArray bytes;
    readFile(path, &bytes);
    return bytes;
}

char lastByte(const QString& path) {
    QFile file(path);
    char last = '\n';
    if (file.open(QIODevice::ReadOnly) && file.size() > 0 && file.seek(file.size() - 1))
        file.getChar(&last);
    return last;
}

// A file that does not end in a line end (someone else's, or one cut by a crash) gets
// one first, so the new lines stand on their own.
QByteArray standingAlone(const QString& path, QByteArray bytes) {
    const char last = lastByte(path);
    if (last == '\r') bytes.prepend('\n');
    if (last != '\r' && last != '\n') bytes.prepend("\r\n");
    return bytes;
}

// Appends to an open file as one piece: after a short write (a disk that fills in the
// middle of a line) the file goes back to its length before, so a retry never glues a
// line onto a fragment.
bool writeWhole(QFile& file, const QByteArray& bytes, bool sync) {
    const qint64 before = file.size();
    if (file.write(bytes) == bytes.size() && (!sync || syncToDisk(file))) return true;
    file.resize(before);
    return false;
}

bool openForAppend(QFile& file) {
    // Unbuffered: a line counts as written once the system took it all.
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

bool appendWhole(const QString& path, const QByteArray& bytes, bool sync = false) {
    QFile file(path);
    return openForAppend(file) && writeWhole(file, standingAlone(path, bytes), sync);
}

QByteArray digest(const QByteArray& bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The mark of a move: where in the file the moved block begins, its length and its
// digest. The file itself then tells whether the block reached it whole.
struct MoveMark {
    qint64 at = 0;
    qint64 length = 0;
    QByteArray digest;
};

QByteArray markText(const MoveMark& mark) {
    return QByteArray::number(mark.at) + ' ' + QByteArray::number(mark.length) + ' ' + mark.digest +
           '\n';
}

bool parseMark(const QByteArray& text, MoveMark* mark) {
    const QList<QByteArray> fields = text.simplified().split(' ');
    if (fields.size() != 3) return false;
    bool at = false;
    bool length = false;
    *mark = {fields[0].toLongLong(&at), fields[1].toLongLong(&length), fields[2]};
    return at && length && mark->at >= 0 && mark->length > 0;
}

enum class BlockState { Whole, Absent, Unknown };

// Whether the marked block is in the file. A file cut short within the block holds
// a fragment of it only, taken back here. Past the block's end the file holds other
// lines: nothing there is this move's.
BlockState markedBlock(const QString& path, const MoveMark& mark) {
    QFile file(path);
    if (!file.exists()) return BlockState::Absent;
    if (!file.open(QIODevice::ReadOnly)) return BlockState::Unknown;
    const qint64 end = mark.at + mark.length;
    if (file.size() >= end && file.seek(mark.at) && digest(file.read(mark.length)) == mark.digest)
        return BlockState::Whole;
    if (file.size() <= mark.at || file.size() > end) return BlockState::Absent;
    file.close();
    const bool cut = file.open(QIODevice::ReadWrite) && file.resize(mark.at) && syncToDisk(file);
    return cut ? BlockState::Absent : BlockState::Unknown;
}

// Appends `block` to `path` whole and synced, once `mark` says where it goes and what it
// is (after `prefix`): a kill in the middle leaves the mark to settle the block by.
bool appendMarked(const QString& path, const QByteArray& block, StateFile& mark,
                  const QByteArray& prefix = {}) {
    QFile file(path);
    if (!openForAppend(file)) return false;
    const QByteArray bytes = standingAlone(path, block);
    if (!mark.write(prefix + markText({file.size(), bytes.size(), digest(bytes)}))) return false;
    if (!writeWhole(file, bytes, true)) {
        mark.remove();
        return false;
    }
    // A file the block created is found after a power cut too.
    syncDirectory(QFileInfo(path).absolutePath());
    return true;
}

// The mark of held lines on their way in: the file they went to, how much of the held
// file they are, and the block as a move marks it.
struct HeldMark {
    bool toPending = false;
    qint64 heldLength = 0;
    MoveMark block;
};

QByteArray heldMarkPrefix(bool toPending, qint64 heldLength) {
    return QByteArray(toPending ? "P " : "L ") + QByteArray::number(heldLength) + ' ';
}

bool parseHeldMark(const QByteArray& text, HeldMark* mark) {
    const QList<QByteArray> fields = text.simplified().split(' ');
    if (fields.size() != 5 || (fields[0] != "P" && fields[0] != "L")) return false;
    bool length = false;
    mark->toPending = fields[0] == "P";
    mark->heldLength = fields[1].toLongLong(&length);
    return length && parseMark(fields.mid(2).join(' '), &mark->block);
}

}  // namespace

bool StateFile::exists() const {
    return QFile::exists(path_);
}

QByteArray StateFile::read() const {
    return readFile(path_);
}

bool StateFile::write(const QByteArray& contents) {
    QSaveFile file(path_);
    return file.open(QIODevice::WriteOnly) && file.write(contents) == contents.size() &&
           syncToDisk(file) && file.commit() && syncDirectory(QFileInfo(path_).absolutePath());
}

bool StateFile::remove() {
    return !exists() || QFile::remove(path_);
}

QString pendingPath(const QString& journalPath) {
    const QFileInfo file(journalPath);
    return file.dir().filePath(file.completeBaseName() + QStringLiteral(".pendiente.") +
                               file.suffix());
}

QString folderDigest(const QString& dir) {
    const QString path = QDir::cleanPath(QDir(dir).absolutePath());
    return QString::fromLatin1(digest(QFile::encodeName(path)).left(16));
}

QString heldDirectory(const QString& dir) {
    const QString path = QDir::cleanPath(QDir(dir).absolutePath());
    const QString folder = QFileInfo(path).fileName() + QLatin1Char('-') + folderDigest(path);
    return QDir(QStandardPaths::writableLocation(QStandardPaths::AppLocalDataLocation))
        .filePath(folder);
}

QString heldLinesPath(const QString& journalPath) {
    return QDir(heldDirectory(QFileInfo(journalPath).absolutePath()))
        .filePath(QFileInfo(pendingPath(journalPath)).fileName());
}

// The move from the pending file into the journal is one append of everything
// waiting, then the removal of the pending file. Before the append, the mark says
// where the block goes and what it is; a process killed between the two steps leaves
// the mark, and the next attempt finds in the file itself whether the block got there:
// whole, the pending file is only removed; not at all or cut short, it is moved again.
// While the mark stands the pending file takes no new lines, so it never holds more
// than the block the mark describes.
//
// Held lines come back the same way: they stay in their file until a marked append has
// put them, synced, into the pending file (when it has lines, theirs come first) or the
// log; only then is the held file removed.
Journal::Journal(QString path)
    : path_(std::move(path)),
      pendingPath_(pendingPath(path_)),
      heldPath_(heldLinesPath(path_)),
      mark_(pendingPath_ + QStringLiteral(".mueve")),
      heldMark_(heldPath_ + QStringLiteral(".mueve")) {
    heldStands_ = heldMark_.exists();
    settleMark();
    settleHeld();
    // Counted once both settled: a block cut short is gone from the pending file by now.
    if (!stuck_) inFile_ = countLines(readFile(pendingPath_));
    takeBackHeld();
    flushPending();
}

Journal::~Journal() {
    if (flushPending()) return;
    keep({}, 0);
    holdMemory();
}

bool Journal::append(const QByteArray& line) {
    const QByteArray bytes = line + "\r\n";
    if (pending() == 0 && appendWhole(path_, bytes)) return true;
    keep(bytes, 1);
    return flushPending();
}

void Journal::keep(const QByteArray& lines, int count) {
    // Lines held in memory are older than these: they go to the file first. Lines taken
    // back from the held file go in only by placeHeld().
    if (heldBytes_ == 0 && !mark_.exists() && !(memory_ + lines).isEmpty() &&
        appendWhole(pendingPath_, memory_ + lines)) {
        inFile_ += inMemory_ + count;
        forgetMemory();
        return;
    }
    memory_ += lines;
    inMemory_ += count;
}

bool Journal::settleMark() {
    if (!stuck_ && mark_.exists()) {
        MoveMark mark;
        if (parseMark(mark_.read(), &mark)) {
            switch (markedBlock(path_, mark)) {
                case BlockState::Unknown:
                    return false;
                case BlockState::Whole:
                    inFile_ = 0;
                    stuck_ = true;
                    break;
                case BlockState::Absent:
                    break;
            }
        }
        if (!stuck_) return mark_.remove();
    }
    if (!stuck_) return true;
    // The block is in the file, read back once: only the pending file is left to remove.
    stuck_ = QFile::exists(pendingPath_) && !QFile::remove(pendingPath_);
    return stuck_ || mark_.remove();
}

bool Journal::flushPending() {
    if (pending() == 0 && !stuck_ && !heldStands_) return true;
    if (settleMark() && settleHeld() && placeHeld() && (pending() == 0 || moveWaiting()))
        return true;
    // Lines from memory are safer in the pending file meanwhile.
    keep({}, 0);
    return false;
}

bool Journal::moveWaiting() {
    // Once the pending file's lines are in (or it is gone), lines from memory have no
    // file to remove: a plain append brings them in after them.
    if (stuck_ || !QFile::exists(pendingPath_)) {
        inFile_ = 0;
        return appendMemory();
    }
    QByteArray block;
    if (!readFile(pendingPath_, &block)) return false;
    if (!endsLine(block)) block += "\r\n";
    if (!move(block + memory_)) return false;
    inFile_ = 0;
    forgetMemory();
    stuck_ = true;
    return settleMark();
}

bool Journal::move(const QByteArray& block) {
    return appendMarked(path_, block, mark_);
}

bool Journal::appendMemory() {
    if (!memory_.isEmpty() && !appendWhole(path_, memory_, true)) return false;
    forgetMemory();
    return true;
}

void Journal::takeBackHeld() {
    // An unsettled placing may have them in already: they wait in their file meanwhile.
    QByteArray held;
    if (heldStands_ || !readFile(heldPath_, &held) || held.isEmpty()) return;
    heldLength_ = held.size();
    if (!endsLine(held)) held += "\r\n";
    memory_ += held;
    heldBytes_ = held.size();
    heldCount_ = countLines(held);
    inMemory_ += heldCount_;
}

bool Journal::placeHeld() {
    if (heldBytes_ == 0) return true;
    // After the pending file's lines, wherever those are; when it has none, the log, or
    // a new pending file when the log cannot be written.
    QStringList targets = {path_};
    if (!stuck_ && QFile::exists(pendingPath_))
        targets = {pendingPath_};
    else if (!stuck_)
        targets << pendingPath_;
    for (const QString& target : targets) {
        const bool toPending = target == pendingPath_;
        if (!appendMarked(target, memory_.left(heldBytes_), heldMark_,
                          heldMarkPrefix(toPending, heldLength_)))
            continue;
        memory_.remove(0, heldBytes_);
        inMemory_ -= heldCount_;
        if (toPending) inFile_ += heldCount_;
        heldBytes_ = 0;
        heldCount_ = 0;
        heldStands_ = !releaseHeld(heldLength_);
        return !heldStands_ || !toPending;
    }
    return false;
}

bool Journal::settleHeld() {
    if (!heldStands_) return true;
    HeldMark mark;
    bool settled = false;
    if (!parseHeldMark(heldMark_.read(), &mark)) {
        settled = heldMark_.remove();
    } else {
        switch (markedBlock(mark.toPending ? pendingPath_ : path_, mark.block)) {
            case BlockState::Whole:
                settled = releaseHeld(mark.heldLength);
                break;
            case BlockState::Absent:
                settled = heldMark_.remove();
                break;
            case BlockState::Unknown:
                break;
        }
    }
    heldStands_ = !settled;
    // Until it is settled, the pending file keeps the placed lines where the mark says.
    return settled || !mark.toPending;
}

bool Journal::releaseHeld(qint64 length) {
    // Lines held after the placed ones (by a close while the mark stood) stay.
    QByteArray held;
    if (!readFile(heldPath_, &held)) return false;
    const bool released = held.size() > length
                              ? StateFile(heldPath_).write(held.mid(length))
                              : !QFile::exists(heldPath_) || QFile::remove(heldPath_);
    // The held file's change is on the disk before the mark goes, and the mark is gone
    // before a later close holds lines there again.
    const QString dir = QFileInfo(heldPath_).absolutePath();
    return released && syncDirectory(dir) && heldMark_.remove() && syncDirectory(dir);
}

void Journal::holdMemory() {
    // The held file still has the lines taken back from it that are not placed yet.
    const QByteArray newer = memory_.mid(heldBytes_);
    if (newer.isEmpty()) return;
    const QString dir = QFileInfo(heldPath_).absolutePath();
    QDir().mkpath(dir);
    if (appendWhole(heldPath_, newer, true)) {
        syncDirectory(dir);
        forgetMemory();
    }
}

QByteArrayList Journal::newestLines(int count) const {
    QByteArrayList lines;
    for (QByteArray line : memory_.split('\n')) {
        if (line.endsWith('\r')) line.chop(1);
        if (!line.isEmpty()) lines << line;
    }
    lines = lines.mid(qMax<qsizetype>(0, lines.size() - count));
    // Once the pending file's lines are in the file (inFile_ is then 0), it is not read
    // twice.
    if (inFile_ > 0 && lines.size() < count)
        lines = lastLines(pendingPath_, count - static_cast<int>(lines.size())) + lines;
    return lastLines(path_, count - static_cast<int>(lines.size())) + lines;
}

void Journal::forgetMemory() {
    memory_.clear();
    inMemory_ = 0;
    heldBytes_ = 0;
    heldCount_ = 0;
}

DirectoryLock::DirectoryLock(const QString& journalPath)
    : path_(journalPath + QStringLiteral(".lock")), lock_(path_) {
    // A station runs for weeks: only a lock whose process is gone is stale, never an
    // old one.
    lock_.setStaleLockTime(0);
}

DirectoryLock::Result DirectoryLock::take() {
    if (lock_.tryLock()) return Result::Taken;
    return lock_.error() == QLockFile::LockFailedError ? Result::HeldByAnother
                                                       : Result::Unavailable;
}

DirectoryLock::Holder DirectoryLock::holder() const {
    Holder holder;
    lock_.getLockInfo(&holder.pid, &holder.host, &holder.application);
    return holder;
}
