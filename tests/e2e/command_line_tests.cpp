// The station's and the service's command lines as a shell runs them, with no display (a
// station that opened its window would abort) and a modbus.ini that would stop any
// start-up: --help and --version answer from what they know, the service stops with
// status 1, an offline command's file that cannot be read is status 1, anything else is a
// usage error.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>

#include "harness.h"

TEST(CommandLine, AnswersOrRefusesWithoutWindowOrConfiguration) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Comunicacion_1", "abc"}});
    const QString station = stationPath(), service = servicePath();
    const struct {
        QString program;
        QStringList args;
        int code;
        QStringList out, err;  // words in each; none: the stream stays empty
    } cases[] = {
        {station, {"--help"}, 0, {"modbus.ini", "Peso.csv", QDir(dir.path()).canonicalPath()}, {}},
        {station, {"-v"}, 0, {"vormelq " VORMELQ_VERSION "\n"}, {}},
        {station, {"--verbose"}, 2, {}, {"vormelq: ", "--verbose", "--plot"}},
        {station, {"modbus.ini"}, 2, {}, {"vormelq: ", "modbus.ini"}},
        {station, {"--help", "extra"}, 2, {}, {"vormelq: ", "extra"}},
        {station, {"--servicio", "extra"}, 2, {}, {"vormelq: ", "extra", "--servicio"}},
        // The service's start-up failure: one line naming key and value, nothing waits.
        {station, {"--servicio"}, 1, {}, {"vormelq: ", "Comunicacion_1", "abc"}},
        {station, {"--verify"}, 2, {}, {"vormelq: ", "--verify Cambios.csv"}},
        // A file that cannot be read is status 1 for every offline command.
        {station, {"--verify", "nada.csv"}, 1, {}, {"vormelq: no se puede leer nada.csv"}},
        {station, {"--verify", "."}, 1, {}, {"vormelq: no se puede leer ."}},
        {station,
         {"--cycles", "nada.csv", "--zero-band", "2", "--fine", "9"},
         1,
         {},
         {"vormelq: no se puede leer nada.csv"}},
        // Not a log: no line reads.
        {station,
         {"--cycles", "modbus.ini", "--zero-band", "2", "--fine", "9", "--target", "100"},
         1,
         {},
         {"vormelq: ", "modbus.ini no tiene ninguna lectura legible"}},
        // The service's own program: no argument is the service, which fails the same way.
        {service, {"--version"}, 0, {"vormelq-servicio " VORMELQ_VERSION "\n"}, {}},
        {service, {"-h"}, 0, {"modbus.ini", QDir(dir.path()).canonicalPath()}, {}},
        {service, {"--servicio"}, 2, {}, {"vormelq-servicio: ", "--servicio", "--version"}},
        {service, {}, 1, {}, {"vormelq: ", "Comunicacion_1", "abc"}},
    };
    for (const auto& c : cases) {
        const auto [status, out, err] = runCommand(c.program, c.args, dir.path(), {}, 60000);
        const std::string args =
            (QFileInfo(c.program).fileName() + ' ' + c.args.join(' ')).toStdString();
        EXPECT_EQ(status, c.code) << args;
        EXPECT_EQ(out.isEmpty(), c.out.isEmpty()) << args << ": " << out.toStdString();
        EXPECT_EQ(err.isEmpty(), c.err.isEmpty()) << args << ": " << err.toStdString();
        for (const QString& word : c.out) EXPECT_TRUE(out.contains(word)) << args;
        for (const QString& word : c.err) EXPECT_TRUE(err.contains(word)) << args;
    }
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("Peso.csv")));
}
