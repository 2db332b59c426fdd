#include "plot_command.h"

#include <gtest/gtest.h>

#include <QFile>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>

#include "chart_render.h"
#include "harness.h"

namespace {

// The real executable, as a user runs it: no display, no modbus.ini, no module; in the
// plant's locale unless `lang` names another.
CommandRun plot(const QStringList& args, const QString& dir, const QString& lang = {}) {
    return runCommand(stationPath(), args, dir,
                      lang.isEmpty() ? QStringList{} : QStringList{QStringLiteral("LANG=") + lang});
}

void write(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

}  // namespace

TEST(PlotCommand, DrawsALogWithBrokenLinesAndSaysWhichWereSkipped) {
    QTemporaryDir dir;
    QByteArray log;
    for (int s = 0; s < 40; ++s) {
        log += QStringLiteral("07.12.26;08:00:%1;%2;0,0;%2\r\n")
                   .arg(s, 2, 10, QLatin1Char('0'))
                   .arg(QString::number(s * 2.5, 'f', 1).replace('.', ','))
                   .toLatin1();
        if (s == 3) log += "07.12.26;08:00:0\r\n";
        if (s == 9) log += "not a reading\r\n";
    }
    write(dir.filePath("Peso.csv"), log);

    const CommandRun png =
        plot({"--plot", "Peso.csv", "-o", "peso.png", "--size", "800x500"}, dir.path());
    EXPECT_EQ(png.status, 0) << png.err.toStdString();
    EXPECT_TRUE(png.err.contains("2 líneas ilegibles")) << png.err.toStdString();
    EXPECT_TRUE(png.err.contains("línea 5")) << png.err.toStdString();
    const QImage image(dir.filePath("peso.png"));
    EXPECT_EQ(image.size(), QSize(800, 500));

    // The labels are text, in the file's decimals and the locale's separator.
    for (const auto& [lang, label] : {std::pair("es_ES.UTF-8", "97,5"), {"C.UTF-8", "97.5"}}) {
        const CommandRun svg = plot({"--plot", "Peso.csv", "-o", "peso.svg", "--from",
                                     "2026-12-07 08:00", "--to", "2026-12-07 08:01"},
                                    dir.path(), QString::fromLatin1(lang));
        EXPECT_EQ(svg.status, 0) << svg.err.toStdString();
        QFile file(dir.filePath("peso.svg"));
        ASSERT_TRUE(file.open(QIODevice::ReadOnly));
        const QByteArray text = file.readAll();
        EXPECT_TRUE(text.contains("<svg")) << text.left(200).constData();
        EXPECT_TRUE(text.contains(label)) << "last value label under " << lang;
    }
}

TEST(PlotCommand, RefusesWhatItCannotDrawWithAReasonAndAStatus) {
    QTemporaryDir dir;
    write(dir.filePath("empty.csv"), "");
    write(dir.filePath("junk.csv"), "a;b;c\r\n\r\nnothing here\r\n");
    write(dir.filePath("one.csv"), "7/12/26;8:00:00;1,0;0,0;1,0\r\n");
    struct Case {
        QStringList args;
        int status;
        const char* says;
    } cases[] = {
        {{"--plot", "empty.csv", "-o", "x.png"}, 1, "ninguna lectura legible"},
        {{"--plot", "junk.csv", "-o", "x.png"}, 1, "ninguna lectura legible"},
        {{"--plot", "missing.csv", "-o", "x.png"}, 1, "no se puede leer missing.csv"},
        {{"--plot", "one.csv", "-o", "x.png", "--from", "2027-01-01 00:00"},
         1,
         "no tiene lecturas"},
        {{"--plot", "one.csv", "-o", "nodir/x.png"}, 1, "no se puede escribir"},
        {{"--plot", "one.csv"}, 2, "falta -o"},
        {{"--plot", "one.csv", "-o", "x.jpg"}, 2, ".png o .svg"},
        {{"--plot", "one.csv", "-o", "x.png", "--size", "big"}, 2, "tamaño no válido"},
        {{"--plot", "one.csv", "-o", "x.png", "--from", "7/12/26"}, 2, "AAAA-MM-DD HH:MM"},
        {{"--plot", "one.csv", "-o", "x.png", "--colour", "red"}, 2, "opción desconocida"},
    };
    for (const Case& c : cases) {
        const CommandRun r = plot(c.args, dir.path());
        EXPECT_EQ(r.status, c.status) << c.args.join(' ').toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.says))) << r.err.toStdString();
    }
    EXPECT_FALSE(QFile::exists(dir.filePath("x.png")));

    // A single reading still makes a picture.
    EXPECT_EQ(plot({"--plot", "one.csv", "-o", "x.png"}, dir.path()).status, 0);
    EXPECT_TRUE(QFile::exists(dir.filePath("x.png")));
}

TEST(PlotCommand, ArgumentsTakeTheirForms) {
    const auto parsed = parsePlotArguments(
        {"--plot", "a.csv", "-o", "b.SVG", "--from", "2026-12-07 08:30", "--size", "1024X768"});
    ASSERT_TRUE(std::holds_alternative<PlotOptions>(parsed));
    const auto& o = std::get<PlotOptions>(parsed);
    EXPECT_EQ(o.size, QSize(1024, 768));
    ASSERT_TRUE(o.fromMs);
    EXPECT_EQ(*o.fromMs % 86400000, (8 * 60 + 30) * 60000);
    EXPECT_FALSE(o.toMs);
    EXPECT_TRUE(std::holds_alternative<UsageError>(
        parsePlotArguments({"--plot", "a.csv", "-o", "b.png", "--from", "2026-12-07 09:00", "--to",
                            "2026-12-07 08:00"})));
}

// The PNG is written by hand (row by row, the channels reordered): read back, it holds
// every pixel of the picture as drawn, in colour.
TEST(PlotCommand, ThePngHoldsThePixelsDrawn) {
    ChartInput input;
    for (int i = 0; i < 50; ++i) {
        const double w = i % 7 * 12.5;
        input.buckets.push_back(
            {i * 1000LL, i * 1000LL, w, w + 3, w, w + 3, w / 2, w / 2, w / 2, w / 2, 1, i == 20});
    }
    input.toMs = 49000;
    input.decimals = 1;
    input.caption = QStringLiteral("Peso.csv");
    const QSize size(640, 360);
    QImage drawn(size, QImage::Format_RGB32);
    drawn.fill(Qt::white);
    {
        QPainter painter(&drawn);
        drawChart(painter, drawn.rect(), input);
    }
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("peso.png"));
    ASSERT_EQ(saveChart(path, size, input), QString());
    const QImage read = QImage(path).convertToFormat(QImage::Format_RGB32);
    ASSERT_EQ(read.size(), size);
    EXPECT_TRUE(read == drawn);
}
