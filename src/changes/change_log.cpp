#include "change_log.h"

ChangeLog::ChangeLog(const QString& path) : journal_(path), chain_(kChainStart) {
    // Whatever the newest line is, the next one links to its last field: a line the
    // station cannot read is still part of the chain a verifier walks.
    const QByteArrayList last = journal_.newestLines(1);
    if (!last.isEmpty()) chain_ = chainField(last.front());
}

ChangeLine ChangeLog::append(const ChangeLine& line) {
    const QByteArray text = changeLineText(line, chain_);
    journal_.append(text);
    // Read back, so what the station shows and publishes is what the file says.
    ChangeLine written = *readChangeLine(text);
    written.when = line.when;
    chain_ = written.chain;
    return written;
}

QList<ChangeLine> ChangeLog::lastLines(int count) const {
    QList<ChangeLine> lines;
    for (const QByteArray& text : journal_.newestLines(count))
        if (auto line = readChangeLine(text)) lines << *line;
    return lines;
}
