// The whole station in this process, driven through its window with the Spanish
// decimal comma, against pymodbus as an independent module that reports every
// register written to it.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>

#include "link_worker.h"
#include "station.h"

namespace {

bool waitFor(const std::function<bool()>& condition) {
    // Only a guard against a hang; nothing here depends on how long it takes.
    return QTest::qWaitFor(condition, 60000);
}

struct Entry {
    QLineEdit* frmPeso::*box;
    QPushButton* frmPeso::*button;  // nullptr: Enter in the box
    QString typed;
    QString shown;
    QStringList writes;  // "register value", in order
};

const QList<Entry> kEntries{
    {&frmPeso::txtGrueso, nullptr, "125", "125", {"16 125", "17 0"}},
    {&frmPeso::txtFino, &frmPeso::cmdFino, "65536", "65536", {"18 0", "19 1"}},
    {&frmPeso::txtBCero, nullptr, "4294967295", "4294967295", {"14 65535", "15 65535"}},
    {&frmPeso::txtPorc, &frmPeso::cmdPorc, "300", "300", {"22 300"}},
    {&frmPeso::txtPorc, nullptr, "77", "77", {}},  // Enter here sends nothing
    {&frmPeso::txtTeor, nullptr, "77", "77", {}},
    {&frmPeso::txtTeor, &frmPeso::cmdTeor, "", "0", {"20 0", "21 0"}},
    {&frmPeso::txtBCero, &frmPeso::cmdBCero, "abc", "0", {"14 0", "15 0"}},
    {&frmPeso::txtTeor, &frmPeso::cmdTeor, "12abc", "12", {"20 12", "21 0"}},
    {&frmPeso::txtFino, nullptr, "1 2", "12", {"18 12", "19 0"}},
    {&frmPeso::txtPorc, &frmPeso::cmdPorc, "1,5", "1", {"22 1"}},
    {&frmPeso::txtTeor, &frmPeso::cmdTeor, "12.9", "12,9", {"20 12", "21 0"}},
    {&frmPeso::txtComando, nullptr, "5", "5", {"7 5"}},
    {&frmPeso::txtComando, &frmPeso::cmdComando, "258", "258", {"7 258"}},
    {&frmPeso::txtDato, nullptr, "70000", "70000", {"8 4464", "9 1"}},
};

class OperatorAgainstPymodbus : public ::testing::Test {
protected:
    void SetUp() override {
        server.setProgram(QStringLiteral("/usr/bin/python3"));
        server.setArguments(
            {QStringLiteral(VORMELQ_SOURCE_DIR "/tests/link/modbus_rtu_tcp_server.py"),
             QStringLiteral("--log-writes")});
        server.start();
        ASSERT_TRUE(server.waitForStarted());
        ASSERT_TRUE(waitFor([this] {
            server.waitForReadyRead(20);
            return !serverLines().isEmpty() || server.state() == QProcess::NotRunning;
        })) << server.readAllStandardError().toStdString();
        ASSERT_FALSE(serverLines().isEmpty()) << server.readAllStandardError().toStdString();
        const int port = serverLines().constFirst().toInt();
        ASSERT_GT(port, 0) << server.readAllStandardError().toStdString();

        QFile ini(dir.filePath(QStringLiteral("modbus.ini")));
        ASSERT_TRUE(ini.open(QIODevice::WriteOnly));
        ini.write(QStringLiteral("[Global]\r\nComunicacion_1=1;\r\nHost_1=127.0.0.1;\r\n"
                                 "Port_1=%1;\r\nID_1=1;\r\nDecimales_1=1;\r\nTimer=50;\r\n")
                      .arg(port)
                      .toLatin1());
        ini.close();
        const QString here = QDir::currentPath();
        QDir::setCurrent(dir.path());
        const QString error = station.Form_Load();
        QDir::setCurrent(here);
        ASSERT_TRUE(error.isEmpty()) << error.toStdString();
        station.form().setNumberFormat(1, QLocale(QLocale::Spanish, QLocale::Spain));
        QObject::connect(station.worker(), &LinkWorker::pollFinished, &station.form(),
                         [this] { ++polls; });
        station.form().show();
    }
    void TearDown() override {
        station.Form_Unload();
        server.closeWriteChannel();
        if (!server.waitForFinished(5000)) server.kill();
        server.waitForFinished();
    }

    QStringList serverLines() {
        output += QString::fromUtf8(server.readAllStandardOutput());
        return output.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    }
    // Every register write the module received, "register value", in order; anything but
    // a single-register write (function 6) shows up with its function code in front.
    QStringList received() {
        QStringList writes;
        for (const QString& line : serverLines()) {
            const QStringList f = line.split(QLatin1Char(' '));
            if (f.value(0) != QLatin1String("write")) continue;
            writes << (f.value(1) == QLatin1String("6") ? f.mid(2) : f.mid(1)).join(' ');
        }
        return writes;
    }

    QTemporaryDir dir;
    QProcess server;
    QString output;
    Station station;
    int polls = 0;
};

TEST_F(OperatorAgainstPymodbus, ReceivesExactlyTheTypedWritesInOrderAndShowsThemBack) {
    frmPeso& form = station.form();
    ASSERT_TRUE(waitFor([&] { return polls >= 1; }));
    QStringList expected;
    for (const Entry& e : kEntries) {
        QLineEdit* box = form.*e.box;
        box->clear();
        QTest::keyClicks(box, e.typed);
        if (e.button)
            QTest::mouseClick(form.*e.button, Qt::LeftButton);
        else
            QTest::keyClick(box, Qt::Key_Return);
        EXPECT_EQ(box->text(), e.shown) << e.typed.toStdString();
        expected << e.writes;
    }
    QTest::mouseClick(form.Tecla[1], Qt::LeftButton);
    expected << "6 90";

    ASSERT_TRUE(waitFor([&] { return received().size() >= expected.size(); }))
        << received().join(" | ").toStdString();
    // Two more poll cycles: every row shows its last value read back, and nothing else
    // reached the module.
    const int seen = polls;
    ASSERT_TRUE(waitFor([&] { return polls >= seen + 2; }));
    EXPECT_EQ(received(), expected);
    EXPECT_EQ(form.lblGrueso->text(), "12,5");
    EXPECT_EQ(form.lblFino->text(), "1,2");
    EXPECT_EQ(form.lblBCero->text(), "0,0");
    EXPECT_EQ(form.lblTeor->text(), "1,2");
    EXPECT_EQ(form.lblPorc->text(), "1");
    EXPECT_EQ(form.lblComando->text(), "2");
    EXPECT_EQ(form.lblResultado->text(), "1");
    EXPECT_EQ(form.lblDato->text(), "70000");
    EXPECT_TRUE(form.lblError->isHidden());
}

}  // namespace
