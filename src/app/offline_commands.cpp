#include "offline_commands.h"

#include <QGuiApplication>
#include <cstdio>

#include "command_line.h"
#include "command_options.h"
#include "console.h"
#include "cycles_command.h"
#include "plot_command.h"
#include "report_command.h"
#include "verify_command.h"

namespace {

// What was wrong with the command line, then how it is written.
int usageError(const QString& what) {
    tellUser(what);
    std::fputs(qUtf8Printable(usageText()), stderr);
    return kUsageError;
}

// Text needs a font database, which needs a GUI application; the offscreen platform
// gives one on a machine with no display at all. Qt's own notes about that machine (no
// runtime directory under cron, say) are not for whoever reads our stderr.
template <class Run>
int withFonts(const Run& run) {
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtCriticalMsg || type == QtFatalMsg) tellUser(text);
    });
    int qtArgc = 3;
    char arg0[] = "vormelq";
    char arg1[] = "-platform";
    char arg2[] = "offscreen";
    char* qtArgv[] = {arg0, arg1, arg2, nullptr};
    QGuiApplication app(qtArgc, qtArgv);
    return run();
}

int plotCommand(const QStringList& args) {
    const auto parsed = parsePlotArguments(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) return usageError(usage->message);
    return withFonts([&] { return runPlot(std::get<PlotOptions>(parsed)) ? 0 : kCommandFailed; });
}

int reportCommand(const QStringList& args) {
    const auto parsed = parseReportArguments(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) return usageError(usage->message);
    return withFonts([&] { return runReport(std::get<ReportOptions>(parsed)); });
}

int cyclesCommand(const QStringList& args) {
    const auto parsed = parseCyclesArguments(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) return usageError(usage->message);
    return runCycles(std::get<CyclesOptions>(parsed));
}

int verifyCommand(const QStringList& args) {
    const auto parsed = parseVerifyArguments(args);
    if (const auto* usage = std::get_if<UsageError>(&parsed)) return usageError(usage->message);
    return runVerify(std::get<QString>(parsed));
}

struct OfflineCommand {
    const char* option;  // anywhere on the command line, it selects the command
    int (*run)(const QStringList& args);
};

constexpr OfflineCommand kOfflineCommands[] = {
    {"--plot", plotCommand},
    {"--cycles", cyclesCommand},
    {"--verify", verifyCommand},
    {"--informe", reportCommand},
};

}  // namespace

std::optional<int> runOfflineCommand(const QStringList& args) {
    for (const OfflineCommand& command : kOfflineCommands)
        if (args.contains(QLatin1String(command.option))) return command.run(args);
    return std::nullopt;
}
