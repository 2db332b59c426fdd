#include "console.h"

#include <cstdio>

#ifdef Q_OS_UNIX
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

// systemd names the stream it connected to the journal in JOURNAL_STREAM, as
// "device:inode"; a stderr redirected since (a shell in a unit's script) is not it.
bool stderrIsJournal() {
#ifdef Q_OS_UNIX
    const QByteArray stream = qgetenv("JOURNAL_STREAM");
    struct stat st {};
    if (stream.isEmpty() || ::fstat(STDERR_FILENO, &st) != 0) return false;
    return stream == QByteArray::number(static_cast<qulonglong>(st.st_dev)) + ':' +
                         QByteArray::number(static_cast<qulonglong>(st.st_ino));
#else
    return false;
#endif
}

QByteArray userLine(const QString& text, Priority priority, bool journal) {
    const QByteArray head = journal ? '<' + QByteArray::number(static_cast<int>(priority)) + '>'
                                    : QByteArrayLiteral("vormelq: ");
    return head + text.toUtf8() + '\n';
}

}  // namespace

void tellUser(const QString& text, Priority priority) {
    static const bool journal = stderrIsJournal();
    std::fputs(userLine(text, priority, journal).constData(), stderr);
    std::fflush(stderr);
}
