// The station's command line, run as a shell would: --help and --version answer without
// a display and without reading modbus.ini; anything else is a usage error.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include "harness.h"

namespace {

struct Outcome {
    int code = -1;
    QString out;
    QString err;
};

// No display and no platform: a station that opened its window would abort here. The
// working directory holds a modbus.ini that would stop any start-up.
Outcome runStation(const QStringList& args, const QString& dir) {
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.remove(QStringLiteral("DISPLAY"));
    env.remove(QStringLiteral("QT_QPA_PLATFORM"));
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir);
    p.start(stationPath(), args);
    if (!p.waitForFinished(60000)) return {};
    return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
            QString::fromUtf8(p.readAllStandardOutput()),
            QString::fromUtf8(p.readAllStandardError())};
}

TEST(CommandLine, HelpAndVersionAnswerWithoutWindowOrConfiguration) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Comunicacion_1", "abc"}});
    const QString here = QDir(dir.path()).canonicalPath();
    for (const char* option : {"--help", "-h"}) {
        const Outcome help = runStation({option}, dir.path());
        EXPECT_EQ(help.code, 0) << help.err.toStdString();
        for (const QString& word : {QStringLiteral("modbus.ini"), QStringLiteral("Peso.csv"), here})
            EXPECT_TRUE(help.out.contains(word))
                << word.toStdString() << " in " << help.out.toStdString();
        EXPECT_EQ(help.err, QString());
    }
    const Outcome version = runStation({"--version"}, dir.path());
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, QStringLiteral("vormelq " VORMELQ_VERSION "\n"));
    EXPECT_FALSE(QFile::exists(QDir(dir.path()).filePath("Peso.csv")));
}

TEST(CommandLine, AnythingElseIsAUsageErrorNamingTheArgument) {
    QTemporaryDir dir;
    for (const QStringList& args :
         {QStringList{"--verbose"}, QStringList{"modbus.ini"}, QStringList{"--help", "extra"}}) {
        const Outcome run = runStation(args, dir.path());
        EXPECT_EQ(run.code, 2) << args.join(' ').toStdString();
        EXPECT_EQ(run.out, QString());
        EXPECT_TRUE(run.err.startsWith("vormelq: ") && run.err.contains(args.last()))
            << run.err.toStdString();
    }
}

}  // namespace
