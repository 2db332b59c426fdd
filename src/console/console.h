#pragma once

#include <QString>

// How much a line of the program's matters to whoever watches it, as syslog and systemd's
// journal rank it (sd-daemon's SD_ERR, SD_WARNING, SD_INFO).
enum class Priority { Error = 3, Warning = 4, Info = 6 };

// One line on stderr in the program's name ("vormelq: <text>"), out at once, before
// anything the caller writes to stdout next. Where stderr is systemd's journal, which
// names the program itself, the line is "<N><text>" instead: the journal files it at
// `priority` (`journalctl -p warning` shows what is wrong).
void tellUser(const QString& text, Priority priority = Priority::Info);
