#include <QCoreApplication>
#include <QDir>

#include "command_line.h"
#include "service.h"

// vormelq-servicio: the station without a window on its own, as systemd starts it. It links
// no Qt Gui, so a server gets the station without a display stack.
int main(int argc, char** argv) {
    QStringList arguments;
    for (int i = 0; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    const CommandLine command = parseServiceCommandLine(arguments, QDir::currentPath());
    if (command.action != CommandLine::Action::Serve) return answer(command);
    QCoreApplication app(argc, argv);
    return runService(app);
}
