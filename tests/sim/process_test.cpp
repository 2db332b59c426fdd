#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>
#include <QSet>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <csignal>

#include "frames.h"

// The simulator as the station and the scripts meet it: a separate process driven
// through its command line, over real sockets and ptys, by our own raw frames and by
// independent masters (pymodbus, mbpoll).

namespace {

const QString kSim = QStringLiteral(VORMELQ_BINARY_DIR "/tools/sim/vormelq-sim");
constexpr int kPatienceMs = 10000;  // only ever hit when something is broken

class Sim {
public:
    explicit Sim(QStringList args) {
        process_.setProgram(kSim);
        process_.setArguments(args);
        process_.start();
        servingLine_ = nextLine();
    }
    ~Sim() {
        if (process_.state() != QProcess::NotRunning) {
            process_.kill();
            process_.waitForFinished(kPatienceMs);
        }
    }

    QString servingLine() const { return servingLine_; }
    quint16 port() const { return servingLine_.section(':', -1).toUShort(); }

    // Next line of standard output, or empty when none comes.
    QString nextLine() {
        while (!process_.canReadLine())
            if (!process_.waitForReadyRead(kPatienceMs)) return {};
        return QString::fromUtf8(process_.readLine()).trimmed();
    }

    void signal(int number) { ::kill(static_cast<pid_t>(process_.processId()), number); }

    // Asks for the counters line and returns its key=value pairs.
    QMap<QString, quint64> counters(int number = SIGUSR1) {
        signal(number);
        QString line;
        do line = nextLine();
        while (!line.isEmpty() && !line.startsWith("counters:"));
        QMap<QString, quint64> values;
        for (const QString& field : line.mid(10).split(' ', Qt::SkipEmptyParts))
            values[field.section('=', 0, 0)] = field.section('=', 1).toULongLong();
        return values;
    }

    // Asks for the counters until `key` reaches `value` (the request may still be on
    // its way when the first signal is handled).
    quint64 awaitCounter(const QString& key, quint64 value) {
        QElapsedTimer t;
        t.start();
        quint64 now = 0;
        while ((now = counters()[key]) < value && t.elapsed() < kPatienceMs) {
        }
        return now;
    }

    // Waits for a line on standard output that starts with `text`.
    bool awaitLine(const QString& text) {
        for (QString line = nextLine(); !line.isEmpty(); line = nextLine())
            if (line.startsWith(text)) return true;
        return false;
    }

    QProcess& process() { return process_; }

private:
    QProcess process_;
    QString servingLine_;
};

class Master {
public:
    explicit Master(quint16 port) {
        socket_.connectToHost(QStringLiteral("127.0.0.1"), port);
        connected_ = socket_.waitForConnected(kPatienceMs);
    }
    bool connected() const { return connected_; }

    void send(const QByteArray& frame) {
        socket_.write(frame);
        socket_.waitForBytesWritten(kPatienceMs);
    }
    // Collects bytes until `length` have come (or the peer closes); counts the chunks.
    QByteArray receive(int length, int* chunks = nullptr) {
        QByteArray got;
        if (chunks) *chunks = 0;
        while (got.size() < length) {
            if (socket_.bytesAvailable() == 0 && !socket_.waitForReadyRead(kPatienceMs)) break;
            got += socket_.readAll();
            if (chunks) ++*chunks;
        }
        return got;
    }
    QByteArray exchange(const QByteArray& frame, int length) {
        send(frame);
        return receive(length);
    }
    bool waitClosed() {
        return socket_.state() == QAbstractSocket::UnconnectedState ||
               socket_.waitForDisconnected(kPatienceMs);
    }
    QTcpSocket& socket() { return socket_; }

private:
    QTcpSocket socket_;
    bool connected_ = false;
};

const QByteArray kWeightRead = modbus::readRequest(1, 0, 8);
const int kWeightReply = modbus::readReplyLength(8);

QStringList tcp(QStringList more = {}) {
    return QStringList{"--listen", "127.0.0.1:0"} + more;
}

// A 32-bit value of `slave` as the station reads it: the low word at `address`.
qint32 readValue32(Master& m, int slave, int address) {
    const QByteArray reply =
        m.exchange(modbus::readRequest(slave, address, 2), modbus::readReplyLength(2));
    if (reply.size() != modbus::readReplyLength(2)) return -1;
    const auto word = [&](int i) {
        return static_cast<quint32>(static_cast<quint8>(reply[3 + 2 * i])) << 8 |
               static_cast<quint8>(reply[4 + 2 * i]);
    };
    return static_cast<qint32>(word(0) | word(1) << 16);
}

}  // namespace

TEST(SimProcess, AnnouncesItselfAndPrintsCountersOnTerm) {
    Sim sim(tcp());
    ASSERT_TRUE(sim.servingLine().startsWith("listening on 127.0.0.1:"))
        << sim.servingLine().toStdString();
    ASSERT_NE(sim.port(), 0);
    {
        Master m(sim.port());
        for (int i = 0; i < 3; ++i)
            EXPECT_FALSE(
                modbus::checkReadReply(m.exchange(kWeightRead, kWeightReply), 8).isEmpty());
        EXPECT_TRUE(modbus::isExceptionReply(m.exchange(modbus::readRequest(1, 22, 2), 5)));
        // Another slave's request gets no answer; ours after it does.
        m.send(modbus::readRequest(9, 0, 8));
        EXPECT_EQ(m.exchange(modbus::readRequest(1, 10, 4), 13).size(), 13);
    }
    const auto c = sim.counters(SIGTERM);
    EXPECT_EQ(c["reads.weight"], 3u);
    EXPECT_EQ(c["reads.display"], 1u);
    EXPECT_EQ(c["exceptions"], 1u);
    EXPECT_EQ(c["ignored"], 1u);
    EXPECT_TRUE(sim.process().waitForFinished(kPatienceMs));
    EXPECT_EQ(sim.process().exitCode(), 0);
}

TEST(SimProcess, ServesClientsOneAfterAnotherAndClosesAfterN) {
    Sim sim(tcp({"--close-after", "2"}));
    for (int client = 0; client < 3; ++client) {
        Master m(sim.port());
        ASSERT_TRUE(m.connected());
        EXPECT_EQ(m.exchange(kWeightRead, kWeightReply).size(), kWeightReply);
        EXPECT_EQ(m.exchange(kWeightRead, kWeightReply).size(), kWeightReply);
        EXPECT_TRUE(m.waitClosed()) << "closed after the second request";
    }
    const auto c = sim.counters();
    EXPECT_EQ(c["connections"], 3u);
    EXPECT_EQ(c["faults.close"], 3u);
    EXPECT_EQ(c["reads.weight"], 6u);
}

// A line's modules dose their own products at their own pace: once the first has gone over
// to its fine feed the others are still on their coarse feed, each at a weight of its own.
TEST(SimProcess, TheModulesOfALineDoseOutOfStep) {
    Sim sim(tcp({"--ids", "1,2,3", "--auto-cycle"}));
    Master m(sim.port());
    const auto phase = [&](int slave) { return readValue32(m, slave, 6) & 0xFF; };
    QElapsedTimer patience;
    patience.start();
    while (phase(1) != 2 && patience.elapsed() < 3 * kPatienceMs) QThread::msleep(20);
    const QSet<qint32> nets{readValue32(m, 1, 4), readValue32(m, 2, 4), readValue32(m, 3, 4)};
    EXPECT_EQ(phase(1), 2) << "module 1 never went over to its fine feed";
    EXPECT_EQ(phase(2), 1);
    EXPECT_EQ(phase(3), 1);
    EXPECT_EQ(nets.size(), 3);
}

TEST(SimFaults, EachOptionProducesItsFault) {
    const struct {
        const char* option;
        int length;
        std::function<bool(const QByteArray&)> faulty;
    } cases[] = {
        {"--bad-crc", kWeightReply, [](const QByteArray& r) { return !modbus::hasValidCrc(r); }},
        {"--extra-byte", kWeightReply + 1,
         [](const QByteArray& r) { return modbus::hasValidCrc(r.left(kWeightReply)); }},
        {"--exception", 5,
         [](const QByteArray& r) { return modbus::isExceptionReply(r) && r[2] == '\x04'; }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.option);
        // Every second request: the first answer shows the fault does not leak.
        Sim sim(tcp({c.option, "1", "--fault-every", "2"}));
        Master m(sim.port());
        EXPECT_TRUE(modbus::hasValidCrc(m.exchange(kWeightRead, kWeightReply)));
        const QByteArray reply = m.exchange(kWeightRead, c.length);
        EXPECT_EQ(reply.size(), c.length);
        EXPECT_TRUE(c.faulty(reply)) << reply.toHex().constData();
        EXPECT_EQ(sim.counters()["reads.weight"], 1u) << "a spoilt reply is not a served read";
    }
}

TEST(SimFaults, DroppedAndSilentRequestsGetNoReply) {
    Sim sim(tcp({"--drop", "1", "--fault-every", "2"}));
    Master m(sim.port());
    EXPECT_EQ(m.exchange(kWeightRead, kWeightReply).size(), kWeightReply);
    m.send(kWeightRead);  // dropped
    // The next reply is the only thing on the line: nothing came for the dropped one.
    EXPECT_EQ(m.exchange(modbus::readRequest(1, 10, 4), 13).size(), 13);
    EXPECT_EQ(m.socket().bytesAvailable(), 0);
    EXPECT_EQ(sim.awaitCounter("faults.drop", 1), 1u);

    Sim off(tcp({"--silent"}));
    Master n(off.port());
    n.send(kWeightRead);
    EXPECT_EQ(off.awaitCounter("faults.silent", 1), 1u);
    off.signal(SIGUSR2);  // switched on again
    ASSERT_TRUE(off.awaitLine("module on"));
    EXPECT_EQ(n.exchange(modbus::readRequest(1, 10, 4), 13).size(), 13);
    EXPECT_EQ(n.socket().bytesAvailable(), 0);
}

TEST(SimFaults, LateSplitAndWireSpeedRepliesTakeTheirTime) {
    {
        Sim sim(tcp({"--late", "1", "--late-ms", "300"}));
        Master m(sim.port());
        QElapsedTimer t;
        t.start();
        EXPECT_TRUE(modbus::hasValidCrc(m.exchange(kWeightRead, kWeightReply)));
        EXPECT_GE(t.elapsed(), 300);
        const auto c = sim.counters();
        EXPECT_EQ(c["faults.late"], 1u);
        EXPECT_EQ(c["reads.weight"], 0u) << "past the station's deadline: not served";
    }
    {
        Sim sim(tcp({"--split", "1", "--split-pause", "40"}));
        Master m(sim.port());
        int chunks = 0;
        m.send(kWeightRead);
        EXPECT_FALSE(modbus::checkReadReply(m.receive(kWeightReply, &chunks), 8).isEmpty());
        EXPECT_GE(chunks, 2);
        EXPECT_EQ(sim.counters()["reads.weight"], 1u) << "a split reply still arrives whole";
    }
    {
        Sim sim(tcp({"--baud", "1200"}));
        Master m(sim.port());
        QElapsedTimer t;
        t.start();
        EXPECT_EQ(m.exchange(kWeightRead, kWeightReply).size(), kWeightReply);
        // (8 + 21 + 7) characters of 10 bits (8N1) at 1200 baud.
        EXPECT_GE(t.elapsed(), 36 * 10 * 1000 / 1200);
    }
}

TEST(SimFaults, StaleBytesComeBetweenRequests) {
    Sim sim(tcp({"--stale", "1"}));
    Master m(sim.port());
    EXPECT_TRUE(modbus::hasValidCrc(m.exchange(kWeightRead, kWeightReply)));
    const QByteArray junk = m.receive(1);
    EXPECT_GE(junk.size(), 1);
    EXPECT_LE(junk.size(), 5);
    EXPECT_EQ(sim.counters()["faults.stale"], 1u);
    m.socket().readAll();
    EXPECT_TRUE(modbus::hasValidCrc(m.exchange(kWeightRead, kWeightReply)));
}

TEST(SimMasters, PymodbusRtuOverTcp) {
    Sim sim(tcp({"--slave", "5"}));
    QProcess py;
    py.start("/usr/bin/python3", {VORMELQ_SOURCE_DIR "/tests/sim/pymodbus_master.py", "127.0.0.1",
                                  QString::number(sim.port()), "5"});
    ASSERT_TRUE(py.waitForFinished(60000));
    const QByteArray out = py.readAllStandardOutput() + py.readAllStandardError();
    EXPECT_EQ(py.exitCode(), 0) << out.constData();
    EXPECT_TRUE(out.contains("done")) << out.constData();
}

namespace {

QString mbpoll(const QStringList& args) {
    QProcess p;
    p.start("mbpoll", QStringList{"-m", "rtu", "-a", "1", "-b", "9600", "-P", "none", "-0", "-1",
                                  "-t", "4:hex"} +
                          args);
    if (!p.waitForFinished(60000)) return {};
    return QString::fromUtf8(p.readAllStandardOutput());
}

void readsAndWritesThroughMbpoll(const QString& device) {
    const QString write = mbpoll({"-r", "16", device, "1234"});
    EXPECT_TRUE(write.contains("Written 1 references")) << write.toStdString();
    const QString read = mbpoll({"-r", "14", "-c", "6", device});
    EXPECT_TRUE(read.contains("[16]: \t0x04D2")) << read.toStdString();
    EXPECT_TRUE(read.contains("[14]: \t0x0014")) << read.toStdString();
    const QString display = mbpoll({"-r", "10", "-c", "4", device});
    EXPECT_TRUE(display.contains("[11]: \t0x007E")) << display.toStdString();
}

}  // namespace

TEST(SimMasters, MbpollOverItsOwnPty) {
    QTemporaryDir dir;
    const QString link = dir.filePath("module");
    Sim sim({"--pty", link});
    ASSERT_EQ(sim.servingLine(), "serving on " + link);
    readsAndWritesThroughMbpoll(link);
}

TEST(SimMasters, MbpollOverASocatPairToTheSerialOption) {
    QTemporaryDir dir;
    const QString a = dir.filePath("a"), b = dir.filePath("b");
    QProcess socat;
    socat.start("socat", {"pty,raw,echo=0,link=" + a, "pty,raw,echo=0,link=" + b});
    QElapsedTimer t;
    t.start();
    while (!(QFileInfo::exists(a) && QFileInfo::exists(b)) && t.elapsed() < kPatienceMs)
        socat.waitForReadyRead(20);
    ASSERT_TRUE(QFileInfo::exists(b));
    {
        Sim sim({"--serial", a});
        ASSERT_EQ(sim.servingLine(), "serving on " + a);
        readsAndWritesThroughMbpoll(b);
    }
    socat.terminate();
    socat.waitForFinished(kPatienceMs);
}
