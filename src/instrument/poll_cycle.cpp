#include "poll_cycle.h"

#include "weight_log.h"

PollOutcome pollCycle(PollContext& context) {
    Instrument& instrument = context.instrument;
    PollSink& sink = context.sink;
    PollOutcome outcome;
    auto lost = [&] {
        if (!outcome.when.isValid()) outcome.when = context.now();
        sink.communicationLost();
        return outcome;
    };

    const auto display = LeeDisplay(instrument);
    if (!display) return lost();
    sink.displayRead(*display);

    outcome.weights = LeePeso(instrument);
    if (!outcome.weights) return lost();
    sink.weightsRead(*outcome.weights);

    // Logged before the setpoints are read: a weight that was shown is a weight that
    // was logged, whatever the later blocks do. A log that cannot be written keeps its
    // lines for a later cycle and never holds up the poll. The records kept over the
    // readings take this same time, so they agree with the log to the second.
    outcome.when = context.now();
    context.log.append(
        logLine(outcome.when, *outcome.weights, instrument.decimals(), context.locale));

    outcome.setpoints = LeeCortes(instrument);
    if (!outcome.setpoints) return lost();
    sink.setpointsRead(*outcome.setpoints);

    const auto readback = LeeComando(instrument);
    if (!readback) return lost();
    sink.readbackRead(*readback);
    return outcome;
}
