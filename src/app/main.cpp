#include <QApplication>
#include <QDir>
#include <cstdio>

#include "command_line.h"
#include "plot_command.h"
#include "station.h"

int main(int argc, char** argv) {
    if (const auto status = runPlotCommand(argc, argv)) return *status;
    // Before the application object: --help and --version need no display.
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = parseCommandLine(arguments, QDir::currentPath());
    if (command.action != CommandLine::Action::Run) {
        std::FILE* out = command.action == CommandLine::Action::Print ? stdout : stderr;
        std::fputs(command.text.toLocal8Bit().constData(), out);
        return command.exitCode;
    }
    QApplication app(argc, argv);
    return runStation(app);
}
