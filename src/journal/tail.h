#pragma once

#include <QByteArrayList>
#include <QString>

// The last `count` lines of a file of lines (CR LF or LF), without their line ends,
// oldest first. Read backwards from the end in blocks, so a record of years costs what
// its last lines do. A missing or unreadable file has none.
QByteArrayList lastLines(const QString& path, int count);
