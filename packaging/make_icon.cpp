// Draws the program's icon from the front-panel artwork at build time:
//   vormelq-icon OUT.png SIDE
#include <QGuiApplication>
#include <QImage>
#include <QPainter>
#include <cstdio>

#include "panel_art.h"

int main(int argc, char** argv) {
    // A build machine has no display; the drawing needs none.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    const int side = argc == 3 ? QString::fromLocal8Bit(argv[2]).toInt() : 0;
    if (side <= 0) {
        std::fprintf(stderr, "usage: vormelq-icon OUT.png SIDE\n");
        return 2;
    }
    QImage image(side, side, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        panel::paintIcon(painter, side);
    }
    return image.save(QString::fromLocal8Bit(argv[1]), "PNG") ? 0 : 1;
}
