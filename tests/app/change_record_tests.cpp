// Cambios.csv from the operator's side: the station in this process, every control that
// writes pressed through its window against pymodbus as a module that takes the value or
// refuses it (exception 3), against the simulated module switched off, and with entries
// out of range; then `vormelq --verify` on what the station wrote, untouched, edited and
// with a line deleted, also across a restart.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QSysInfo>
#include <QTabWidget>
#include <QTableWidget>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>

#include "dosing_window.h"
#include "harness.h"
#include "link_worker.h"
#include "operator_entries.h"
#include "station_window.h"

namespace {

struct Control {
    QString campo;
    QLineEdit* frmPeso::*box;  // nullptr: a key
    QPushButton* frmPeso::*button;
    QLabel* frmPeso::*shown;  // a setpoint's read-out
    int key;
    QString typed;
    QString valor;
    QString registros;
};

// Decimales_1 is 1 and the window's separator a comma.
const QList<Control> kControls{
    {"B. Cero", &frmPeso::txtBCero, &frmPeso::cmdBCero, &frmPeso::lblBCero, 0, "125", "12,5",
     "14=125 15=0"},
    {"Grueso", &frmPeso::txtGrueso, &frmPeso::cmdGrueso, &frmPeso::lblGrueso, 0, "4294967295",
     "429496729,5", "16=65535 17=65535"},
    {"Fino", &frmPeso::txtFino, &frmPeso::cmdFino, &frmPeso::lblFino, 0, "7", "0,7", "18=7 19=0"},
    {"Teorico", &frmPeso::txtTeor, &frmPeso::cmdTeor, &frmPeso::lblTeor, 0, "70000", "7000,0",
     "20=4464 21=1"},
    {"Porcent", &frmPeso::txtPorc, &frmPeso::cmdPorc, &frmPeso::lblPorc, 0, "300", "300", "22=300"},
    {"Comando", &frmPeso::txtComando, &frmPeso::cmdComando, nullptr, 0, "258", "258", "7=258"},
    {"Dato", &frmPeso::txtDato, &frmPeso::cmdDato, nullptr, 0, "70000", "70000", "8=4464 9=1"},
    {"Tecla SI•NO/MODO", nullptr, nullptr, nullptr, 0, {}, "S", "6=83"},
    {"Tecla cero", nullptr, nullptr, nullptr, 1, {}, "Z", "6=90"},
    {"Tecla tara", nullptr, nullptr, nullptr, 2, {}, "M", "6=77"},
    {"Tecla 4", nullptr, nullptr, nullptr, 3, {}, "P", "6=80"},
    {"Tecla F", nullptr, nullptr, nullptr, 4, {}, "F", "6=70"},
};

// What pymodbus holds in a setpoint before any write, as the window shows it.
QString initialShown(const Control& c) {
    if (!c.shown) return {};
    const auto value = [](int k) { return (0x0101 * k + 0x1234) & 0xFFFF; };
    const int reg = c.registros.section('=', 0, 0).toInt();
    if (reg == 22) return QString::number(value(22));
    const qint64 raw = value(reg) + 65536LL * value(reg + 1);
    return QString::number(raw / 10) + ',' + QString::number(raw % 10);
}

void press(frmPeso& form, const Control& c, const QString& typed) {
    if (!c.box) return QTest::mouseClick(form.Tecla[c.key], Qt::LeftButton);
    enterAsOperator(form, c.box, c.button, typed);
}

// campo;antes;valor;registros;resultado of each line of `dir`/Cambios.csv.
QStringList changes(const QString& dir) {
    QStringList out;
    for (const QString& line : logLines(dir, "Cambios.csv"))
        out << line.split(';').mid(4, 5).join(';');
    return out;
}

std::string text(const QStringList& lines) {
    return lines.join('\n').toStdString();
}

// The operator reads each box and closes it before the next press.
void acknowledgeBoxes(frmPeso& form) {
    while (QMessageBox* box = form.findChild<QMessageBox*>()) {
        if (box->isVisible()) box->button(QMessageBox::Ok)->click();
        delete box;
    }
}

int verify(const QString& path, QString* said = nullptr) {
    QProcess p;
    p.start(stationPath(), {"--verify", path});
    p.waitForFinished(60000);
    if (said) *said = QString::fromLocal8Bit(p.readAllStandardOutput());
    return p.exitCode();
}

// The line `vormelq --verify` names on `lines` written to a file of their own, when it
// ends with status 1.
std::string verifyLines(const QByteArrayList& lines) {
    QTemporaryDir dir;
    QFile copy(QDir(dir.path()).filePath("Cambios.csv"));
    if (!copy.open(QIODevice::WriteOnly) || copy.write(lines.join('\n')) < 0) return "?";
    copy.close();
    QString said;
    if (verify(copy.fileName(), &said) != 1) return said.toStdString();
    return said.section(": ", 1, 1).section(' ', -2).toStdString();
}

class ChangeRecord : public ::testing::Test {
protected:
    void SetUp() override {
        qputenv("USER", "operaria");
        qunsetenv("USERNAME");
    }
    void TearDown() override {
        station.reset();
        server.closeWriteChannel();
        server.waitForFinished(5000);
    }
    void start(int port) {
        auto ini = tcpIni(port);
        ini.insert({{"Decimales_1", "1"}, {"Timer", "50"}});
        writeIni(dir.path(), ini);
        CurrentDir cwd(dir.path());
        station = std::make_unique<StationWindow>();
        ASSERT_TRUE(station->Form_Load().isEmpty());
        form().setNumberFormat(1, QLocale(QLocale::Spanish, QLocale::Spain));
        polls = 0;
        QObject::connect(station->worker(), &LinkWorker::pollFinished, &form(),
                         [this] { ++polls; });
        form().show();
        ASSERT_TRUE(waitFor([&] { return polls >= 1; }));
    }
    // Each control pressed in turn, each line awaited before the next press.
    void pressEach(const QString& typed = {}) {
        for (const Control& c : kControls) {
            if (!typed.isEmpty() && !c.box) continue;
            const qsizetype before = changes(dir.path()).size();
            press(form(), c, typed.isEmpty() ? c.typed : typed);
            ASSERT_TRUE(waitFor([&] { return changes(dir.path()).size() > before; }))
                << c.campo.toStdString();
            acknowledgeBoxes(form());
        }
    }
    QString path() const { return QDir(dir.path()).filePath("Cambios.csv"); }
    frmPeso& form() { return station->form(); }

    QTemporaryDir dir;
    QProcess server;
    std::unique_ptr<StationWindow> station;
    int polls = 0;
};

TEST_F(ChangeRecord, EachControlThroughAHealthyModuleThenAcrossARestartAndVerified) {
    const int port = startPymodbus(server);
    start(port);
    pressEach();
    QStringList expected;
    for (const Control& c : kControls)
        expected << QStringList{c.campo, initialShown(c), c.valor, c.registros, "Enviado"}.join(
            ';');
    EXPECT_EQ(text(changes(dir.path())), text(expected));
    const QStringList first = logLines(dir.path(), "Cambios.csv").front().split(';');
    EXPECT_EQ(first.mid(2, 2), (QStringList{"operaria", QSysInfo::machineHostName()}));
    EXPECT_FALSE(first[0].isEmpty() || first[1].isEmpty());
    EXPECT_EQ(verify(path()), 0);

    // A new start goes on with the chain and shows the lines from before, newest first.
    start(port);
    QTest::mouseClick(form().cmdDosificaciones, Qt::LeftButton);
    QTabWidget* tabs = form().dosingWindow()->tabs();
    ASSERT_EQ(tabs->tabText(1), "Cambios");
    tabs->setCurrentIndex(1);
    auto* table = tabs->currentWidget()->findChild<QTableWidget*>();
    ASSERT_TRUE(table && table->isVisible());
    EXPECT_EQ(table->rowCount(), kControls.size());
    // Filled while the window was closed, yet every field shows whole in the tab's font.
    for (int row = 0; row < table->rowCount(); ++row)
        for (int column = 0; column < table->columnCount(); ++column)
            EXPECT_LT(table->fontMetrics().horizontalAdvance(table->item(row, column)->text()),
                      table->columnWidth(column))
                << table->item(row, column)->text().toStdString();
    press(form(), kControls.last(), {});
    ASSERT_TRUE(waitFor([&] { return table->rowCount() == kControls.size() + 1; }));
    EXPECT_EQ(table->item(0, 4)->text(), "Tecla F");
    EXPECT_EQ(table->item(1, 4)->text(), "Tecla F");
    EXPECT_EQ(table->item(kControls.size(), 4)->text(), "B. Cero");
    EXPECT_EQ(verify(path()), 0);

    // By hand, on copies: one value changed, or one line taken out.
    QFile file(path());
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    QByteArrayList edited = file.readAll().split('\n');
    QByteArrayList shortened = edited;
    edited[2].replace("0,7", "0,8");
    shortened.removeAt(4);
    EXPECT_EQ(verifyLines(edited), "línea 3");
    EXPECT_EQ(verifyLines(shortened), "línea 5");
}

TEST_F(ChangeRecord, EntriesOutOfRangeThenEachControlRefusedByTheModule) {
    start(startPymodbus(server, {"--refuse-writes", "3"}));
    pressEach("-1");
    pressEach();
    QStringList expected;
    for (const Control& c : kControls)
        if (c.box)
            expected << QStringList{c.campo, initialShown(c), "-1", {}, "Fuera de rango"}.join(';');
    for (const Control& c : kControls)
        expected << QStringList{c.campo, initialShown(c), c.valor, c.registros.section(' ', 0, 0),
                                "Rechazado (3)"}
                        .join(';');
    EXPECT_EQ(text(changes(dir.path())), text(expected));
    EXPECT_EQ(verify(path()), 0);
}

// Cambios.csv cannot be written (a folder stands in its way) across a restart: the
// operator is told of the waiting changes, and the chain goes on from the one waiting
// when the station starts again.
TEST_F(ChangeRecord, ChangesWaitingForTheFileAcrossARestartKeepTheChain) {
    ASSERT_TRUE(QDir(dir.path()).mkdir("Cambios.csv"));
    const int port = startPymodbus(server);
    const auto told = [&](const QString& count) {
        return waitFor([&] {
            return form().lblPendientes->isVisible() &&
                   form().lblPendientes->text().contains("Cambios.csv (" + count);
        });
    };
    start(port);
    press(form(), kControls.last(), {});
    EXPECT_TRUE(told("1 cambio pendiente)"));
    start(port);
    press(form(), kControls.first(), "9");
    EXPECT_TRUE(told("2 cambios pendientes)"));
    ASSERT_TRUE(QDir(dir.path()).rmdir("Cambios.csv"));
    ASSERT_TRUE(waitFor([&] { return form().lblPendientes->isHidden(); }));
    EXPECT_EQ(text(changes(dir.path())),
              text({"Tecla F;;F;6=70;Enviado",
                    "B. Cero;" + initialShown(kControls.first()) + ";0,9;14=9 15=0;Enviado"}));
    EXPECT_EQ(verify(path()), 0);
}

// Pressed one after another while the module is off: the first goes out unanswered, the
// rest are given up with it.
TEST_F(ChangeRecord, EachControlPressedWhileTheModuleIsOff) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    start(sim.port());
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return !form().lblError->isHidden(); }));
    QStringList expected;
    for (const Control& c : kControls) {
        const QString antes = c.shown ? (form().*c.shown)->text() : QString();
        press(form(), c, c.typed);
        expected << QStringList{c.campo, antes, c.valor,
                                expected.isEmpty() ? c.registros.section(' ', 0, 0) : "",
                                expected.isEmpty() ? "Error" : "Descartado"}
                        .join(';');
    }
    ASSERT_TRUE(waitFor([&] { return changes(dir.path()).size() == kControls.size(); }));
    EXPECT_EQ(text(changes(dir.path())), text(expected));
}

// An entry out of range typed while a key's write waits for the link to come back goes
// into Cambios.csv after that write: nothing the window asks of the worker runs in the
// middle of a job.
TEST_F(ChangeRecord, AnEntryOutOfRangeWhileTheLinkReconnectsComesAfterTheWriteUnderWay) {
    QTcpServer module;
    module.setListenBacklogSize(0);
    ASSERT_TRUE(module.listen(QHostAddress::LocalHost));
    auto ini = tcpIni(module.serverPort());
    ini.insert("Timer", "0");  // no rounds: the key's write is the worker's only job
    writeIni(dir.path(), ini);
    {
        CurrentDir cwd(dir.path());
        station = std::make_unique<StationWindow>();
        ASSERT_TRUE(station->Form_Load().isEmpty());
    }
    form().show();
    ASSERT_TRUE(waitFor([&] { return module.hasPendingConnections(); }));
    QTcpSocket* first = module.nextPendingConnection();
    // The module hangs up, and its host's backlog of one is taken by a connection nobody
    // accepts: the kernel drops the station's next handshakes, so the write that finds
    // the connection closed waits for a new one until its time is over.
    module.pauseAccepting();
    QTcpSocket filler;
    filler.connectToHost(QHostAddress::LocalHost, module.serverPort());
    ASSERT_TRUE(filler.waitForConnected(5000));
    first->abort();

    press(form(), kControls.last(), {});
    press(form(), kControls.first(), "-1");
    ASSERT_TRUE(waitFor([&] { return changes(dir.path()).size() == 2; }));
    EXPECT_EQ(text(changes(dir.path())),
              text({"Tecla F;;F;;Error", "B. Cero;;-1;;Fuera de rango"}));
}

}  // namespace
