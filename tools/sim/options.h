#pragma once

#include <QStringList>
#include <optional>

#include "simulator.h"

namespace sim {

// Parses the command line (arguments()[0] is the program). On an error or --help
// returns nothing and sets `message` (and `exitCode`: 0 for --help, 2 for errors).
std::optional<SimOptions> parseOptions(const QStringList& arguments, QString* message,
                                       int* exitCode);

}  // namespace sim
