#pragma once

#include <QStringList>
#include <optional>

// Commands that work on the station's files without its window or the module
// (`vormelq --plot`). The exit status when `args`, the arguments after the program's
// name, ask for one of them; nothing otherwise, so the station starts as usual.
std::optional<int> runOfflineCommand(const QStringList& args);
