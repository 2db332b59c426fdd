// The whole station in this process, driven through its window with the Spanish
// decimal comma, against pymodbus as an independent module that reports every
// register written to it.
#include <gtest/gtest.h>

#include <QLabel>
#include <QProcess>
#include <QTemporaryDir>

#include "harness.h"
#include "link_worker.h"
#include "operator_entries.h"
#include "station.h"

namespace {

class OperatorAgainstPymodbus : public ::testing::Test {
protected:
    void SetUp() override {
        const int port = startPymodbus(server, {QStringLiteral("--log-writes")});
        ASSERT_GT(port, 0) << server.readAllStandardError().toStdString();
        auto ini = tcpIni(port);
        ini.insert({{"Decimales_1", "1"}, {"Timer", "50"}});
        writeIni(dir.path(), ini);
        const QString error = [&] {
            CurrentDir cwd(dir.path());
            return station.Form_Load();
        }();
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

    // Every register write the module received, "register value", in order; anything but
    // a single-register write (function 6) shows up with its function code in front.
    QStringList received() {
        output += QString::fromUtf8(server.readAllStandardOutput());
        QStringList writes;
        for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
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
    for (const OperatorEntry& e : kOperatorEntries) {
        enterAsOperator(form, e);
        EXPECT_EQ((form.*e.box)->text(), e.shown) << e.typed.toStdString();
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
