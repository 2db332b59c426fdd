#include "verify_command.h"

#include <QFile>

#include "change_line.h"

ChainCheck checkChain(QIODevice& record) {
    ChainCheck check;
    QByteArray previous = kChainStart;
    while (!record.atEnd()) {
        QByteArray line = record.readLine();
        if (line.endsWith('\n')) line.chop(1);
        if (line.endsWith('\r')) line.chop(1);
        ++check.lines;
        const QByteArray chain = chainField(line);
        const QByteArray body = line.left(line.size() - chain.size() - 1);
        // An edited line no longer matches its own link; a deleted one leaves the next
        // line linked to a predecessor that is not there.
        const bool linked = readChangeLine(line) && chain == chainLink(previous, body);
        if (!linked && check.firstBroken == 0) check.firstBroken = check.lines;
        previous = chain;
    }
    return check;
}
