#pragma once

#include <QElapsedTimer>
#include <QObject>
#include <QString>
#include <functional>
#include <map>
#include <memory>
#include <optional>

#include "counters.h"
#include "faults.h"
#include "module_model.h"
#include "slave_protocol.h"
#include "transports.h"

namespace sim {

struct SimOptions {
    QString host = QStringLiteral("127.0.0.1");
    int port = 3000;
    QString serial;  // serve a serial device instead of TCP
    QString pty;     // create a pty and link this path to it
    int slave = 1;
    // Several modules on one line: each address an independent module. Empty: `slave`.
    QList<int> ids;
    // The addresses SIGUSR2 switches off and on; empty: all of them.
    QList<int> toggled;
    int decimals = 0;
    int baud = 0;  // > 0: replies take as long as on a serial line at this speed
    bool verbose = false;
    bool silent = false;
    bool autoCycle = false;
    int statsIntervalMs = 0;
    quint32 randomStart = 1;
    std::optional<double> spread;  // steps; none: the model's default
    std::map<int, qint32> forced;  // cycle number -> steps off the theoretical weight
    FaultOptions faults;
};

// Serves the module over one transport: TCP (one session per connection, any
// number of them), a serial device or a pty. Single-threaded; every delay is a
// timer on the event loop.
class Simulator : public QObject {
    Q_OBJECT
public:
    explicit Simulator(const SimOptions& options, QObject* parent = nullptr);
    ~Simulator() override;

    // Starts serving; on failure returns false with `error` set.
    bool start(QString* error);
    // "listening on HOST:PORT" or "serving on PATH".
    QString servingLine() const { return servingLine_; }
    QString countersLine() const { return counters_.line(); }

    // A module switched off and on again (with several, those of --toggle).
    void setSilent(bool silent) { options_.silent = silent; }
    bool silent() const { return options_.silent; }

private:
    Session* newSession(Session::Write write, Session::Close close, bool canClose, QObject* owner);
    void receive(Session& session, const QByteArray& bytes);
    void handleFrame(Session& session, const QByteArray& frame, qint64 arrivedUs);
    // The speed the line runs at, for the silence that ends a partial request.
    int lineBaud() const { return options_.baud > 0 ? options_.baud : 9600; }
    void deliver(Session& session, QList<QByteArray> pieces, int firstDelayMs,
                 std::function<void()> done, qint64 notBeforeUs = 0);
    void afterRequest(Session& session, quint64 n, bool replied);
    // With --verbose: the request, its reply, the fault, and the instants the request came
    // in and its reply went out (none when it got none).
    void logRequest(const QByteArray& frame, const QByteArray& reply, const char* what,
                    qint64 arrivedUs, qint64 sentUs = -1) const;
    qint64 nowUs() const { return clock_.nsecsElapsed() / 1000; }
    void advanceModel();
    // The module a request's address picks: 0 is the first one's.
    ModuleModel* moduleAt(quint8 slave, int* address);
    bool isSilent(int address) const;

    SimOptions options_;
    std::map<int, std::unique_ptr<ModuleModel>> models_;
    FaultPlan plan_;
    Counters counters_;
    QElapsedTimer clock_;
    qint64 modelMs_ = 0;
    QString servingLine_;
    TransportKind transport_ = TransportKind::Tcp;
};

}  // namespace sim
