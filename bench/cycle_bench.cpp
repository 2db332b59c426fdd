// One poll cycle's five block reads, end to end through our own link code, against the
// simulated module: over loopback TCP (SocketLink) and over a pty pair (SerialLink).
//
// VORMELQ_BENCH_BAUD sets the simulator's wire-speed emulation (0: none, the replies go
// out at once, so the figure is our own overhead plus the simulator's). With a baud
// rate the counters compare the cycle with the line's lower bound. VORMELQ_SIM_TCP and
// VORMELQ_SIM_PTY point at a running simulator instead of starting one, so other
// masters can be measured against the same one in the same run.
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <chrono>
#include <memory>

#include "frames.h"
#include "readers.h"
#include "register_map.h"
#include "serial_link.h"
#include "sim_process.h"
#include "socket_link.h"
#include "wire_time.h"

namespace {

int envInt(const char* name, int fallback) {
    bool ok = false;
    const int value = qEnvironmentVariableIntValue(name, &ok);
    return ok ? value : fallback;
}

// The reads of Timer1_Timer, in its order, without the window and the log.
bool readCycle(Instrument& instrument) {
    const auto display = LeeDisplay(instrument);
    const auto weights = LeePeso(instrument);
    const auto setpoints = LeeCortes(instrument);
    const auto readback = LeeComando(instrument);
    return display && weights && setpoints && readback;
}

// The line's lower bound for one cycle: each block's 8-byte request and its reply with
// two silences, by the rule the simulated module emulates the line with. On a serial line
// the simulator counts only its own turnaround and the master keeps the silence before
// each request, which above 19200 baud is longer than 3.5 characters.
double wireCycleMs(int baud, const QString& transport) {
    const bool serial = transport == QLatin1String("pty");
    qint64 us = 0;
    for (const Block& block :
         {kDisplayBlock, kWeightBlock, kSetpointBlock1, kSetpointBlock2, kCommandBlock}) {
        us += sim::wireTimeUs(8, modbus::readReplyLength(block.count), baud, serial ? 1 : 2);
        if (serial) us += interFrameSilenceNs(baud) / 1000;
    }
    return us / 1000.0;
}

std::unique_ptr<Link> openLink(const QString& transport, const SimProcess& sim, int baud,
                               QString* error) {
    if (transport == QLatin1String("tcp")) {
        auto link = std::make_unique<SocketLink>(sim.host(), sim.port());
        link->connectToModule();
        link->waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
        if (!link->isConnected()) *error = QStringLiteral("no connection to the simulator");
        return link;
    }
    // A pty carries bytes at memory speed whatever the setting; the baud rate only
    // matters to the simulator's emulation.
    auto link =
        std::make_unique<SerialLink>(sim.ptyPath(), QString::number(baud > 0 ? baud : 9600));
    *error = link->open();
    return link;
}

void pollCycle(benchmark::State& state, const QString& transport, int baud) {
    SimProcess sim(transport, baud);
    if (!sim.error().isEmpty()) {
        state.SkipWithError(qPrintable(sim.error()));
        return;
    }
    QString error;
    const std::unique_ptr<Link> link = openLink(transport, sim, baud, &error);
    if (!error.isEmpty()) {
        state.SkipWithError(qPrintable(error));
        return;
    }
    Instrument instrument(*link, 1, 0);
    if (!readCycle(instrument)) {  // also warms up the connection and the simulator
        state.SkipWithError("the simulated module did not answer");
        return;
    }
    int failures = 0;
    const auto start = std::chrono::steady_clock::now();
    for (auto _ : state)
        if (!readCycle(instrument)) ++failures;
    const std::chrono::duration<double, std::milli> elapsed =
        std::chrono::steady_clock::now() - start;

    const double cycleMs = elapsed.count() / static_cast<double>(state.iterations());
    state.counters["cycle_ms"] = cycleMs;
    state.counters["cycles_per_s"] = 1000.0 / cycleMs;
    state.counters["failed_cycles"] = failures;
    if (baud > 0) {
        const double wireMs = wireCycleMs(baud, transport);
        state.counters["wire_ms"] = wireMs;
        state.counters["ratio_wire"] = cycleMs / wireMs;
    }
}

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    const int baud = envInt("VORMELQ_BENCH_BAUD", 0);
    const double minTime = envInt("VORMELQ_BENCH_MIN_MS", 2000) / 1000.0;
    for (const char* transport : {"tcp", "pty"}) {
        const QString name = QStringLiteral("PollCycle/%1/baud:%2").arg(transport).arg(baud);
        benchmark::RegisterBenchmark(qPrintable(name), pollCycle, QString::fromLatin1(transport),
                                     baud)
            ->Unit(benchmark::kMillisecond)
            ->UseRealTime()
            ->MinTime(minTime);
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
