#include "weight_log.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <utility>

#include "file_sync.h"
#include "weight_format.h"

namespace {

// The locale's long time format names the time zone ("H:mm:ss (t)" in Spanish,
// "h:mm:ss AP t" in English); the log wants hours, minutes and seconds only. Drop the
// zone letters outside quoted literals, then whatever brackets and spaces they leave.
QString timeFormatWithoutZone(const QLocale& locale) {
    const QString format = locale.timeFormat(QLocale::LongFormat);
    QString result;
    bool quoted = false;
    for (const QChar c : format) {
        if (c == QLatin1Char('\'')) quoted = !quoted;
        if (!quoted && c == QLatin1Char('t')) continue;
        result += c;
    }
    result.remove(QStringLiteral("()"));
    result.remove(QStringLiteral("[]"));
    return result.simplified();
}

bool endsLine(const QByteArray& bytes) {
    return bytes.isEmpty() || bytes.endsWith('\n');
}

char lastByte(const QString& path) {
    QFile file(path);
    char last = '\n';
    if (file.open(QIODevice::ReadOnly) && file.size() > 0 && file.seek(file.size() - 1))
        file.getChar(&last);
    return last;
}

// Appends to an open file as one piece: after a short write (a disk that fills in the
// middle of a line) the file goes back to its length before, so a retry never glues a
// line onto a fragment. A file that does not end in a line end (someone else's, or one
// cut by a crash) gets one first, so the new line stands on its own.
bool appendWhole(QFile& file, QByteArray bytes, bool sync) {
    const qint64 before = file.size();
    const char last = lastByte(file.fileName());
    if (last == '\r') bytes.prepend('\n');
    if (last != '\r' && last != '\n') bytes.prepend("\r\n");
    if (file.write(bytes) == bytes.size() && (!sync || syncToDisk(file))) return true;
    file.resize(before);
    return false;
}

bool openForAppend(QFile& file) {
    // Unbuffered: a line counts as written once the system took it all.
    return file.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered);
}

bool appendWhole(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    return openForAppend(file) && appendWhole(file, bytes, false);
}

int countLines(const QByteArray& bytes) {
    return static_cast<int>(bytes.count('\n')) + (endsLine(bytes) ? 0 : 1);
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

}  // namespace

QString logDate(const QDateTime& when, const QLocale& locale) {
    return locale.toString(when.date(), QLocale::ShortFormat);
}

QString logTime(const QDateTime& when, const QLocale& locale) {
    return locale.toString(when.time(), timeFormatWithoutZone(locale));
}

QString logLine(const QDateTime& when, const WeightReading& weights, int decimals,
                const QLocale& locale) {
    const QChar sep = QLatin1Char(';');
    return logDate(when, locale) + sep + logTime(when, locale) + sep +
           formatWeight(weights.gross, decimals, locale) + sep +
           formatWeight(weights.tare, decimals, locale) + sep +
           formatWeight(weights.net, decimals, locale);
}

QString pendingLogPath(const QString& logPath) {
    const QFileInfo log(logPath);
    return log.dir().filePath(log.completeBaseName() + QStringLiteral(".pendiente.") +
                              log.suffix());
}

// The move from the pending file into the log is one append of everything pending,
// then the removal of the pending file. Before it starts, the log's length goes into
// a small file of its own beside them; a station killed between the two steps finds it
// at the next start with the pending file still there, cuts the log back to that
// length and moves again, so no line is written twice and none is lost.
WeightLog::WeightLog(QString path)
    : path_(std::move(path)),
      pendingPath_(pendingLogPath(path_)),
      movePath_(pendingPath_ + QStringLiteral(".mueve")) {
    inFile_ = countLines(readFile(pendingPath_));
    flushPending();
}

bool WeightLog::append(const QString& line) {
    const QByteArray bytes = line.toLocal8Bit() + "\r\n";
    if (pending() == 0 && appendWhole(path_, bytes)) return true;
    keep(bytes, 1);
    return flushPending();
}

void WeightLog::keep(const QByteArray& lines, int count) {
    // Lines held in memory are older than this one: they go to the file first.
    if (appendWhole(pendingPath_, memory_ + lines)) {
        inFile_ += inMemory_ + count;
        memory_.clear();
        inMemory_ = 0;
        return;
    }
    memory_ += lines;
    inMemory_ += count;
}

QByteArray WeightLog::movingLines() const {
    QByteArray lines = readFile(pendingPath_);
    if (!endsLine(lines)) lines += "\r\n";
    return lines + memory_;
}

bool WeightLog::undoUnfinishedMove() {
    if (!QFile::exists(movePath_)) return true;
    bool ok = false;
    const qint64 before = readFile(movePath_).trimmed().toLongLong(&ok);
    QFile log(path_);
    if (ok && log.exists() && !log.open(QIODevice::ReadWrite)) return false;
    if (log.isOpen() && log.size() > before && log.seek(before)) {
        // Only what this move wrote is cut back: a mark left behind by a finished move
        // is followed by other lines.
        QByteArray tail = log.readAll();
        while (tail.startsWith('\r') || tail.startsWith('\n')) tail.remove(0, 1);
        if (movingLines().startsWith(tail) && !(log.resize(before) && syncToDisk(log)))
            return false;
    }
    return QFile::remove(movePath_);
}

bool WeightLog::flushPending() {
    if (pending() == 0) return true;
    if (!undoUnfinishedMove()) return false;
    QFile log(path_);
    if (!openForAppend(log)) return false;

    QFile move(movePath_);
    const bool started = move.open(QIODevice::WriteOnly | QIODevice::Truncate) &&
                         move.write(QByteArray::number(log.size())) > 0 && syncToDisk(move);
    move.close();
    if (!started || !appendWhole(log, movingLines(), true)) {
        QFile::remove(movePath_);
        return false;
    }
    // A pending file that cannot be removed leaves the move marked unfinished: the
    // next attempt cuts the log back and moves everything again.
    if (QFile::exists(pendingPath_) && !QFile::remove(pendingPath_)) return false;
    QFile::remove(movePath_);
    inFile_ = 0;
    memory_.clear();
    inMemory_ = 0;
    return true;
}
