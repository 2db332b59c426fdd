#pragma once

// Debian's mosquitto started for real on loopback, with a configuration of the test's
// own, and mosquitto_sub as the independent subscriber.

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class MosquittoBroker {
public:
    // `listenerLines` go under the listener (TLS files, password file...); without a
    // password file anybody may connect.
    explicit MosquittoBroker(const QString& listenerLines = QStringLiteral("allow_anonymous true"),
                             const QString& bindAddress = QStringLiteral("127.0.0.1"));
    ~MosquittoBroker();
    bool start();  // the same port every time; true once it listens
    void stop();   // as a service stop: sessions and queued messages saved
    int port() const { return port_; }
    QString log();  // what it logged so far
    QString path(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QProcess process_;
    QByteArray log_;
    int port_ = 0;
};

// mosquitto_sub printing "topic payload" lines for every topic under `root`.
class Subscriber {
public:
    // `options`: extra mosquitto_sub options (TLS, credentials, a durable session...).
    Subscriber(int port, const QString& root, const QStringList& options = {});
    ~Subscriber();
    QStringList lines();  // everything received so far
    // The payloads received on `root`/`subtopic`, in order.
    QList<QByteArray> payloads(const QString& subtopic);

private:
    QProcess process_;
    QString root_;
    QByteArray output_;
};

// A CA, a broker certificate signed by it for the name "localhost", another CA that
// signed nothing, and a password file with user "estacion" / clave "secreta1".
// Starts tests/plant/black_hole.py in `holes`: two loopback listeners that accept and
// never answer. Their ports, or none when it did not start.
QList<int> startBlackHoles(QProcess& holes);

struct TestCertificates {
    TestCertificates();
    bool ok = false;
    QTemporaryDir dir;
    QString file(const QString& name) const { return dir.filePath(name); }
};
