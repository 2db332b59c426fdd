#pragma once

#include <QString>
#include <QStringList>

#include "command_options.h"

// What the command line asks of the station. The station itself takes no arguments
// (everything it needs is in modbus.ini): the requests are the informative ones,
// answered without a window and without reading any file, and the station without a
// window (Serve).
struct CommandLine {
    enum class Action { Run, Serve, Print, Refuse };
    Action action = Action::Run;
    QString text;  // Print: for stdout; Refuse: for stderr
    int exitCode = 0;
};

// The usage lines, one text for the help, the station's refusal and the offline
// commands' usage errors.
QString usageText();

// `arguments` as the process got them, program name first; `workingDir` is where
// modbus.ini is read and Peso.csv written, for the help text.
CommandLine parseCommandLine(const QStringList& arguments, const QString& workingDir);

// vormelq-servicio's: the station without a window when given no argument, which is how
// systemd starts it; --help and --version as the station's.
CommandLine parseServiceCommandLine(const QStringList& arguments, const QString& workingDir);

// A Print or Refuse answered on its stream; the exit status.
int answer(const CommandLine& command);
