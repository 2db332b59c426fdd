#include "outbox.h"

#include <QDir>
#include <QFileInfo>
#include <algorithm>

#include "file_sync.h"
#include "journal.h"
#include "payloads.h"

namespace {

// A few megabytes a file: small enough to go soon after the broker catches up, few
// enough that a week of readings is a few hundred files.
constexpr qint64 kSegmentLines = 20000;
const QString kSegmentSuffix = QStringLiteral(".msg");
const QString kStateName = QStringLiteral("estado");
// The held file, beside the folder's own held lines: "MQTT.pendiente.msg".
const QString kHeldSuffix = QStringLiteral(".msg");

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The state file names each value: acked=, dropped= and seq.<stream>=.
QHash<QByteArray, qint64> parseState(const QByteArray& text) {
    QHash<QByteArray, qint64> values;
    for (const QByteArray& line : text.split('\n')) {
        const qsizetype eq = line.indexOf('=');
        bool ok = false;
        const qint64 value = line.mid(eq + 1).toLongLong(&ok);
        if (eq > 0 && ok) values.insert(line.left(eq), value);
    }
    return values;
}

// A message line: the stream, a space, the payload.
QByteArray streamOf(const QByteArray& line) {
    return line.left(line.indexOf(' '));
}

std::optional<qint64> seqOfLine(const QByteArray& line) {
    return seqOf(line.mid(line.indexOf(' ') + 1));
}

// The whole lines of `bytes`, without their line ends; a last line cut short is left out.
QList<QByteArray> wholeLines(const QByteArray& bytes) {
    QList<QByteArray> lines = bytes.split('\n');
    lines.removeLast();
    return lines;
}

QByteArray joined(const QList<QByteArray>& lines) {
    QByteArray bytes;
    for (const QByteArray& line : lines) bytes += line;
    return bytes;
}

QString segmentPathIn(const QString& dir, qint64 first) {
    return QDir(dir).filePath(QString::number(first).rightJustified(16, u'0') + kSegmentSuffix);
}

// What the folder's segments hold: each one's first index and count of whole lines (a
// line a power failure cut short is cut off the file: it was never handed out), the
// index past the last, and past the highest seq of each stream.
struct SegmentScan {
    QMap<qint64, qint64> segments;
    qint64 end = 0;
    QHash<QByteArray, qint64> nextSeq;
};

SegmentScan scanSegments(const QString& dir) {
    SegmentScan scan;
    const QStringList names =
        QDir(dir).entryList({QLatin1Char('*') + kSegmentSuffix}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        bool ok = false;
        const qint64 first = name.chopped(kSegmentSuffix.size()).toLongLong(&ok);
        if (!ok) continue;
        QFile file(segmentPathIn(dir, first));
        if (!file.open(QIODevice::ReadWrite)) continue;
        QByteArray bytes = file.readAll();
        if (!bytes.isEmpty() && !bytes.endsWith('\n')) {
            bytes.truncate(bytes.lastIndexOf('\n') + 1);
            file.resize(bytes.size());
        }
        const QList<QByteArray> lines = wholeLines(bytes);
        for (const QByteArray& line : lines) {
            const QByteArray stream = streamOf(line);
            if (const auto seq = seqOfLine(line))
                scan.nextSeq[stream] = std::max(scan.nextSeq.value(stream), *seq + 1);
        }
        scan.segments.insert(first, lines.size());
        scan.end = std::max(scan.end, first + lines.size());
    }
    return scan;
}

}  // namespace

Outbox::Outbox(const QString& dir, qint64 limit)
    : dir_(dir),
      heldPath_(QDir(heldDirectory(QFileInfo(dir).absolutePath()))
                    .filePath(QFileInfo(dir).fileName() + kHeldSuffix)),
      limit_(std::max<qint64>(limit, 1)),
      ledger_(dir) {}

Outbox::~Outbox() {
    close();
}

QString Outbox::segmentPath(qint64 first) const {
    return segmentPathIn(dir_, first);
}

void Outbox::open() {
    const std::lock_guard io(ioMutex_);
    if (!closed_ && !opened_) openLocked();
}

void Outbox::openLocked() {
    QDir().mkpath(dir_);
    const QHash<QByteArray, qint64> state = parseState(readAll(QDir(dir_).filePath(kStateName)));
    const SegmentScan scan = scanSegments(dir_);
    const QMap<qint64, qint64>& segments = scan.segments;
    const QHash<QByteArray, qint64>& seqs = scan.nextSeq;
    const qint64 nextIndex = std::max(state.value("acked"), scan.end);
    const qint64 acked = segments.isEmpty()
                             ? state.value("acked")
                             : std::clamp(state.value("acked"), segments.firstKey(), nextIndex);

    // Held lines already in a segment (a kill before the held file was rewritten) are
    // not placed twice: they are older than any line written after them.
    QList<QByteArray> held = wholeLines(readAll(heldPath_));
    const qsizetype heldInFile = held.size();
    held.removeIf([&](const QByteArray& line) {
        const auto seq = seqOfLine(line);
        return !seq || *seq < seqs.value(streamOf(line));
    });
    for (QByteArray& line : held) line += '\n';

    const std::lock_guard lock(mutex_);
    segments_ = segments;
    nextIndex_ = nextIndex;
    acked_ = acked;
    dropped_ = state.value("dropped");
    for (auto it = state.begin(); it != state.end(); ++it)
        if (it.key().startsWith("seq.")) nextSeq_.insert(it.key().mid(4), it.value());
    for (auto it = seqs.begin(); it != seqs.end(); ++it)
        nextSeq_[it.key()] = std::max(nextSeq_.value(it.key()), it.value());
    for (const QByteArray& line : std::as_const(held)) {
        qint64& next = nextSeq_[streamOf(line)];
        next = std::max(next, *seqOfLine(line.chopped(1)) + 1);
    }
    memory_ = held;
    heldInMemory_ = held.size();
    heldStale_ = held.size() < heldInFile;
    applyLedger(parseState(ledger_.left()));
    opened_ = true;
    for (const auto& [stream, body] : std::as_const(early_)) number(stream, body);
    early_.clear();
    appendFromMemory();
    holdMemory();
    enforceLimit();
    noteLedger();
    sent_ = acked_;
    // A station killed (not the machine) leaves its lines with the system: synced before
    // they go out again like any other.
    synced_ = acked_;
}

void Outbox::expect(const QByteArray& stream) {
    const std::lock_guard lock(mutex_);
    if (closed_) return;
    ++expected_[stream];
    noteLedger();
}

void Outbox::add(const QByteArray& stream, const QByteArray& body) {
    const std::lock_guard lock(mutex_);
    if (const auto it = expected_.find(stream); it != expected_.end() && --*it == 0)
        expected_.erase(it);
    if (!opened_ || closed_) {
        // Numbered once the last run's seq are known; after close() kept in memory only.
        early_.append({stream, body});
        if (!closed_) noteLedger();
        return;
    }
    number(stream, body);
    // Numbered before written: a kill at any point here skips no seq it should not.
    noteLedger();
    appendFromMemory();
    holdMemory();
    enforceLimit();
    noteLedger();
}

void Outbox::applyLedger(const QHash<QByteArray, qint64>& left) {
    if (left.isEmpty()) return;
    // What the last run would have lost to a kill, it lost: counted, and its seq not
    // given again. Taken idempotently (the highest of each), and written back at once
    // in this run's terms, so a kill before the state is saved counts nothing twice.
    dropped_ = std::max(dropped_, left.value("dropped"));
    for (auto it = left.begin(); it != left.end(); ++it) {
        if (it.key().startsWith("seq.")) {
            qint64& next = nextSeq_[it.key().mid(4)];
            next = std::max(next, it.value());
        }
    }
    for (auto it = left.begin(); it != left.end(); ++it)
        if (it.key().startsWith("lost.")) nextSeq_[it.key().mid(5)] += it.value();
    ledgerNoted_ = true;
}

void Outbox::noteLedger(bool always) {
    // Written while a kill would lose something (a reading announced, lines only in
    // memory), and once more when it no longer would. A copy in memory, no system call.
    const bool losing = !expected_.isEmpty() || (opened_ ? unkept() > 0 : !early_.isEmpty());
    if (!always && !losing && !ledgerNoted_) return;
    ledgerNoted_ = losing;
    ledger_.write(ledgerText());
}

qint64 Outbox::expectedCount() const {
    qint64 count = 0;
    for (const qint64 n : expected_) count += n;
    return count;
}

QByteArray Outbox::ledgerText() const {
    // What a kill now would lose: the given-up count with it, each stream's next seq, and
    // per stream the messages not numbered yet (their seq are the next ones). Before the
    // last run's seq are known, on top of what the last run left.
    QHash<QByteArray, qint64> values;
    qint64 lost = expectedCount();
    if (opened_) {
        values["dropped"] = dropped_;
        lost += unkept();
        for (auto it = nextSeq_.begin(); it != nextSeq_.end(); ++it)
            values["seq." + it.key()] = it.value();
    } else {
        values = parseState(ledger_.left());
        lost += early_.size();
        for (const auto& message : std::as_const(early_)) ++values["lost." + message.first];
    }
    values["dropped"] += lost;
    for (auto it = expected_.begin(); it != expected_.end(); ++it)
        values["lost." + it.key()] += it.value();
    QByteArray text;
    for (auto it = values.begin(); it != values.end(); ++it)
        text += it.key() + '=' + QByteArray::number(it.value()) + '\n';
    return text;
}

void Outbox::number(const QByteArray& stream, const QByteArray& body) {
    qint64& seq = nextSeq_[stream];
    seq = std::max<qint64>(seq, 1);
    memory_.append(stream + ' ' + withSeq(seq++, body) + '\n');
}

void Outbox::appendFromMemory() {
    while (!memory_.isEmpty()) {
        const bool full = appendFirst_ >= 0 && segments_.value(appendFirst_) >= kSegmentLines;
        if (!appendFile_.isOpen() || full) {
            appendFile_.close();
            appendFirst_ = nextIndex_;
            appendFile_.setFileName(segmentPath(appendFirst_));
            // Unbuffered: a line counts as kept once the system took it all, which a
            // kill of the station cannot undo.
            if (!appendFile_.open(QIODevice::WriteOnly | QIODevice::Append |
                                  QIODevice::Unbuffered)) {
                appendFirst_ = -1;
                return;
            }
            segments_[appendFirst_];
            appendSize_ = appendFile_.size();
        }
        // As many lines as the segment takes, in one write; after a failed one, one line
        // tries the disk first.
        const qsizetype count =
            appendFailed_ ? 1
                          : std::min<qsizetype>(memory_.size(),
                                                kSegmentLines - segments_.value(appendFirst_));
        const QByteArray lines = joined(memory_.mid(0, count));
        appendFailed_ = appendFile_.write(lines) != lines.size();
        if (appendFailed_) {
            appendFile_.resize(appendSize_);
            return;
        }
        appendSize_ += lines.size();
        memory_.remove(0, count);
        const qsizetype held = std::min(heldInMemory_, count);
        if (held > 0 && heldPlaced_ == 0) heldFirst_ = nextIndex_;
        if (held > 0) heldEnd_ = nextIndex_ + held;
        heldInMemory_ -= held;
        heldPlaced_ += held;
        segments_[appendFirst_] += count;
        nextIndex_ += count;
    }
}

void Outbox::holdMemory() {
    if (heldInMemory_ == memory_.size()) return;
    if (!heldFile_.isOpen()) {
        QDir().mkpath(QFileInfo(heldPath_).absolutePath());
        heldFile_.setFileName(heldPath_);
        if (!heldFile_.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
            return;
    }
    while (heldInMemory_ < memory_.size()) {
        // One line at a time while the last write failed, as appendFromMemory() does.
        const qsizetype count = heldFailed_ ? 1 : memory_.size() - heldInMemory_;
        const QByteArray lines = joined(memory_.mid(heldInMemory_, count));
        const qint64 before = heldFile_.size();
        heldFailed_ = heldFile_.write(lines) != lines.size();
        if (heldFailed_) {
            heldFile_.resize(before);
            return;
        }
        heldInMemory_ += count;
    }
}

void Outbox::enforceLimit() {
    const qint64 excess = nextIndex_ - acked_ + memory_.size() - limit_;
    if (excess <= 0) return;
    const qint64 fromDisk = std::min(excess, nextIndex_ - acked_);
    acked_ += fromDisk;
    const qsizetype fromMemory = excess - fromDisk;
    memory_.remove(0, fromMemory);
    heldStale_ = heldStale_ || (fromMemory > 0 && heldInMemory_ > 0);
    heldInMemory_ = std::max<qsizetype>(heldInMemory_ - fromMemory, 0);
    dropped_ += excess;
    sent_ = std::max(sent_, acked_);
}

QList<Outbox::Message> Outbox::take(int max) {
    const std::lock_guard io(ioMutex_);
    if (closed_ || !opened_) return {};
    settleHeld();
    qint64 from = 0;
    qint64 to = 0;
    qint64 written = 0;
    QMap<qint64, qint64> segments;
    {
        const std::lock_guard lock(mutex_);
        from = sent_;
        written = nextIndex_;
        to = std::min(nextIndex_, sent_ + max);
        // Held lines go out once the held file no longer has them.
        if (heldPlaced_ > 0) to = std::min(to, heldFirst_);
        segments = segments_;
    }
    if (from >= to) return {};
    // Everything written so far, in one sync: a backlog costs one, not one a batch.
    if (to > synced_) syncTo(written, segments);

    QList<Message> messages = readRange(from, to, segments);
    // Only what was read goes out: a line still on its way to the file (another thread's
    // append) is handed out next time, not skipped until the next connection.
    const qint64 readTo = from + messages.size();
    const std::lock_guard lock(mutex_);
    // The limit may have given up some of them while they were read.
    messages.removeIf([this](const Message& m) { return m.index < acked_; });
    if (sent_ == from) sent_ = readTo;
    return messages;
}

void Outbox::syncTo(qint64 to, const QMap<qint64, qint64>& segments) {
    // The lines were written by other threads without a sync; they reach the disk
    // before the broker sees them. Any descriptor of the file syncs its data, and a
    // new file's name is synced with the folder.
    bool newFile = false;
    for (auto it = segments.begin(); it != segments.end(); ++it) {
        if (it.key() >= to || it.key() + it.value() <= synced_) continue;
        QFile file(segmentPath(it.key()));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) syncToDisk(file);
        newFile = newFile || it.key() > dirSynced_;
        dirSynced_ = std::max(dirSynced_, it.key());
    }
    if (newFile) syncDirectory(dir_);
    synced_ = std::max(synced_, to);
}

void Outbox::settleHeld() {
    qint64 placedEnd = 0;
    QMap<qint64, qint64> segments;
    {
        const std::lock_guard lock(mutex_);
        if (heldPlaced_ == 0 && !heldStale_) return;
        placedEnd = heldEnd_;
        segments = segments_;
    }
    if (placedEnd > synced_) syncTo(placedEnd, segments);
    const std::lock_guard lock(mutex_);
    // More placed meanwhile: settled next time.
    if (heldPlaced_ > 0 && heldEnd_ > synced_) return;
    heldFile_.close();
    const QByteArray rest = joined(memory_.mid(0, heldInMemory_));
    if (rest.isEmpty()) {
        QFile::remove(heldPath_);
        syncDirectory(QFileInfo(heldPath_).absolutePath());
    } else {
        StateFile(heldPath_).write(rest);
    }
    // Even a held file that could not be rewritten does not hold up the outbox: at worst
    // the next start finds its lines in the segments, or sends them again.
    heldPlaced_ = 0;
    heldStale_ = false;
}

QList<Outbox::Message> Outbox::readRange(qint64 from, qint64 to,
                                         const QMap<qint64, qint64>& segments) {
    QList<Message> messages;
    for (qint64 index = from; index < to; ++index) {
        auto segment = segments.upperBound(index);
        if (segment == segments.begin()) break;
        --segment;
        if (readerFirst_ != segment.key() || readerNext_ != index) {
            reader_.close();
            reader_.setFileName(segmentPath(segment.key()));
            if (!reader_.open(QIODevice::ReadOnly)) break;
            readerFirst_ = segment.key();
            readerNext_ = segment.key();
            while (readerNext_ < index && !reader_.readLine().isEmpty()) ++readerNext_;
        }
        QByteArray line = reader_.readLine();
        if (!line.endsWith('\n')) {
            readerFirst_ = -1;
            break;
        }
        ++readerNext_;
        line.chop(1);
        const qsizetype space = line.indexOf(' ');
        messages.append({index, line.left(space), line.mid(space + 1)});
    }
    return messages;
}

void Outbox::rewind() {
    const std::lock_guard lock(mutex_);
    sent_ = acked_;
    earlyAcks_.clear();
}

void Outbox::unsent(qint64 index) {
    const std::lock_guard lock(mutex_);
    sent_ = std::clamp(index, acked_, sent_);
    earlyAcks_.erase(earlyAcks_.lower_bound(sent_), earlyAcks_.end());
}

void Outbox::acknowledged(qint64 index) {
    const std::lock_guard lock(mutex_);
    // Only a message handed out and still unacknowledged: the set stays within them.
    if (index < acked_ || index >= sent_) return;
    earlyAcks_.insert(index);
    while (!earlyAcks_.empty() && *earlyAcks_.begin() <= acked_) {
        if (*earlyAcks_.begin() == acked_) ++acked_;
        earlyAcks_.erase(earlyAcks_.begin());
    }
}

bool Outbox::saveProgress() {
    const std::lock_guard io(ioMutex_);
    return closed_ || !opened_ || saveProgressLocked();
}

bool Outbox::saveProgressLocked() {
    QByteArray state;
    QList<qint64> done;
    {
        const std::lock_guard lock(mutex_);
        state = "acked=" + QByteArray::number(acked_) +
                "\ndropped=" + QByteArray::number(dropped_) + '\n';
        for (auto it = nextSeq_.begin(); it != nextSeq_.end(); ++it)
            state += "seq." + it.key() + '=' + QByteArray::number(it.value()) + '\n';
        for (auto it = segments_.begin(); it != segments_.end(); ++it)
            if (it.key() + it.value() <= acked_ && it.key() != appendFirst_) done.append(it.key());
    }
    if (state == savedState_ && done.isEmpty()) return true;
    // The state goes first: a segment removed while the old state still pointed into it
    // would take the seq of its lines with it.
    if (!StateFile(QDir(dir_).filePath(kStateName)).write(state)) return false;
    savedState_ = state;
    for (const qint64 first : done) {
        if (readerFirst_ == first) {
            reader_.close();
            readerFirst_ = -1;
        }
        QFile::remove(segmentPath(first));
        const std::lock_guard lock(mutex_);
        segments_.remove(first);
    }
    return true;
}

void Outbox::close() {
    const std::lock_guard io(ioMutex_);
    if (closed_) return;
    // Messages added before the publishing thread opened the outbox are numbered and
    // kept like the others.
    if (!opened_) openLocked();
    settleHeld();
    bool held = true;
    {
        const std::lock_guard lock(mutex_);
        // What the folder never took waits in the held file, on the disk; what neither
        // takes is lost with the process: counted as given up, its seq never reused.
        holdMemory();
        held = !heldFile_.isOpen() || syncToDisk(heldFile_);
        if (held && heldFile_.isOpen()) syncDirectory(QFileInfo(heldPath_).absolutePath());
        dropped_ += unkept();
        memory_.resize(heldInMemory_);
    }
    // A state the folder would not take leaves the count and the seq to the ledger.
    const bool saved = saveProgressLocked() && held;
    const std::lock_guard lock(mutex_);
    if (saved)
        ledger_.clear();
    else
        noteLedger(true);
    heldFile_.close();
    appendFile_.close();
    reader_.close();
    closed_ = true;
}

bool Outbox::handedOutAll() const {
    const std::lock_guard lock(mutex_);
    return sent_ >= nextIndex_ && memory_.isEmpty() && early_.isEmpty();
}

qint64 Outbox::pending() const {
    const std::lock_guard lock(mutex_);
    return nextIndex_ - acked_ + memory_.size() + early_.size();
}

qint64 Outbox::dropped() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}
