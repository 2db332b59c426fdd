#pragma once

#include <QString>
#include <QStringList>

// What the command line asks of the station. The station itself takes no arguments
// (everything it needs is in modbus.ini), so the only requests are the informative
// ones, answered without a window and without reading any file.
struct CommandLine {
    enum class Action { Run, Print, Refuse };
    Action action = Action::Run;
    QString text;  // Print: for stdout; Refuse: for stderr
    int exitCode = 0;
};

// Usage errors follow the shell's convention, apart from the station's own failures
// (status 1).
constexpr int kUsageError = 2;

// The usage lines, one text for the help, the station's refusal and the offline
// commands' usage errors.
QString usageText();

// `arguments` as the process got them, program name first; `workingDir` is where
// modbus.ini is read and Peso.csv written, for the help text.
CommandLine parseCommandLine(const QStringList& arguments, const QString& workingDir);
