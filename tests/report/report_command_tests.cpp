// `vormelq --informe` as a shell runs it, on records written here by hand, as no station
// wrote them: the figures it prints against a count made here, the summary table field by
// field, the shift it picks when none is asked for, and its exit statuses.
#include <gtest/gtest.h>

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <algorithm>
#include <cmath>
#include <map>

#include "harness.h"

namespace {

// The real executable with no display, in the plant's locale; `environment` on top.
CommandRun report(const QStringList& args, const QString& dir,
                  const QStringList& environment = {}) {
    return runCommand(stationPath(), QStringList{"--informe"} + args, dir, environment);
}

std::vector<std::string> fields(const QString& line) {
    std::vector<std::string> out;
    for (const QString& field : line.split(';')) out.push_back(field.toStdString());
    return out;
}

QString pdfText(const QString& path) {
    QProcess p;
    p.start(QStringLiteral("pdftotext"), {"-layout", path, "-"});
    EXPECT_TRUE(p.waitForFinished(60000)) << "pdftotext: install poppler-utils";
    return QString::fromUtf8(p.readAllStandardOutput());
}

void writeLines(const QString& path, const QStringList& lines) {
    QDir().mkpath(QFileInfo(path).path());
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    for (const QString& line : lines) f.write(line.toUtf8() + "\r\n");
}

// Numbers as a Spanish spreadsheet writes them, ungrouped.
QString decimal(double v, int places) {
    QString text = QString::number(v, 'f', places).replace('.', ',');
    if (text.startsWith('-') && text.count('0') + 2 == text.size()) text.remove(0, 1);
    return text;
}

// One dose as the record's line has it, and what it is of.
struct Dose {
    QString date, start, end;
    double target, final;  // final < 0: Incompleta
    QString product, lot;
    bool traced = true;  // false: a nine-field line, from a station without products
};

struct Module {
    int places = 1;
    double tolerance = 0;  // percent
    std::vector<Dose> doses;
};

QString result(const Dose& d, double tolerance) {
    if (d.final < 0) return "Incompleta";
    const double off = std::round((d.final - d.target) * 1000) / 1000;
    if (tolerance <= 0) return "Hecha";
    if (std::abs(off) <= d.target * tolerance / 100 + 1e-9) return "OK";
    return off < 0 ? "Falta" : "Exceso";
}

QStringList doseLines(const Module& m, const std::map<QString, double>& tolerances) {
    QStringList lines;
    for (const Dose& d : m.doses) {
        const double tol = tolerances.count(d.product) ? tolerances.at(d.product) : m.tolerance;
        const bool done = d.final >= 0;
        QStringList f{d.date,
                      d.start,
                      d.end,
                      decimal(d.target, m.places),
                      decimal(d.target * 0.9, m.places),
                      decimal(d.target * 0.02, m.places),
                      done ? decimal(d.final, m.places) : "",
                      done ? decimal(d.final - d.target, m.places) : "",
                      result(d, tol)};
        if (d.traced) f << d.product << d.lot;
        lines << f.join(';');
    }
    return lines;
}

// The summary line a group of doses should have, computed the plain way in whole display
// steps: two passes, the sample deviation over n - 1, Cpk against theoretical ± tolerance.
QStringList expectedLine(int module, const QString& name, const QString& product,
                         const QString& lot, const std::vector<Dose>& doses, int places,
                         double tolerance) {
    const double unit = std::pow(10.0, places);
    std::vector<long long> finals;
    int incomplete = 0, below = 0, above = 0;
    long long sum = 0, off = 0;
    for (const Dose& d : doses) {
        if (d.final < 0) {
            ++incomplete;
            continue;
        }
        finals.push_back(std::llround(d.final * unit));
        sum += finals.back();
        off += finals.back() - std::llround(d.target * unit);
        below += result(d, tolerance) == "Falta";
        above += result(d, tolerance) == "Exceso";
    }
    const double n = double(finals.size());
    const double mean = double(sum) / n / unit;
    double squares = 0;
    for (long long v : finals) squares += (v / unit - mean) * (v / unit - mean);
    const double s = std::sqrt(squares / (n - 1));
    const double target = doses.front().target;
    const double reach = target * tolerance / 100;
    const QString cpk =
        tolerance > 0
            ? decimal(std::min(target + reach - mean, mean - (target - reach)) / (3 * s), 2)
            : QString();
    return {QString::number(module),
            name,
            product,
            lot,
            QString::number(finals.size()),
            QString::number(incomplete),
            decimal(sum / unit, places),
            decimal(mean, places + 2),
            decimal(s, places + 2),
            decimal(*std::min_element(finals.begin(), finals.end()) / unit, places),
            decimal(*std::max_element(finals.begin(), finals.end()) / unit, places),
            decimal(double(off) / n / unit, places + 2),
            QString::number(below),
            decimal(100.0 * below / n, 1),
            QString::number(above),
            decimal(100.0 * above / n, 1),
            cpk};
}

// `count` doses from `firstSecond` of 8/12/26, 40 s apart, finals spread around the target
// with some off it, about one in nine incomplete.
std::vector<Dose> doses(int count, int firstSecond, double target, int places,
                        const QString& product, const QString& lot, unsigned draw,
                        bool traced = true) {
    std::vector<Dose> out;
    const double step = std::pow(10.0, -places);
    for (int i = 0; i < count; ++i) {
        draw = draw * 1103515245u + 12345u;
        const int offSteps = int((draw >> 16) % 21) - 10;  // -10..10 steps
        const QTime t = QTime(0, 0).addSecs(firstSecond + 40 * i);
        const bool incomplete = (draw >> 8) % 9 == 0;
        out.push_back({"8/12/26", t.toString("H:mm:ss"), t.addSecs(30).toString("H:mm:ss"), target,
                       incomplete ? -1 : std::round((target + offSteps * step * 3) / step) * step,
                       product, lot, traced});
    }
    return out;
}

QString chained(const QStringList& bodies, QStringList* lines) {
    QByteArray previous = "0000000000000000";
    for (const QString& body : bodies) {
        previous =
            QCryptographicHash::hash(previous + ';' + body.toUtf8(), QCryptographicHash::Sha256)
                .toHex()
                .left(16);
        *lines << body + ';' + QString::fromLatin1(previous);
    }
    return {};
}

}  // namespace

TEST(ReportCommand, FiguresOfThreeModulesMatchACountMadeHere) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Modulos", "3"},
                          {"Nombre_1", "Envasadora"},
                          {"Nombre_2", "Mezcladora"},
                          {"Decimales_1", "1"},
                          {"Decimales_3", "2"},
                          {"ID_2", "2"},
                          {"ID_3", "3"},
                          {"Tolerancia_1", "0,5"},
                          {"Tolerancia_3", "1"}});
    // Harina has its own tolerance; Sal takes the module's.
    writeLines(dir.filePath("Productos.csv"),
               {"nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia",
                "Harina;0,5;22,5;0,5;25,0;100;0,4", "Sal;0,5;9,0;0,2;10,0;100;"});
    const std::map<QString, double> tolerances{{"Harina", 0.4}};

    Module one{1, 0.5, {}};
    for (auto part :
         {doses(13, 6 * 3600, 25.0, 1, "Harina", "L1", 1),
          doses(17, 7 * 3600, 25.0, 1, "Harina", "L2", 2),
          doses(11, 8 * 3600, 10.0, 1, "Sal", "L2", 3), doses(7, 9 * 3600, 10.0, 1, "", "L3", 4)})
        one.doses.insert(one.doses.end(), part.begin(), part.end());
    // Before and after the period: in no figure.
    const auto outside = doses(3, 5 * 3600, 25.0, 1, "Harina", "L1", 5);
    const auto late = doses(3, 15 * 3600, 25.0, 1, "Harina", "L1", 6);
    Module oneWritten = one;
    oneWritten.doses.insert(oneWritten.doses.begin(), outside.begin(), outside.end());
    oneWritten.doses.insert(oneWritten.doses.end(), late.begin(), late.end());
    writeLines(dir.filePath("Dosificaciones.csv"), doseLines(oneWritten, tolerances));

    // Module 2: one lot planned for 6 doses, set before the period began.
    Module two{1, 0.5, doses(19, 10 * 3600, 25.0, 1, "Harina", "L5", 7)};
    const auto early = doses(2, 5 * 3600 + 1800, 25.0, 1, "Harina", "L5", 8);
    Module twoWritten = two;
    twoWritten.doses.insert(twoWritten.doses.begin(), early.begin(), early.end());
    writeLines(dir.filePath("Modulo2/Dosificaciones.csv"), doseLines(twoWritten, tolerances));
    int lotDone = 0;
    QString lotEnd;
    for (const Dose& d : twoWritten.doses)
        if (d.final >= 0 && ++lotDone == 6) lotEnd = d.end;
    QStringList changes;
    chained({"8/12/26;5:20:00;ana;pc1;Lote;;L5;;Anotado",
             "8/12/26;5:20:00;ana;pc1;Dosis planificadas;;6;;Anotado",
             "8/12/26;10:05:00;ana;pc1;Teórico;25,0;25,5;3=255;Enviado",
             "8/12/26;10:06:00;ana;pc1;Teórico;25,5;25,0;3=250;Enviado"},
            &changes);
    changes[2].replace("25,5;3=255", "25,6;3=256");  // edited by hand
    writeLines(dir.filePath("Modulo2/Cambios.csv"), changes);
    // Module 1: enough changes for their table to go on over pages.
    QStringList oneBodies{"8/12/26;6:30:00;luis;pc2;Fino;0,5;0,6;2=6;Enviado"};
    for (int i = 0; i < 120; ++i)
        oneBodies << QStringLiteral("8/12/26;7:%1:00;luis;pc2;Dato;;%2;8=%2 9=0;Enviado")
                         .arg(i % 60, 2, 10, QChar(u'0'))
                         .arg(i);
    QStringList oneChanges;
    chained(oneBodies, &oneChanges);
    writeLines(dir.filePath("Cambios.csv"), oneChanges);

    // Module 3: a station without products, two decimals, its own tolerance.
    Module three{2, 1.0, doses(23, 11 * 3600, 5.0, 2, "", "", 9, false)};
    writeLines(dir.filePath("Modulo3/Dosificaciones.csv"), doseLines(three, tolerances));

    const CommandRun run =
        report({dir.path(), "--desde", "2026-12-08 06:00", "--hasta", "2026-12-08 14:00", "-o",
                dir.filePath("informe.pdf"), "--csv", dir.filePath("resumen.csv")},
               dir.path());
    ASSERT_EQ(run.status, 0) << run.err.toStdString();

    const auto group = [](const Module& m, const QString& product, const QString& lot) {
        std::vector<Dose> out;
        for (const Dose& d : m.doses)
            if (d.product == product && d.lot == lot) out.push_back(d);
        return out;
    };
    const QList<QStringList> expected{
        expectedLine(1, "Envasadora", "Harina", "L1", group(one, "Harina", "L1"), 1, 0.4),
        expectedLine(1, "Envasadora", "Harina", "L2", group(one, "Harina", "L2"), 1, 0.4),
        expectedLine(1, "Envasadora", "Sal", "L2", group(one, "Sal", "L2"), 1, 0.5),
        expectedLine(1, "Envasadora", "", "L3", group(one, "", "L3"), 1, 0.5),
        expectedLine(2, "Mezcladora", "Harina", "L5", group(two, "Harina", "L5"), 1, 0.4),
        expectedLine(3, "Módulo 3", "", "", three.doses, 2, 1.0),
    };
    QFile csv(dir.filePath("resumen.csv"));
    ASSERT_TRUE(csv.open(QIODevice::ReadOnly));
    const QByteArray table = csv.readAll();
    EXPECT_TRUE(table.endsWith("\r\n"));
    QStringList rows = QString::fromUtf8(table).split("\r\n", Qt::SkipEmptyParts);
    ASSERT_EQ(rows.size(), expected.size() + 1) << table.toStdString();
    for (qsizetype i = 0; i < expected.size(); ++i)
        EXPECT_EQ(fields(rows[i + 1]), fields(expected[i].join(';'))) << "line " << i + 2;

    // The PDF prints the same figures, a row each lot under its module's and product's
    // headings.
    const QString text = pdfText(dir.filePath("informe.pdf"));
    const QStringList modules{"Módulo 1: Envasadora", "Módulo 1: Envasadora",
                              "Módulo 1: Envasadora", "Módulo 1: Envasadora",
                              "Módulo 2: Mezcladora", "Módulo 3: Módulo 3"};
    const QStringList products{"Harina: teórico 25,0 kg, tolerancia ± 0,40 %",
                               "Harina: teórico 25,0 kg, tolerancia ± 0,40 %",
                               "Sal: teórico 10,0 kg, tolerancia ± 0,50 %",
                               "sin producto: teórico 10,0 kg, tolerancia ± 0,50 %",
                               "Harina: teórico 25,0 kg, tolerancia ± 0,40 %",
                               "sin producto: teórico 5,00 kg, tolerancia ± 1,00 %"};
    const auto withPercent = [](const QString& count, const QString& percent) {
        return count == "0" ? count : count + " (" + percent + " %)";
    };
    for (qsizetype i = 0; i < expected.size(); ++i) {
        const QStringList& e = expected[i];
        const QString lot = e[3].isEmpty() ? "sin lote" : e[3];
        const QString row = QStringList{lot,
                                        e[4],
                                        e[5],
                                        e[6],
                                        e[7],
                                        e[8],
                                        e[9],
                                        e[10],
                                        e[11],
                                        withPercent(e[12], e[13]),
                                        withPercent(e[14], e[15]),
                                        e[16].isEmpty() ? "—" : e[16]}
                                .join(' ');
        const qsizetype module = text.indexOf(modules[i]);
        const qsizetype product = text.indexOf(products[i], module);
        ASSERT_GE(module, 0) << modules[i].toStdString();
        ASSERT_GE(product, 0) << products[i].toStdString();
        QString found;
        for (const QString& line : text.mid(product).split('\n'))
            if (line.simplified().startsWith(lot + ' ')) {
                found = line.simplified();
                break;
            }
        EXPECT_EQ(found.toStdString(), row.toStdString()) << products[i].toStdString();
    }
    for (const QString& words :
         {QString("Módulo 1: Envasadora"), QString("Módulo 2: Mezcladora (Modulo2)"),
          QString("Módulo 3: Módulo 3 (Modulo3)"),
          QString("Cambios.csv: cadena completa, 121 líneas"),
          QString("Modulo2/Cambios.csv: la cadena se rompe en la línea 3"), QString("Página 1 de "),
          QString("Cpk: cuántas veces")})
        EXPECT_TRUE(text.contains(words)) << words.toStdString();
    // The lot completed in the period, where its sixth complete dose ended.
    const qsizetype lots = text.indexOf("Lotes completados", text.indexOf("Módulo 2"));
    EXPECT_TRUE(text.mid(lots, 400).simplified().contains("L5 Harina 6 8/12/26 " +
                                                          lotEnd.left(lotEnd.lastIndexOf(':'))))
        << text.mid(lots, 400).toStdString();
    // The period's changes, the one before it left out.
    EXPECT_TRUE(text.simplified().contains("8/12/26 10:05 ana Teórico 25,0 25,6 Enviado"))
        << text.toStdString();
    EXPECT_TRUE(text.simplified().contains("8/12/26 6:30 luis Fino 0,5 0,6 Enviado"));
    EXPECT_FALSE(text.contains("8/12/26 5:20")) << "a change before the period";
    // Each page the changes go on to opens with their header.
    int pagesOfChanges = 0;
    for (const QString& page : text.split(u'\f'))
        if (page.contains(" luis ")) {
            ++pagesOfChanges;
            EXPECT_TRUE(page.simplified().contains("Hora Usuario Campo Antes Valor Resultado"))
                << page.toStdString();
        }
    EXPECT_GE(pagesOfChanges, 2);
}

namespace {

// libfaketime's clock for the process: it starts at `when` (local time) and runs on.
QStringList clockAt(const QString& when) {
    for (const QString& dir : QDir(QStringLiteral("/usr/lib")).entryList(QDir::Dirs)) {
        const QString library = QStringLiteral("/usr/lib/%1/faketime/libfaketimeMT.so.1").arg(dir);
        if (QFile::exists(library))
            return {"LD_PRELOAD=" + library, "FAKETIME=@" + when,
                    // The sanitizer's runtime need not come first: the clock's library does.
                    "ASAN_OPTIONS=verify_asan_link_order=0"};
    }
    return {};
}

QString csvCount(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return "no table";
    const QStringList rows = QString::fromUtf8(f.readAll()).split("\r\n", Qt::SkipEmptyParts);
    return rows.size() == 2 ? rows[1].section(';', 4, 4) : "rows: " + QString::number(rows.size());
}

}  // namespace

TEST(ReportCommand, TakesTheLastShiftEndedAcrossMidnightUnlessTold) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Decimales_1", "1"}});
    addIniSection(
        dir.path(), "Turnos",
        {{"Turno1", "06:00-14:00"}, {"Turno2", "14:00-22:00"}, {"Turno3", "22:00-06:00"}});
    // One dose just before the night shift, three in it (one ends past midnight), one
    // just after.
    writeLines(dir.filePath("Dosificaciones.csv"),
               {"7/12/26;21:59:50;22:00:20;25,0;22,5;0,5;25,0;0,0;Hecha",
                "7/12/26;22:00:00;22:00:30;25,0;22,5;0,5;25,1;0,1;Hecha",
                "7/12/26;23:59:50;0:00:20;25,0;22,5;0,5;24,9;-0,1;Hecha",
                "8/12/26;5:59:59;6:00:29;25,0;22,5;0,5;25,0;0,0;Hecha",
                "8/12/26;6:00:00;6:00:30;25,0;22,5;0,5;25,0;0,0;Hecha"});
    const QStringList clock = clockAt("2026-12-08 07:30:00");
    ASSERT_FALSE(clock.isEmpty()) << "libfaketime is missing: install the Debian package faketime";
    const QString csv = dir.filePath("r.csv");
    const struct {
        QStringList args;
        QString count;
        QString period;
    } cases[] = {
        {{}, "3", "Turno 3: del 7/12/26 22:00 al 8/12/26 6:00"},
        {{"--turno", "2"}, "1", "Turno 2: del 7/12/26 14:00 al 7/12/26 22:00"},
        // The morning shift still under way: its last end was yesterday's.
        {{"--turno", "1"}, "", "Turno 1: del 7/12/26 6:00 al 7/12/26 14:00"},
    };
    for (const auto& c : cases) {
        QFile::remove(csv);
        const CommandRun run =
            report(QStringList{dir.path(), "-o", dir.filePath("r.pdf"), "--csv", csv} + c.args,
                   dir.path(), clock);
        const std::string what = c.args.join(' ').toStdString();
        if (c.count.isEmpty()) {
            EXPECT_EQ(run.status, 1) << what;
            EXPECT_TRUE(
                run.err.contains("ninguna dosificación ni cambio en el periodo (" + c.period + ")"))
                << run.err.toStdString();
            continue;
        }
        ASSERT_EQ(run.status, 0) << what << run.err.toStdString();
        EXPECT_EQ(csvCount(csv), c.count) << what;
        EXPECT_TRUE(pdfText(dir.filePath("r.pdf")).contains(c.period)) << what;
    }
    // Without shifts: the last 24 hours, every dose here.
    writeIni(dir.path(), {{"Decimales_1", "1"}});
    ASSERT_EQ(
        report({dir.path(), "-o", dir.filePath("r.pdf"), "--csv", csv}, dir.path(), clock).status,
        0);
    EXPECT_EQ(csvCount(csv), "5");
}

TEST(ReportCommand, SaysWhatIsWrongWithItsStatus) {
    QTemporaryDir dir;
    writeIni(dir.path(), {{"Decimales_1", "1"}});
    writeLines(dir.filePath("Dosificaciones.csv"),
               {"8/12/26;6:00:00;6:00:30;25,0;22,5;0,5;25,0;0,0;Hecha", "no es una dosis"});
    QDir(dir.path()).mkpath("Modulo2/Dosificaciones.csv");  // cannot be read as a file
    const QString day[] = {"--desde", "2026-12-08 00:00", "--hasta", "2026-12-09 00:00"};
    const QStringList period(std::begin(day), std::end(day));
    // A module's record that cannot be read stops the report, naming it.
    const CommandRun unreadable = report(period, dir.path());
    EXPECT_EQ(unreadable.status, 1);
    EXPECT_TRUE(unreadable.err.contains("no se puede leer Modulo2/Dosificaciones.csv"))
        << unreadable.err.toStdString();
    EXPECT_FALSE(QFile::exists(dir.filePath("informe.pdf")));
    QDir(dir.path()).rmdir("Modulo2/Dosificaciones.csv");
    const struct {
        QStringList args;
        int status;
        QString err;
    } cases[] = {
        {period + QStringList{"-o", "x/informe.pdf"}, 1, "no se puede escribir x/informe.pdf"},
        {QStringList{"--desde", "2020-01-01", "--hasta", "2020-01-02"}, 1, "ninguna dosificación"},
        {QStringList{"--turno", "2"}, 1, "modbus.ini no tiene Turno2"},
        {QStringList{"--desde", "ayer"}, 2, "fecha no válida para --desde: \"ayer\""},
        {QStringList{"--turno", "5"}, 2, "un turno de 1 a 4"},
        {QStringList{"--turno", "1", "--desde", "2026-12-08"}, 2, "--turno no va con --desde"},
        {QStringList{"--nada"}, 2, "opción desconocida: --nada"},
        {period + QStringList{"--csv", "y/r.csv"}, 1, "no se puede escribir y/r.csv"},
    };
    for (const auto& c : cases) {
        const CommandRun run = report(c.args, dir.path());
        const std::string what = c.args.join(' ').toStdString();
        EXPECT_EQ(run.status, c.status) << what << ": " << run.err.toStdString();
        EXPECT_TRUE(run.err.contains(c.err)) << what << ": " << run.err.toStdString();
    }
    // A line that does not read is counted and skipped.
    const CommandRun skipped = report(period, dir.path());
    EXPECT_EQ(skipped.status, 0) << skipped.err.toStdString();
    EXPECT_TRUE(skipped.err.contains(
        "Dosificaciones.csv: 1 líneas ilegibles omitidas (la primera, línea 2)"))
        << skipped.err.toStdString();
    EXPECT_TRUE(QFile::exists(dir.filePath("informe.pdf")));
}
