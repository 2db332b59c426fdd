// Products and lots in the station without a window, against an independent dosing module
// (pymodbus, tests/e2e/dosing_slave.py, whose setpoints are Harina's below): the product in
// force follows what the module holds, a product applied goes whole to its address, and
// every dose line and the lot's count say what was dosed, across a restart.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "frames.h"
#include "harness.h"
#include "station.h"
#include "station_module.h"

namespace {

// Theoretical 100,0 kg at one decimal: the module's own, and another.
const QByteArray kTable =
    "nombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\r\n"
    "Harina;2,0;90,0;99,0;100,0;0;0,5\r\n"
    "Sal;1,0;85,0;98,5;100,0;3;\r\n";

class Products : public ::testing::Test {
protected:
    void SetUp() override {
        port = startPymodbus(slave, {"1000", "1003", "1000", "1000", "1000", "1000", "1000"},
                             QStringLiteral("tests/e2e/dosing_slave.py"));
        ASSERT_GT(port, 0);
        QMap<QString, QString> ini = tcpIni(port);
        ini.insert("Decimales_1", "1");
        ini.insert("Tolerancia_1", "0.5");
        writeIni(dir.path(), ini);
        QFile table(dir.filePath("Productos.csv"));
        ASSERT_TRUE(table.open(QIODevice::WriteOnly));
        table.write(kTable);
    }
    void load() {
        station = std::make_unique<Station>();
        CurrentDir cwd(dir.path());
        ASSERT_EQ(station->Form_Load(), "");
        module = station->modules().front();
        station->start();
    }
    QStringList doseLines() const { return logLines(dir.path(), "Dosificaciones.csv"); }
    QStringList changes() const {
        QStringList out;
        for (const QString& line : logLines(dir.path(), "Cambios.csv"))
            out << line.section(u';', 4, 8);
        return out;
    }
    // The next dose the slave plays (the first line starts its cycles), once its line is written.
    bool dose() {
        const qsizetype before = doseLines().size();
        slave.write("go\n");
        return waitFor([&] { return doseLines().size() > before; }, 60000);
    }
    // A write of the module's own keys: straight to the slave, behind the station's back.
    void writeBehindTheBack(int address, quint16 value) {
        QTcpSocket socket;
        socket.connectToHost(QStringLiteral("127.0.0.1"), quint16(port));
        ASSERT_TRUE(socket.waitForConnected(5000));
        socket.write(
            modbus::writeRequest(1, address, QByteArray(1, char(value & 0xFF)) + char(value >> 8)));
        ASSERT_TRUE(socket.waitForReadyRead(5000));
    }

    QTemporaryDir dir;
    QProcess slave;
    int port = 0;
    std::unique_ptr<Station> station;
    StationModule* module = nullptr;
};

TEST_F(Products, TheProductInForceIsWhatTheModuleHoldsAndEveryDoseSaysWhatItWas) {
    load();
    ASSERT_TRUE(waitFor([&] { return module->state().product == QStringLiteral("Harina"); }));
    EXPECT_EQ(module->state().products, QStringList({"Harina", "Sal"}));
    // The setpoints judge from the poll after the one that read them.
    ASSERT_TRUE(waitFor([&] { return logLines(dir.path()).size() >= 3; }));
    ASSERT_TRUE(dose());
    EXPECT_TRUE(doseLines().back().endsWith(";100,0;0,0;OK;Harina;"))
        << doseLines().back().toStdString();

    // A lot of two doses, then the other product, whole, to the module's address (the
    // module doses on meanwhile, as a line does).
    module->setLot(QStringLiteral("L-0427"), QStringLiteral("2"));
    module->applyProduct(QStringLiteral("Sal"));
    ASSERT_TRUE(waitFor([&] { return module->state().product == QStringLiteral("Sal"); }));
    EXPECT_EQ(
        changes().join(u'|').toStdString(),
        "Lote;;L-0427;;Anotado|Dosis planificadas;;2;;Anotado|"
        "B. Cero (Sal);2,0;1,0;14=10 15=0;Enviado|Grueso (Sal);90,0;85,0;16=850 17=0;Enviado|"
        "Fino (Sal);99,0;98,5;18=985 19=0;Enviado|Teorico (Sal);100,0;100,0;20=1000 21=0;Enviado|"
        "Porcent (Sal);0;3;22=3;Enviado");
    ASSERT_TRUE(dose());
    EXPECT_TRUE(doseLines().back().endsWith(";OK;Sal;L-0427")) << doseLines().back().toStdString();
    ASSERT_TRUE(waitFor([&] { return module->state().lot == Lot{"L-0427", 2, 1}; }));

    // Closed and started again: the lot and its count go on.
    station->Form_Unload();
    load();
    EXPECT_EQ(module->state().lot, (Lot{"L-0427", 2, 1}));
    ASSERT_TRUE(waitFor([&] { return module->state().product == QStringLiteral("Sal"); }));
    ASSERT_TRUE(dose());
    EXPECT_TRUE(doseLines().back().endsWith(";Sal;L-0427")) << doseLines().back().toStdString();
    ASSERT_TRUE(waitFor([&] { return module->state().notice.has_value(); }));
    EXPECT_EQ(*module->state().notice, "Lote L-0427 completo: 2 dosis");

    // A setpoint changed on the module itself: no product is in force, and the next dose
    // says so.
    writeBehindTheBack(22, 7);
    ASSERT_TRUE(waitFor([&] { return module->state().product == QString(); }));
    ASSERT_TRUE(dose());
    EXPECT_TRUE(doseLines().back().endsWith(";OK;;L-0427")) << doseLines().back().toStdString();
    station->Form_Unload();
}

// A table that cannot be used offers nothing to apply and says where it is wrong.
TEST_F(Products, ABrokenTableOffersNoProductAndSaysWhere) {
    QFile table(dir.filePath("Productos.csv"));
    ASSERT_TRUE(table.open(QIODevice::WriteOnly | QIODevice::Truncate));
    table.write(kTable + "harina;2;90;99;100;0;\r\n");
    table.close();
    load();
    EXPECT_TRUE(module->state().products.isEmpty());
    EXPECT_EQ(module->state().productProblem, "Productos.csv, línea 4, nombre: repetido (línea 2)");
    module->applyProduct(QStringLiteral("Harina"));
    ASSERT_TRUE(waitFor([&] { return module->state().product.has_value(); }));
    EXPECT_EQ(module->state().product, QString());
    EXPECT_TRUE(changes().isEmpty());
    station->Form_Unload();
}

// The table edited from the station: rewritten whole, each change recorded with the old and
// the new line; one that cannot be used changes nothing; another program's save is read.
TEST_F(Products, ATableEditedHereIsRewrittenWholeAndOneSavedElsewhereIsReadAgain) {
    load();
    const auto table = [&] {
        QFile file(dir.filePath("Productos.csv"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    };
    EXPECT_EQ(station->changeProduct(1, "Sal", {"Sal", "1", "85", "97,5", "100", "3", ""}), "");
    EXPECT_EQ(station->changeProduct(1, "", {"Azúcar", "1,5", "60", "73", "75", "5", "1"}), "");
    EXPECT_EQ(station->changeProduct(1, "Harina", {}), "");
    const QByteArray written =
        "\xEF\xBB\xBFnombre;banda_cero;grueso;fino;teorico;porcentaje;tolerancia\r\n"
        "Sal;1;85;97,5;100;3;\r\nAzúcar;1,5;60;73;75;5;1\r\n";
    EXPECT_EQ(table(), written);
    EXPECT_EQ(module->state().products, QStringList({"Sal", "Azúcar"}));
    // Refused, and nothing written: a name taken (in other letters), a field that would
    // split the line, a weight that is none, one finer than the module's step.
    EXPECT_EQ(station->changeProduct(1, "", {"SAL", "1", "2", "3", "4", "0", ""}),
              "ya hay un producto Sal");
    EXPECT_EQ(station->changeProduct(1, "Sal", {"Sal;x", "1", "2", "3", "4", "0", ""}),
              "ningún campo puede llevar «;» ni saltos de línea");
    EXPECT_EQ(station->changeProduct(1, "Sal", {"Sal", "1", "8O", "3", "4", "0", ""}),
              "grueso: no es un peso (kg, sin signo)");
    EXPECT_EQ(
        station->changeProduct(1, "Sal", {"Sal", "1", "2,25", "3", "4", "0", ""}).toStdString(),
        "grueso (módulo 1): fuera del alcance del módulo (1 decimales, hasta 429496729,5)");
    EXPECT_EQ(table(), written);
    ASSERT_TRUE(waitFor([&] { return changes().size() == 3; }));
    EXPECT_EQ(changes().join(u'|').toStdString(),
              "Producto Sal;Sal|1|85|98,5|100|3|;Sal|1|85|97,5|100|3|;;Anotado|"
              "Producto Azúcar;;Azúcar|1,5|60|73|75|5|1;;Anotado|"
              "Producto Harina;Harina|2|90|99|100|0|0,5;;;Anotado");

    // A spreadsheet saves the table under another name and renames it over.
    QFile saved(dir.filePath("Productos.tmp"));
    ASSERT_TRUE(saved.open(QIODevice::WriteOnly));
    saved.write(kTable);
    saved.close();
    QFile::remove(dir.filePath("Productos.csv"));
    ASSERT_TRUE(QFile::rename(saved.fileName(), dir.filePath("Productos.csv")));
    ASSERT_TRUE(waitFor([&] {
        return module->state().products == QStringList({"Harina", "Sal"});
    }));
    EXPECT_TRUE(waitFor([&] { return module->state().product == QStringLiteral("Harina"); }));
    station->Form_Unload();
}

}  // namespace
