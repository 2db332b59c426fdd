#include <QApplication>

#include "station.h"

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    return runStation(app);
}
