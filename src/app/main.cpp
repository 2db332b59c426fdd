#include <QApplication>

#include "plot_command.h"
#include "station.h"

int main(int argc, char** argv) {
    if (const auto status = runPlotCommand(argc, argv)) return *status;
    QApplication app(argc, argv);
    return runStation(app);
}
