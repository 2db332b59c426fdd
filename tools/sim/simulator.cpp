#include "simulator.h"

#include <QTimer>
#include <cmath>
#include <cstdio>

#include "wire_time.h"

namespace sim {

namespace {
// Junk sent this shortly before a request arrived may still have been in flight when
// the master sent the request, so it can land in that request's reply.
constexpr qint64 kStaleInFlightUs = 1000;

QString hex(const QByteArray& bytes) {
    return QString::fromLatin1(bytes.toHex(' '));
}

}  // namespace

Simulator::Simulator(const SimOptions& options, QObject* parent)
    : QObject(parent), options_(options), plan_(options.faults, options.randomStart) {
    if (options_.ids.isEmpty()) options_.ids = {options_.slave};
    const bool several = options_.ids.size() > 1;
    for (int id : options_.ids) {
        // Each module its own random course, so the modules of a line read differently.
        auto model = std::make_unique<ModuleModel>(
            options.decimals, options.randomStart + static_cast<quint32>(several ? id : 0));
        if (several) model->setLinePlace(linePlace(id));
        model->setAutoCycle(options.autoCycle);
        if (options.spread) model->setSpread(*options.spread);
        model->setForced(options.forced);
        // The truth a test compares the station's record with.
        model->setSettledReport([decimals = options.decimals, id, several](int cycle, qint32 net) {
            const QString weight = QString::number(net / std::pow(10.0, decimals), 'f', decimals);
            if (several)
                std::fprintf(stderr, "module %d cycle %d final %s\n", id, cycle,
                             qPrintable(weight));
            else
                std::fprintf(stderr, "cycle %d final %s\n", cycle, qPrintable(weight));
            std::fflush(stderr);
        });
        models_[id] = std::move(model);
    }
    clock_.start();
}

ModuleModel* Simulator::moduleAt(quint8 slave, int* address) {
    *address = slave == 0 ? options_.ids.front() : slave;
    const auto found = models_.find(*address);
    return found == models_.end() ? nullptr : found->second.get();
}

bool Simulator::isSilent(int address) const {
    return options_.silent && (options_.toggled.isEmpty() || options_.toggled.contains(address));
}

Simulator::~Simulator() = default;

bool Simulator::start(QString* error) {
    if (options_.statsIntervalMs > 0) {
        auto* stats = new QTimer(this);
        connect(stats, &QTimer::timeout, this, [this] {
            std::printf("%s\n", qPrintable(countersLine()));
            std::fflush(stdout);
        });
        stats->start(options_.statsIntervalMs);
    }
    const TransportHooks hooks{
        this,
        [this](Session::Write write, Session::Close close, bool canClose, QObject* owner) {
            return newSession(std::move(write), std::move(close), canClose, owner);
        },
        [this](Session& s, const QByteArray& bytes) { receive(s, bytes); },
        [this] { ++counters_.connections; }};
    if (!options_.pty.isEmpty()) {
        transport_ = TransportKind::Pty;
        servingLine_ = servePty(hooks, options_.pty, error);
    } else if (!options_.serial.isEmpty()) {
        transport_ = TransportKind::Serial;
        servingLine_ = serveSerial(hooks, options_.serial, lineBaud(), error);
    } else {
        servingLine_ = serveTcp(hooks, options_.host, options_.port, error);
    }
    return !servingLine_.isEmpty();
}

Session* Simulator::newSession(Session::Write write, Session::Close close, bool canClose,
                               QObject* owner) {
    auto* s = new Session(owner, std::move(write), std::move(close), canClose);
    connect(&s->silence, &QTimer::timeout, s, [this, s] {
        const qint64 before = s->frames.droppedBytes();
        s->frames.dropPartial();
        counters_.garbageBytes += static_cast<quint64>(s->frames.droppedBytes() - before);
    });
    return s;
}

void Simulator::receive(Session& s, const QByteArray& bytes) {
    if (!s.frames.hasPartial()) s.partialSinceUs = nowUs();
    s.frames.append(bytes);
    while (auto frame = s.frames.next()) handleFrame(s, *frame, s.partialSinceUs);
    if (s.frames.hasPartial())
        s.silence.start(silenceMs(lineBaud()));
    else
        s.silence.stop();
}

void Simulator::advanceModel() {
    const qint64 now = clock_.elapsed();
    for (auto& [id, model] : models_) model->advance(now - modelMs_);
    modelMs_ = now;
}

void Simulator::logRequest(const QByteArray& frame, const QByteArray& reply, const char* what,
                           qint64 arrivedUs, qint64 sentUs) const {
    if (!options_.verbose) return;
    // The instants on the simulator's clock, in microseconds, for timing the master.
    const QByteArray out = sentUs < 0 ? QByteArray() : " out=" + QByteArray::number(sentUs);
    std::fprintf(stderr, "rx [%s] tx [%s] %s in=%lld%s\n", qPrintable(hex(frame)),
                 qPrintable(hex(reply)), what, static_cast<long long>(arrivedUs), out.constData());
    std::fflush(stderr);
}

void Simulator::handleFrame(Session& s, const QByteArray& frame, qint64 arrivedUs) {
    advanceModel();
    int address = 0;
    ModuleModel* model = moduleAt(static_cast<quint8>(frame[0]), &address);
    if (model == nullptr) {
        ++counters_.ignored;
        logRequest(frame, {}, "other slave", arrivedUs);
        return;
    }
    if (s.closing) return;
    s.staleTimer.stop();
    ++counters_.requests;
    ++s.requests;
    const quint64 n = counters_.requests;
    if (isSilent(address)) {
        ++counters_.faultsSilent;
        logRequest(frame, {}, "silent", arrivedUs);
        afterRequest(s, n, false);
        return;
    }
    const Fault fault = plan_.faultFor(n);
    if (fault == Fault::Drop) {
        counters_.countFault(fault);
        logRequest(frame, {}, "fault drop", arrivedUs);
        afterRequest(s, n, false);
        return;
    }
    Answer a;
    if (fault == Fault::Exception)
        a = {exceptionReply(static_cast<quint8>(frame[0]), static_cast<quint8>(frame[1]),
                            kDeviceFailure),
             RequestKind::Refused};
    else
        a = answer(*model, frame, address);

    const QList<QByteArray> pieces = faultedPieces(plan_, fault, a.reply);
    qint64 dueUs = 0;
    if (options_.baud > 0 && transport_ != TransportKind::Serial) {
        const int gaps = transport_ == TransportKind::Pty ? 1 : 2;
        dueUs = arrivedUs + wireTimeUs(static_cast<int>(frame.size()),
                                       static_cast<int>(a.reply.size()), options_.baud, gaps);
    }
    const int delayMs = fault == Fault::Late ? plan_.options().lateMs : 0;
    const RequestKind kind = a.kind;
    deliver(
        s, pieces, delayMs,
        [this, &s, n, fault, kind, arrivedUs, frame, reply = pieces.join()] {
            // Once the reply's last byte is out, with when it went.
            logRequest(frame, reply, faultName(fault), arrivedUs, nowUs());
            counters_.countReply(fault, kind, s.staleSentUs >= arrivedUs - kStaleInFlightUs);
            afterRequest(s, n, true);
        },
        dueUs);
}

void Simulator::deliver(Session& s, QList<QByteArray> pieces, int firstDelayMs,
                        std::function<void()> done, qint64 notBeforeUs) {
    if (pieces.isEmpty()) {
        done();
        return;
    }
    auto sendFirst = [this, &s, pieces, done]() mutable {
        s.write(pieces.takeFirst());
        if (pieces.isEmpty())
            done();
        else
            deliver(s, pieces, plan_.options().splitPauseMs, done);
    };
    auto onTime = [this, &s, notBeforeUs, sendFirst] {
        atMicrosecond(clock_, notBeforeUs, &s, sendFirst);
    };
    if (firstDelayMs <= 0)
        onTime();
    else
        QTimer::singleShot(firstDelayMs, Qt::PreciseTimer, &s, onTime);
}

void Simulator::afterRequest(Session& s, quint64 n, bool replied) {
    const FaultOptions& f = plan_.options();
    if (replied && plan_.staleAfter(n)) {
        const QByteArray junk = plan_.staleBytes();
        s.staleTimer.disconnect();
        QObject::connect(&s.staleTimer, &QTimer::timeout, &s, [this, &s, junk] {
            // Only between requests: junk inside a request would just be a bad request.
            if (s.closing || s.frames.hasPartial()) return;
            ++counters_.faultsStale;
            s.staleSentUs = nowUs();
            s.write(junk);
        });
        s.staleTimer.start(f.staleDelayMs);
    }
    if (s.canClose && f.closeAfter > 0 && s.requests >= static_cast<quint64>(f.closeAfter) &&
        !s.closing) {
        s.closing = true;
        ++counters_.faultsClose;
        s.close();
    }
}

}  // namespace sim
