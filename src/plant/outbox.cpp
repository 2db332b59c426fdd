#include "outbox.h"

#include <QDir>
#include <QSaveFile>
#include <algorithm>

#include "file_sync.h"
#include "payloads.h"

namespace {

// A few megabytes a file: small enough to go soon after the broker catches up, few
// enough that a week of readings is a few hundred files.
constexpr qint64 kSegmentLines = 20000;
const QString kSegmentSuffix = QStringLiteral(".msg");
const QString kStateName = QStringLiteral("estado");

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

// The small durable file: written aside, synced, then renamed over the old one, so a
// kill leaves either state whole.
bool writeState(const QString& path, const QByteArray& text) {
    QSaveFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(text) == text.size() && file.commit();
}

// A message line: the stream, a space, the payload.
QByteArray streamOf(const QByteArray& line) {
    return line.left(line.indexOf(' '));
}

}  // namespace

Outbox::Outbox(const QString& dir, qint64 limit) : dir_(dir), limit_(std::max<qint64>(limit, 1)) {
    QDir().mkpath(dir_);
    open();
}

Outbox::~Outbox() {
    saveProgress();
}

QString Outbox::segmentPath(qint64 first) const {
    return QDir(dir_).filePath(QString::number(first).rightJustified(16, u'0') + kSegmentSuffix);
}

void Outbox::open() {
    const QHash<QByteArray, qint64> state = parseState(readAll(QDir(dir_).filePath(kStateName)));
    acked_ = state.value("acked");
    nextIndex_ = acked_;
    dropped_ = state.value("dropped");
    for (auto it = state.begin(); it != state.end(); ++it)
        if (it.key().startsWith("seq.")) nextSeq_.insert(it.key().mid(4), it.value());

    const QStringList names =
        QDir(dir_).entryList({QLatin1Char('*') + kSegmentSuffix}, QDir::Files, QDir::Name);
    for (const QString& name : names) {
        bool ok = false;
        const qint64 first = name.chopped(kSegmentSuffix.size()).toLongLong(&ok);
        if (!ok) continue;
        QFile file(segmentPath(first));
        if (!file.open(QIODevice::ReadWrite)) continue;
        QByteArray bytes = file.readAll();
        // A line cut by a power failure was never handed out: it goes.
        if (!bytes.isEmpty() && !bytes.endsWith('\n')) {
            bytes.truncate(bytes.lastIndexOf('\n') + 1);
            file.resize(bytes.size());
        }
        const QList<QByteArray> lines = bytes.split('\n');
        const qint64 count = lines.size() - 1;
        for (qint64 i = 0; i < count; ++i) {
            const QByteArray& line = lines[i];
            const std::optional<qint64> seq = seqOf(line.mid(line.indexOf(' ') + 1));
            const QByteArray stream = streamOf(line);
            if (seq) nextSeq_[stream] = std::max(nextSeq_.value(stream), *seq + 1);
        }
        segments_.insert(first, count);
        nextIndex_ = std::max(nextIndex_, first + count);
    }
    if (!segments_.isEmpty()) acked_ = std::clamp(acked_, segments_.firstKey(), nextIndex_);
    enforceLimit();
    sent_ = acked_;
    // A station killed (not the machine) leaves its lines with the system: synced before
    // they go out again like any other.
    synced_ = acked_;
}

void Outbox::add(const QByteArray& stream, const QByteArray& body) {
    const std::lock_guard lock(mutex_);
    qint64& seq = nextSeq_[stream];
    seq = std::max<qint64>(seq, 1);
    memory_.append(stream + ' ' + withSeq(seq++, body) + '\n');
    appendFromMemory();
    enforceLimit();
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
        }
        const qint64 before = appendFile_.size();
        const QByteArray& line = memory_.first();
        if (appendFile_.write(line) != line.size()) {
            appendFile_.resize(before);
            return;
        }
        memory_.removeFirst();
        ++segments_[appendFirst_];
        ++nextIndex_;
    }
}

void Outbox::enforceLimit() {
    const qint64 excess = nextIndex_ - acked_ + memory_.size() - limit_;
    if (excess <= 0) return;
    const qint64 fromDisk = std::min(excess, nextIndex_ - acked_);
    acked_ += fromDisk;
    memory_.remove(0, excess - fromDisk);
    dropped_ += excess;
    sent_ = std::max(sent_, acked_);
}

QList<Outbox::Message> Outbox::take(int max) {
    qint64 from = 0;
    qint64 to = 0;
    QMap<qint64, qint64> segments;
    {
        const std::lock_guard lock(mutex_);
        from = sent_;
        to = std::min(nextIndex_, sent_ + max);
        segments = segments_;
    }
    if (from >= to) return {};
    // The lines were written by other threads without a sync; they reach the disk
    // before the broker sees them. Any descriptor of the file syncs its data.
    for (auto it = segments.begin(); it != segments.end(); ++it) {
        if (it.key() >= to || it.key() + it.value() <= synced_) continue;
        QFile file(segmentPath(it.key()));
        if (file.open(QIODevice::WriteOnly | QIODevice::Append)) syncToDisk(file);
    }
    synced_ = std::max(synced_, to);

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

void Outbox::acknowledged(qint64 index) {
    const std::lock_guard lock(mutex_);
    if (index < acked_) return;
    earlyAcks_.insert(index);
    while (!earlyAcks_.empty() && *earlyAcks_.begin() <= acked_) {
        if (*earlyAcks_.begin() == acked_) ++acked_;
        earlyAcks_.erase(earlyAcks_.begin());
    }
}

bool Outbox::saveProgress() {
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
    if (!writeState(QDir(dir_).filePath(kStateName), state)) return false;
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

qint64 Outbox::pending() const {
    const std::lock_guard lock(mutex_);
    return nextIndex_ - acked_ + memory_.size();
}

qint64 Outbox::dropped() const {
    const std::lock_guard lock(mutex_);
    return dropped_;
}
