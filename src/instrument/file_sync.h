#pragma once

#include <QFileDevice>

// Waits until what was written to `file` is on the disk, not only with the system:
// the order of two files' changes then survives a power cut as well as a kill.
bool syncToDisk(QFileDevice& file);
