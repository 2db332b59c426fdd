#pragma once

#include <QList>
#include <QString>

#include "change_line.h"
#include "journal.h"

// Cambios.csv: the operator's changes on a journal of their own, each line chained to
// the one before, also across restarts: the chain goes on from the newest line the
// journal holds, whether it already reached the file or still waits.
class ChangeLog {
public:
    explicit ChangeLog(const QString& path);

    // The line as written, its chain filled in. It waits with the journal's other lines
    // when the file cannot take it.
    ChangeLine append(const ChangeLine& line);
    bool flushPending() { return journal_.flushPending(); }
    int pending() const { return journal_.pending(); }
    // The newest `count` lines, oldest first; lines that do not read as changes are left out.
    QList<ChangeLine> lastLines(int count) const;

private:
    Journal journal_;
    QByteArray chain_;
};
