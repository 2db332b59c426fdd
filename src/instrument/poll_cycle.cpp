#include "poll_cycle.h"

#include "weight_log.h"

void pollCycle(PollContext& context) {
    Instrument& instrument = context.instrument;
    PollSink& sink = context.sink;

    const auto display = LeeDisplay(instrument);
    if (!display) return sink.communicationLost();
    sink.displayRead(*display);

    const auto weights = LeePeso(instrument);
    if (!weights) return sink.communicationLost();
    sink.weightsRead(*weights);

    // Logged before the setpoints are read: a weight that was shown is a weight that
    // was logged, whatever the later blocks do. A log that cannot be written keeps its
    // lines for a later cycle and never holds up the poll.
    context.log.append(logLine(context.now(), *weights, instrument.decimals(), context.locale));

    const auto setpoints = LeeCortes(instrument);
    if (!setpoints) return sink.communicationLost();
    sink.setpointsRead(*setpoints);

    const auto readback = LeeComando(instrument);
    if (!readback) return sink.communicationLost();
    sink.readbackRead(*readback);
}
