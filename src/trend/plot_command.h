#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <optional>
#include <variant>

#include "usage_error.h"

// vormelq --plot Peso.csv -o peso.png [--from "AAAA-MM-DD HH:MM"] [--to ...] [--size WxH]
struct PlotOptions {
    QString logPath;
    QString outputPath;
    std::optional<qint64> fromMs;  // log time, as in log_parse.h
    std::optional<qint64> toMs;
    QSize size{1600, 900};
};

// The arguments after the program's name.
std::variant<PlotOptions, UsageError> parsePlotArguments(const QStringList& args);

// Draws the log as a picture without a window or the module (text needs a
// QGuiApplication). True when the picture was written; otherwise the log or the picture
// could not be read or written, and stderr says why.
bool runPlot(const PlotOptions& options);
