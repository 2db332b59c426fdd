// Every fault the line can throw at the station, one table row each: the station runs
// in this process (offscreen, so its labels can be read) against a module in another
// process. Each row goes through the same story: the module misbehaves, disappears,
// comes back at the same address; the window keeps answering, lblError shows and
// clears, writes land through the retries, and the log and labels agree again.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QProcess>
#include <QTemporaryDir>
#include <csignal>
#include <memory>

#include "frm_peso.h"
#include "harness.h"
#include "station_window.h"

namespace {

enum class Wire { Tcp, Pty, Socat, Pymodbus };

// What the faults the module starts with do to the station.
enum class Effect {
    Absorbed,     // every block is read, if need be at a retry
    NothingRead,  // no block can be read at all
    Dropped,      // the connection drops every few requests; the station reconnects
};

struct FaultCase {
    const char* name;
    Wire wire;
    QStringList faults;  // the module as it starts
    Effect effect;
    QStringList recovery;  // the module once it comes back
};

// A module that can vanish and come back at the same address: a TCP port, a pty link,
// a socat pair standing for a USB adapter, or pymodbus as an independent slave.
class Module {
public:
    Module(Wire wire, const QString& dir) : wire_(wire), dir_(dir) {}
    ~Module() { stop(); }

    bool start(const QStringList& faults) {
        if (wire_ == Wire::Pymodbus)
            return (port_ = startPymodbus(pymodbus_, {QString::number(port_)})) > 0;
        QStringList where{"--listen", QStringLiteral("127.0.0.1:%1").arg(port_)};
        if (wire_ == Wire::Pty) where = {"--pty", path("module")};
        if (wire_ == Wire::Socat) {
            socat_.start("socat",
                         {"pty,raw,echo=0,link=" + path("A"), "pty,raw,echo=0,link=" + path("B")});
            if (!waitFor([&] { return QFile::exists(path("A")) && QFile::exists(path("B")); }))
                return false;
            where = {"--serial", path("B")};
        }
        sim_ = std::make_unique<SimProcess>();
        if (!sim_->start(QStringList{"--slave", "1"} + where + faults)) return false;
        if (wire_ == Wire::Tcp) port_ = sim_->port();
        return true;
    }

    // Gone without a goodbye, as a module losing power.
    void stop() {
        if (sim_) ::kill(static_cast<pid_t>(sim_->pid()), SIGKILL);
        sim_.reset();
        for (QProcess* p : {&socat_, &pymodbus_}) {
            p->kill();
            p->waitForFinished(5000);
        }
        // socat leaves its links behind when killed; a replugged adapter gets new ones.
        QFile::remove(path("A"));
        QFile::remove(path("B"));
    }

    QMap<QString, QString> ini() const {
        if (wire_ == Wire::Tcp || wire_ == Wire::Pymodbus) return tcpIni(port_);
        return serialIni(path(wire_ == Wire::Pty ? "module" : "A"));
    }

private:
    QString path(const char* name) const { return QDir(dir_).filePath(QString::fromLatin1(name)); }

    Wire wire_;
    QString dir_;
    int port_ = 0;
    std::unique_ptr<SimProcess> sim_;
    QProcess socat_, pymodbus_;
};

// The box a failed or refused write opens.
QMessageBox* writeBox(frmPeso& form) {
    for (QMessageBox* box : form.findChildren<QMessageBox*>())
        if (box->isVisible()) return box;
    return nullptr;
}

// The window thread takes a posted event while the worker is stuck in a transaction:
// nothing on the window side waits for the link.
bool windowResponds(frmPeso& form) {
    bool ran = false;
    QMetaObject::invokeMethod(
        &form, [&ran] { ran = true; }, Qt::QueuedConnection);
    return waitFor([&] { return ran; });
}

void pressGrueso(frmPeso& form, const QString& value) {
    form.txtGrueso->setText(value);
    form.cmdGrueso_Click();
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultMatrix, StationRidesOutTheFaultAndRecovers) {
    const FaultCase& c = GetParam();
    QTemporaryDir dir;
    CurrentDir cwd(dir.path());
    StationWindow station;
    Module module(c.wire, dir.path());
    ASSERT_TRUE(module.start(c.faults));
    writeIni(dir.path(), module.ini());
    ASSERT_EQ(station.Form_Load(), QString());
    frmPeso& form = station.form();
    form.show();

    if (c.effect == Effect::NothingRead) {
        ASSERT_TRUE(waitFor([&] { return !form.lblError->isHidden(); }));
        EXPECT_TRUE(windowResponds(form));
        // A key is one register: one "Error" box once its attempts failed, or the box of
        // the module's refusal.
        form.Tecla_Click(0);
        ASSERT_TRUE(waitFor([&] { return writeBox(form) != nullptr; }));
        EXPECT_EQ(writeBox(form)->text().startsWith("El módulo rechazó el valor: fallo del módulo"),
                  c.faults.contains("--exception"))
            << writeBox(form)->text().toStdString();
        writeBox(form)->accept();
        // A reply the checks reject is never taken for a reading.
        EXPECT_EQ(logLines(dir.path()).size(), 0);
    } else if (c.effect == Effect::Dropped) {
        // More lines than one connection's requests can carry.
        EXPECT_TRUE(waitFor([&] { return logLines(dir.path()).size() >= 6; }));
    } else {
        ASSERT_TRUE(waitFor([&] { return logLines(dir.path()).size() >= 3; }));
        pressGrueso(form, QStringLiteral("1234"));
        EXPECT_TRUE(waitFor([&] { return form.lblGrueso->text() == QStringLiteral("1234"); }));
    }

    module.stop();
    ASSERT_TRUE(waitFor([&] { return !form.lblError->isHidden(); }));
    EXPECT_TRUE(windowResponds(form));
    const qsizetype linesBefore = logLines(dir.path()).size();

    // Back at the same address: the station finds it again by itself.
    ASSERT_TRUE(module.start(c.recovery.isEmpty() ? c.faults : c.recovery));
    EXPECT_TRUE(waitFor([&] { return form.lblError->isHidden(); }));
    EXPECT_TRUE(waitFor([&] { return logLines(dir.path()).size() >= linesBefore + 3; }));
    pressGrueso(form, QStringLiteral("4321"));
    EXPECT_TRUE(waitFor([&] { return form.lblGrueso->text() == QStringLiteral("4321"); }));
    EXPECT_EQ(writeBox(form), nullptr);

    // The latest logged reading is the one on show.
    const QStringList fields = logLines(dir.path()).last().split(QLatin1Char(';'));
    ASSERT_EQ(fields.size(), 5);
    EXPECT_EQ(fields[2], form.lblBruto->text());
    EXPECT_EQ(fields[3], form.lblTara->text());
    EXPECT_EQ(fields[4], form.lblNeto->text());
    if (c.wire == Wire::Pymodbus) {
        // Registers 0..3 hold 0x1234, 0x1335, 0x1436, 0x1537 there, low word first.
        EXPECT_EQ(form.lblBruto->text(), QStringLiteral("322245172"));
        EXPECT_EQ(form.lblTara->text(), QStringLiteral("355931190"));
    }
}

void PrintTo(const FaultCase& c, std::ostream* out) {
    *out << c.name;
}

QStringList every(const QString& fault, int n) {
    return {fault, QStringLiteral("1"), QStringLiteral("--fault-every"), QString::number(n)};
}

using enum Effect;
const FaultCase kCases[] = {
    {"SplitReplies", Wire::Tcp, {"--split", "1"}, Absorbed, {}},
    // Junk after every reply spoils the next request often enough to exhaust a write's
    // three attempts now and then; a third of the replies still tests the discard.
    {"StaleBytes", Wire::Tcp, every("--stale", 3), Absorbed, {}},
    {"WrongCrc", Wire::Tcp, {"--bad-crc", "1"}, NothingRead, every("--bad-crc", 2)},
    {"ExtraByte", Wire::Tcp, {"--extra-byte", "1"}, NothingRead, every("--extra-byte", 2)},
    // A refusal is the module's answer, not retried: the module comes back without it.
    {"ExceptionReplies", Wire::Tcp, {"--exception", "1"}, NothingRead, {"--split", "0"}},
    // A reply 2.5 s late lands in the retry of the same request, which expects the very
    // same bytes and takes them: late replies cost time, not readings.
    {"LateReplies", Wire::Tcp, every("--late", 5), Absorbed, {}},
    {"NoReply", Wire::Tcp, {"--silent"}, NothingRead, {"--split", "0"}},
    // Ten requests are two cycles: the module hangs up in the middle of the third.
    {"ConnectionClosedByModule", Wire::Tcp, {"--close-after", "10"}, Dropped, {"--split", "0"}},
    {"PtySplitReplies", Wire::Pty, {"--split", "1"}, Absorbed, {}},
    {"PtyWrongCrc", Wire::Pty, {"--bad-crc", "1"}, NothingRead, every("--bad-crc", 2)},
    {"PtyNoReply", Wire::Pty, {"--silent"}, NothingRead, {"--split", "0"}},
    {"SerialAdapterReplugged", Wire::Socat, {}, Absorbed, {}},
    {"IndependentSlave", Wire::Pymodbus, {}, Absorbed, {}},
};

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
