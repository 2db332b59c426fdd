#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

// vormelq --plot Peso.csv -o peso.png [--from "AAAA-MM-DD HH:MM"] [--to ...] [--size WxH]
struct PlotOptions {
    QString logPath;
    QString outputPath;
    std::optional<qint64> fromMs;  // log time, as in log_parse.h
    std::optional<qint64> toMs;
    QSize size{1600, 900};
};

struct UsageError {
    QString message;
};

// The arguments after the program's name.
std::variant<PlotOptions, UsageError> parsePlotArguments(const QStringList& args);

// Draws the log as a picture without a window or the module: 0 when written, 1 when the
// log or the picture cannot be read or written, 2 for arguments it does not take.
// Reports on stderr.
int runPlot(const PlotOptions& options);

// For main(): the exit status when the command line (the arguments after the program's
// name) asks for a picture (--plot), nothing otherwise, so the station starts as usual.
std::optional<int> runPlotCommand(const QStringList& args);
