#include <gtest/gtest.h>

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>

#include "broker.h"
#include "harness.h"
#include "mqtt_publisher.h"

namespace {

QString feedPath() {
    return QStringLiteral(VORMELQ_BINARY_DIR "/tests/plant/mqtt_feed");
}

// The feed process: readings published from its own outbox, killed for real.
class Feed {
public:
    Feed(const QString& outbox, int port, const QString& root, int firstValue) {
        process_.start(feedPath(),
                       {outbox, QString::number(port), root, QString::number(firstValue)});
        process_.waitForStarted();
    }
    ~Feed() { kill(); }
    // Adds `count` readings; true once they are in the outbox.
    bool add(int count, int last) {
        process_.write(QByteArray::number(count) + '\n');
        return waitFor([&] {
            output_ += process_.readAllStandardOutput();
            return output_.contains("added " + QByteArray::number(last) + '\n');
        });
    }
    void kill() {
        // Never kill(0): that is the whole process group, the test runner included.
        if (process_.processId() <= 0) return;
        ::kill(static_cast<pid_t>(process_.processId()), SIGKILL);
        process_.waitForFinished();
    }
    QByteArray quit() {
        process_.write("q\n");
        process_.waitForFinished();
        return output_ + process_.readAllStandardOutput();
    }

private:
    QProcess process_;
    QByteArray output_;
};

std::optional<qint64> seqOfPayload(const QByteArray& payload) {
    const QJsonObject object = QJsonDocument::fromJson(payload).object();
    if (!object.contains("seq")) return std::nullopt;
    return object.value("seq").toInteger();
}

// The sequence as a receiver sees it once resends are set aside: every payload's
// seq that goes beyond the ones before it.
QList<qint64> firstSightings(const QList<QByteArray>& payloads) {
    QList<qint64> seen;
    for (const QByteArray& payload : payloads) {
        const auto seq = seqOfPayload(payload);
        if (seq && (seen.isEmpty() || *seq > seen.last())) seen.append(*seq);
    }
    return seen;
}

QList<qint64> oneTo(int last) {
    QList<qint64> all;
    for (int i = 1; i <= last; ++i) all.append(i);
    return all;
}

MqttConfig configFor(int port, const QString& root) {
    MqttConfig config;
    config.host = QStringLiteral("127.0.0.1");
    config.port = port;
    config.topicRoot = root;
    config.keepalive = 5;
    return config;
}

}  // namespace

// Readings go out oldest first with their seq, through a broker stop and start and a
// station killed during the outage with its outbox on disk: the receiver misses none,
// each reading carries its own weights, and a late receiver finds the last one and
// "online"; a clean stop leaves "offline".
TEST(MqttDelivery, EverySeqInOrderAcrossBrokerRestartAndStationKill) {
    const QString root = QStringLiteral("vormelq/prueba");
    QTemporaryDir outbox;
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    // A durable session: what comes while the receiver is away waits for it.
    Subscriber receiver(broker.port(), root, {"-c", "-i", "historiador"});

    auto feed = std::make_unique<Feed>(outbox.path(), broker.port(), root, 1);
    ASSERT_TRUE(feed->add(100, 100));
    ASSERT_TRUE(
        waitFor([&] { return firstSightings(receiver.payloads("lectura")).size() == 100; }));

    broker.stop();
    ASSERT_TRUE(feed->add(50, 150));
    feed->kill();
    feed = std::make_unique<Feed>(outbox.path(), broker.port(), root, 151);
    ASSERT_TRUE(feed->add(50, 200));
    ASSERT_TRUE(broker.start());

    ASSERT_TRUE(
        waitFor([&] { return firstSightings(receiver.payloads("lectura")).size() == 200; }));
    const QList<QByteArray> payloads = receiver.payloads("lectura");
    EXPECT_EQ(firstSightings(payloads), oneTo(200));
    for (const QByteArray& payload : payloads) {
        const QJsonObject reading = QJsonDocument::fromJson(payload).object();
        EXPECT_DOUBLE_EQ(reading.value("neto").toDouble(), reading.value("seq").toInt() / 10.0)
            << payload.constData();
    }

    Subscriber late(broker.port(), root);
    ASSERT_TRUE(waitFor([&] {
        return late.payloads("estado") == QList<QByteArray>{"online"} &&
               !late.payloads("lectura").isEmpty();
    }));
    EXPECT_EQ(seqOfPayload(late.payloads("lectura").last()), 200);

    EXPECT_TRUE(feed->quit().contains("pending 0"));
    Subscriber afterStop(broker.port(), root);
    EXPECT_TRUE(
        waitFor([&] { return afterStop.payloads("estado") == QList<QByteArray>{"offline"}; }));
}

// A broker that refuses the credentials or whose certificate does not verify (another
// CA, or the right CA for another name) is named as such, and nothing reaches the
// receiver; the right CA, name and password get through, over TLS only.
TEST(MqttRefusals, CredentialsAndCertificateNamedNothingSentInClear) {
    TestCertificates files;
    ASSERT_TRUE(files.ok);
    MosquittoBroker broker(QStringLiteral("cafile %1\ncertfile %2\nkeyfile %3\n"
                                          "allow_anonymous false\npassword_file %4")
                               .arg(files.file("ca.crt"), files.file("server.crt"),
                                    files.file("server.key"), files.file("passwd")),
                           // Every loopback address, so that 127.0.0.2 reaches it under a
                           // name the certificate does not carry (no name is looked up:
                           // a minimal system may have no /etc/hosts).
                           QStringLiteral("0.0.0.0"));
    ASSERT_TRUE(broker.start());
    const QString root = QStringLiteral("vormelq/tls");
    Subscriber receiver(
        broker.port(), root,
        {"-h", "127.0.0.1", "--cafile", files.file("ca.crt"), "-u", "estacion", "-P", "secreta1"});

    struct Case {
        const char* host;
        const char* ca;
        const char* password;
        const char* reason;
    };
    const Case cases[] = {
        {"127.0.0.1", "ca.crt", "otra-clave", "usuario o la clave"},
        {"127.0.0.1", "otra.crt", "secreta1", "certificado"},
        {"127.0.0.2", "ca.crt", "secreta1", "certificado"},
    };
    for (const Case& c : cases) {
        QTemporaryDir outbox;
        MqttConfig config = configFor(broker.port(), root);
        config.host = c.host;
        config.caFile = files.file(c.ca);
        config.user = QStringLiteral("estacion");
        config.password = c.password;
        MqttPublisher publisher(config, outbox.path(), 1);
        publisher.start();
        publisher.lectura(QDateTime::currentDateTimeUtc(), {1, 0, 1, 0, 0});
        EXPECT_TRUE(waitFor([&] { return publisher.status().reason.contains(c.reason); }))
            << c.host << " " << c.ca << ": " << publisher.status().reason.toStdString();
        EXPECT_FALSE(publisher.status().connected);
        EXPECT_EQ(publisher.status().pending, 1);
    }
    EXPECT_EQ(receiver.lines(), QStringList());

    QTemporaryDir outbox;
    MqttConfig config = configFor(broker.port(), root);
    config.host = QStringLiteral("127.0.0.1");
    config.caFile = files.file("ca.crt");
    config.user = QStringLiteral("estacion");
    config.password = QStringLiteral("secreta1");
    MqttPublisher publisher(config, outbox.path(), 1);
    publisher.comunicacion(QDateTime::currentDateTimeUtc(), true);
    publisher.start();
    publisher.lectura(QDateTime::currentDateTimeUtc(), {1, 0, 1, 0, 0});
    EXPECT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() == 1; }));
    EXPECT_TRUE(waitFor([&] { return receiver.payloads("comunicacion").size() == 1; }));
    EXPECT_TRUE(
        waitFor([&] { return publisher.status().connected && publisher.status().pending == 0; }));
}

// Listeners that take the connection and never answer, one spoken to in TLS: the
// publisher says the broker does not answer, its TLS bytes carry no secret, and it
// stops without waiting for them.
TEST(MqttBlackHole, SilentListenerNeverHoldsTheStop) {
    TestCertificates files;
    ASSERT_TRUE(files.ok);
    QProcess holes;
    const QList<int> ports = startBlackHoles(holes);
    ASSERT_EQ(ports.size(), 2);

    QTemporaryDir plainDir;
    QTemporaryDir tlsDir;
    MqttPublisher plain(configFor(ports[0], QStringLiteral("vormelq/claro")), plainDir.path(), 1);
    MqttConfig tlsConfig = configFor(ports[1], QStringLiteral("vormelq/cifrado"));
    tlsConfig.caFile = files.file("ca.crt");
    tlsConfig.user = QStringLiteral("estacion");
    tlsConfig.password = QStringLiteral("secreta1");
    MqttPublisher tls(tlsConfig, tlsDir.path(), 1);
    plain.start();
    tls.start();
    EXPECT_TRUE(waitFor([&] { return plain.status().reason == "el servidor no responde"; }));
    EXPECT_TRUE(waitFor([&] { return tls.status().reason == "el servidor no responde"; }));
    plain.stop();
    tls.stop();

    holes.closeWriteChannel();
    holes.waitForFinished();
    const QByteArray heard = holes.readAll();
    const qsizetype split = heard.indexOf("\n--\n");
    ASSERT_GE(split, 0);
    EXPECT_TRUE(heard.left(split).contains("vormelq/claro/estado"));  // MQTT CONNECT, in clear
    const QByteArray tlsBytes = heard.mid(split + 4);
    ASSERT_FALSE(tlsBytes.isEmpty());
    EXPECT_EQ(tlsBytes.front(), '\x16');  // a TLS handshake record
    EXPECT_FALSE(tlsBytes.contains("secreta1"));
    EXPECT_FALSE(tlsBytes.contains("vormelq/cifrado"));
}

// Two stations given one Tema by hand (two computers alike): each its own client at the
// broker, so neither takes the other's connection over.
TEST(MqttDelivery, TwoStationsOfOneRootAreTwoClients) {
    const QString root = QStringLiteral("vormelq/igual");
    MosquittoBroker broker;
    ASSERT_TRUE(broker.start());
    Subscriber receiver(broker.port(), root);
    QTemporaryDir first;
    QTemporaryDir second;
    Feed one(first.path(), broker.port(), root, 1);
    Feed other(second.path(), broker.port(), root, 1001);
    ASSERT_TRUE(one.add(10, 10));
    ASSERT_TRUE(other.add(10, 1010));
    ASSERT_TRUE(waitFor([&] { return receiver.payloads("lectura").size() >= 20; }));
    static const QRegularExpression client(
        QStringLiteral("New client connected from \\S+ as (\\S+)"));
    QStringList ids;
    for (auto it = client.globalMatch(broker.log()); it.hasNext();) ids << it.next().captured(1);
    ids.removeIf([](const QString& id) { return !id.startsWith(QStringLiteral("vormelq")); });
    EXPECT_EQ(ids.size(), 2) << ids.join(' ').toStdString();
    EXPECT_NE(ids.value(0).toStdString(), ids.value(1).toStdString());
    EXPECT_FALSE(broker.log().contains("already connected")) << broker.log().toStdString();
}
