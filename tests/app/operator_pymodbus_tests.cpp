// The whole station in this process, driven through its window with the Spanish
// decimal comma, against pymodbus as an independent module that reports every
// register written to it, and against the simulated module switched off and on.
#include <gtest/gtest.h>

#include <QDeadlineTimer>
#include <QLabel>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>

#include "harness.h"
#include "link_worker.h"
#include "operator_entries.h"
#include "station_module.h"
#include "station_window.h"

namespace {

// The texts of the boxes on the screen, " | " between them.
std::string boxTexts(const frmPeso& form) {
    QStringList texts;
    for (QMessageBox* box : form.findChildren<QMessageBox*>())
        if (box->isVisible()) texts << box->text();
    return texts.join(" | ").toStdString();
}

class OperatorAgainstPymodbus : public ::testing::Test {
protected:
    virtual QStringList serverArgs() const { return {QStringLiteral("--log-writes")}; }
    void SetUp() override {
        const int port = startPymodbus(server, serverArgs());
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

    // Every register write the module received ("write") or refused ("refused"),
    // "register value", in order; anything but a single-register write (function 6) shows
    // up with its function code in front.
    QStringList received(const QString& kind = QStringLiteral("write")) {
        output += QString::fromUtf8(server.readAllStandardOutput());
        QStringList writes;
        for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
            const QStringList f = line.split(QLatin1Char(' '));
            if (f.value(0) != kind) continue;
            writes << (f.value(1) == QLatin1String("6") ? f.mid(2) : f.mid(1)).join(' ');
        }
        return writes;
    }

    QTemporaryDir dir;
    QProcess server;
    QString output;
    StationWindow station;
    int polls = 0;
};

TEST_F(OperatorAgainstPymodbus, ReceivesExactlyTheTypedWritesInOrderAndShowsThemBack) {
    frmPeso& form = station.form();
    ASSERT_TRUE(waitFor([&] { return polls >= 1; }));
    QStringList expected;
    for (const TypedEntry& e : kOperatorEntries) {
        enterAsOperator(form, e);
        EXPECT_EQ((form.*entryBox(e.control))->text(), e.shown) << e.typed.toStdString();
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

// The module refuses every value with exception 3: its answer, not silence.
class OperatorAgainstARefusingModule : public OperatorAgainstPymodbus {
protected:
    QStringList serverArgs() const override { return {"--refuse-writes", "3"}; }
};

TEST_F(OperatorAgainstARefusingModule, ARefusalIsShownWithItsReasonOnceAndPollingGoesOn) {
    frmPeso& form = station.form();
    QList<WriteOutcome> outcomes;
    QObject::connect(station.core().modules().front(), &StationModule::writeFinished, &form,
                     [&](const WriteOutcome& o) { outcomes << o; });
    ASSERT_TRUE(waitFor([&] { return polls >= 1; }));
    enterAsOperator(form, &frmPeso::txtDato, nullptr, "70000");
    ASSERT_TRUE(waitFor([&] { return !outcomes.isEmpty(); }));
    const int seen = polls;
    ASSERT_TRUE(waitFor([&] { return polls >= seen + 2; }));

    // Asked once, not retried; the high word does not follow a refused low word.
    EXPECT_EQ(received(QStringLiteral("refused")).join(" | "), "8 4464");
    ASSERT_EQ(outcomes.size(), 1);
    EXPECT_EQ(outcomes[0].result, WriteResult::Rechazado);
    EXPECT_EQ(outcomes[0].exceptionCode, 3);
    EXPECT_EQ(outcomes[0].attempted.size(), 1);
    EXPECT_EQ(boxTexts(form),
              "El módulo rechazó el valor: valor no válido (excepción 3, registro 8)");
    EXPECT_TRUE(form.lblError->isHidden());
}

// A start key clicked while the module is off, the module back 4 s later: the press is
// given up in one "Error" box and never reaches the module once it is back.
TEST(OperatorAgainstASwitchedOffModule, AKeyPressedWhileItIsOffNeverReachesItLater) {
    SimProcess sim;
    ASSERT_TRUE(sim.start({"--listen", "127.0.0.1:0", "--slave", "1"}));
    QTemporaryDir dir;
    writeIni(dir.path(), tcpIni(sim.port()));
    CurrentDir cwd(dir.path());
    StationWindow station;
    ASSERT_TRUE(station.Form_Load().isEmpty());
    frmPeso& form = station.form();
    int polls = 0;
    QObject::connect(station.worker(), &LinkWorker::pollFinished, &form, [&] { ++polls; });
    form.show();
    ASSERT_TRUE(waitFor([&] { return polls >= 1; }));
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return !form.lblError->isHidden(); }));

    QTest::mouseClick(form.Tecla[0], Qt::LeftButton, {}, QPoint(10, 10));
    const QDeadlineTimer moduleBack(4000);
    ASSERT_TRUE(waitFor([&] { return moduleBack.hasExpired(); }));
    sim.toggleSilent();
    ASSERT_TRUE(waitFor([&] { return form.lblError->isHidden(); }));
    const int seen = polls;
    ASSERT_TRUE(waitFor([&] { return polls >= seen + 2; }));

    EXPECT_EQ(sim.counters().value("writes"), 0);
    EXPECT_EQ(boxTexts(form), "Error");
    station.Form_Unload();
}

}  // namespace
