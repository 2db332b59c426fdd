#include "file_sync.h"

#ifdef Q_OS_WIN
#include <io.h>

bool syncToDisk(QFileDevice& file) {
    return file.flush() && _commit(file.handle()) == 0;
}

bool syncDirectory(const QString&) {
    return true;
}
#else
#include <fcntl.h>
#include <unistd.h>

#include <QFile>

bool syncToDisk(QFileDevice& file) {
    return file.flush() && ::fsync(file.handle()) == 0;
}

bool syncDirectory(const QString& dir) {
    const int fd = ::open(QFile::encodeName(dir).constData(), O_RDONLY | O_DIRECTORY);
    if (fd < 0) return false;
    const bool synced = ::fsync(fd) == 0;
    ::close(fd);
    return synced;
}
#endif
