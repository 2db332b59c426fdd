#pragma once

// Test peers for the real links: a scripted TCP module on loopback, running on its own
// thread with blocking Qt calls like the station's link worker, and a socat pty pair.

#include <QByteArray>
#include <QList>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <atomic>
#include <functional>
#include <memory>
#include <mutex>

class QThread;

// Polls `condition` until it holds; false if it still fails after `capMs` (a guard
// against hanging, not a timing requirement).
bool waitUntil(const std::function<bool()>& condition, int capMs = 15000);

// What the module does with one 8-byte request.
struct PeerReply {
    QList<QByteArray> pieces;  // written one after another, with a short gap between
    bool closeAfter = false;   // hang up once the pieces are out
};
using Responder = std::function<PeerReply(const QByteArray& request)>;

// A module that answers from a small register bank: function 3 reads, function 6
// writes and echoes, register k starting at 0x1000 + k.
class RegisterBank {
public:
    RegisterBank();
    PeerReply answer(const QByteArray& request);

private:
    mutable std::mutex mutex_;
    quint16 registers_[128];
};

QByteArray readReplyFor(int slave, const QList<quint16>& values);
QByteArray registerString(const QList<quint16>& values);

class ScriptedTcpPeer {
public:
    explicit ScriptedTcpPeer(Responder responder, quint16 port = 0);
    ~ScriptedTcpPeer();
    ScriptedTcpPeer(const ScriptedTcpPeer&) = delete;
    ScriptedTcpPeer& operator=(const ScriptedTcpPeer&) = delete;

    quint16 port() const { return port_; }
    bool listening() const { return port_ != 0; }
    int requests() const { return requests_; }
    int connections() const { return connections_; }
    bool hasClient() const { return hasClient_; }
    // Sends bytes to the connected client outside any request; rawSent() counts the
    // sends written out (on loopback: in the client's kernel buffer).
    void sendRaw(const QByteArray& bytes);
    int rawSent() const { return rawSent_; }
    // Hangs up on the current client.
    void dropClient();
    // Sends zeros to the client as fast as it takes them, until turned off.
    void flood(bool on) { flood_ = on; }

private:
    void run(quint16 port);

    Responder responder_;
    std::atomic<quint16> port_{0};
    std::atomic<bool> started_{false};
    std::atomic<bool> stop_{false};
    std::atomic<int> requests_{0};
    std::atomic<int> connections_{0};
    std::atomic<bool> hasClient_{false};
    std::atomic<int> rawSent_{0};
    std::atomic<bool> flood_{false};
    std::mutex mutex_;
    QByteArray raw_;
    bool drop_ = false;
    std::unique_ptr<QThread> thread_;
};

// A device at the far end of a serial line that never falls silent: it writes `chunk`
// again and again, `gapMs` apart (0: as fast as the line takes it), until destroyed.
class Babbler {
public:
    Babbler(const QString& port, QByteArray chunk, int gapMs);
    ~Babbler();

private:
    std::atomic<bool> stop_{false};
    std::unique_ptr<QThread> thread_;
};

// A socat pseudo-terminal pair with fixed link names A and B in a private directory.
class PtyPair {
public:
    PtyPair();
    ~PtyPair();
    bool start();  // (re)starts socat and waits for both links
    void stop();   // ends socat: both ports vanish
    QString a() const { return dir_.filePath(QStringLiteral("ttyA")); }
    QString b() const { return dir_.filePath(QStringLiteral("ttyB")); }

private:
    QTemporaryDir dir_;
    QProcess socat_;
};
