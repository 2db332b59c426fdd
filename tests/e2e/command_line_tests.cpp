// The station's command line as a shell runs it, with no display (a station that opened
// its window would abort) and a modbus.ini that would stop any start-up: --help and
// --version answer from what they know, the service stops with status 1, an offline
// command's file that cannot be read is status 1, anything else is a usage error.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "harness.h"

TEST(CommandLine, AnswersOrRefusesWithoutWindowOrConfiguration) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Comunicacion_1", "abc"}});
    const struct {
        QStringList args;
        int code;
        QStringList out, err;  // words in each; none: the stream stays empty
    } cases[] = {
        {{"--help"}, 0, {"modbus.ini", "Peso.csv", QDir(dir.path()).canonicalPath()}, {}},
        {{"-v"}, 0, {"vormelq " VORMELQ_VERSION "\n"}, {}},
        {{"--verbose"}, 2, {}, {"vormelq: ", "--verbose", "--plot"}},
        {{"modbus.ini"}, 2, {}, {"vormelq: ", "modbus.ini"}},
        {{"--help", "extra"}, 2, {}, {"vormelq: ", "extra"}},
        {{"--servicio", "extra"}, 2, {}, {"vormelq: ", "extra", "--servicio"}},
        // The service's start-up failure: one line naming key and value, nothing waits.
        {{"--servicio"}, 1, {}, {"vormelq: ", "Comunicacion_1", "abc"}},
        {{"--verify"}, 2, {}, {"vormelq: ", "--verify Cambios.csv"}},
        // A file that cannot be read is status 1 for every offline command.
        {{"--verify", "nada.csv"}, 1, {}, {"vormelq: no se puede leer nada.csv"}},
        {{"--verify", "."}, 1, {}, {"vormelq: no se puede leer ."}},
        {{"--cycles", "nada.csv", "--zero-band", "2", "--fine", "9"},
         1,
         {},
         {"vormelq: no se puede leer nada.csv"}},
        // Not a log: no line reads.
        {{"--cycles", "modbus.ini", "--zero-band", "2", "--fine", "9", "--target", "100"},
         1,
         {},
         {"vormelq: ", "modbus.ini no tiene ninguna lectura legible"}},
    };
    for (const auto& c : cases) {
        QProcess p;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("DISPLAY"));
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        p.setProcessEnvironment(env);
        p.setWorkingDirectory(dir.path());
        p.start(stationPath(), c.args);
        ASSERT_TRUE(p.waitForFinished(60000));
        const QString out = QString::fromUtf8(p.readAllStandardOutput());
        const QString err = QString::fromUtf8(p.readAllStandardError());
        const std::string args = c.args.join(' ').toStdString();
        EXPECT_EQ(p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, c.code) << args;
        EXPECT_EQ(out.isEmpty(), c.out.isEmpty()) << args << ": " << out.toStdString();
        EXPECT_EQ(err.isEmpty(), c.err.isEmpty()) << args << ": " << err.toStdString();
        for (const QString& word : c.out) EXPECT_TRUE(out.contains(word)) << args;
        for (const QString& word : c.err) EXPECT_TRUE(err.contains(word)) << args;
    }
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("Peso.csv")));
}
