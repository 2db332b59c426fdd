#pragma once

#include <QString>

// One line on stderr in the program's name ("vormelq: <text>"), out at once, before
// anything the caller writes to stdout next.
void tellUser(const QString& text);
