#include <QApplication>
#include <QDir>

#include "command_line.h"
#include "offline_commands.h"
#include "service.h"
#include "station_window.h"

int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (const auto status = runOfflineCommand(arguments.mid(1))) return *status;
    // Before the application object: --help and --version need no display.
    const CommandLine command = parseCommandLine(arguments, QDir::currentPath());
    if (command.action == CommandLine::Action::Serve) {
        // No window, no display: a core application loads no platform plugin.
        QCoreApplication app(argc, argv);
        return runService(app);
    }
    if (command.action != CommandLine::Action::Run) return answer(command);
    QApplication app(argc, argv);
    return runStation(app);
}
