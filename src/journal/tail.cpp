#include "tail.h"

#include <QFile>

namespace {

constexpr qint64 kBlock = 64 * 1024;

}  // namespace

QByteArrayList lastLines(const QString& path, int count) {
    QFile file(path);
    if (count <= 0 || !file.open(QIODevice::ReadOnly)) return {};
    // Grows from the end until it holds `count` line ends before the last line, or the
    // whole file: the line before the first one kept must be seen whole to know where
    // that one begins.
    QByteArray tail;
    qint64 from = file.size();
    while (from > 0 && tail.count('\n') <= count) {
        const qint64 start = std::max<qint64>(0, from - kBlock);
        if (!file.seek(start)) return {};
        const QByteArray block = file.read(from - start);
        if (block.size() != from - start) return {};
        tail.prepend(block);
        from = start;
    }
    QByteArrayList lines = tail.split('\n');
    // A last line end leaves an empty piece after it; a line cut by the block's start
    // is only whole when the file began there.
    if (!lines.isEmpty() && lines.back().isEmpty()) lines.removeLast();
    if (from > 0 && !lines.isEmpty()) lines.removeFirst();
    if (lines.size() > count) lines.erase(lines.begin(), lines.end() - count);
    for (QByteArray& line : lines)
        if (line.endsWith('\r')) line.chop(1);
    return lines;
}
