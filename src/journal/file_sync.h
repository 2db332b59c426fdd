#pragma once

#include <QFileDevice>
#include <QString>

// Waits until what was written to `file` is on the disk, not only with the system:
// the order of two files' changes then survives a power cut as well as a kill.
bool syncToDisk(QFileDevice& file);

// Waits until the directory's entries (a file created, renamed or removed in it) are on
// the disk. Where the system has no such call, the entries follow the files' own syncs.
bool syncDirectory(const QString& dir);
