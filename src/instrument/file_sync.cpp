#include "file_sync.h"

#ifdef Q_OS_WIN
#include <io.h>

bool syncToDisk(QFileDevice& file) {
    return file.flush() && _commit(file.handle()) == 0;
}
#else
#include <unistd.h>

bool syncToDisk(QFileDevice& file) {
    return file.flush() && ::fsync(file.handle()) == 0;
}
#endif
