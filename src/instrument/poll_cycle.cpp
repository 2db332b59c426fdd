#include "poll_cycle.h"

#include "display_map.h"
#include "weight_log.h"

PollOutcome pollCycle(PollContext& context) {
    Instrument& instrument = context.instrument;
    PollSink& sink = context.sink;
    PollOutcome outcome;
    // Each block's report and record go out while the next request is on the wire (the
    // last block's while the next cycle's first is), in the order read; a failure first
    // lets them all out.
    auto lost = [&] {
        if (!outcome.when.isValid()) outcome.when = context.now();
        instrument.runHeldWork();
        sink.communicationLost();
        return outcome;
    };

    const auto display = LeeDisplay(instrument);
    if (!display) return lost();
    outcome.moving = motionShown(*display);
    instrument.afterNextRequest([&sink, image = *display] { sink.displayRead(image); });

    outcome.weights = LeePeso(instrument);
    if (!outcome.weights) return lost();
    // Logged whatever the later blocks do: a weight that was shown is a weight that was
    // logged. A log that cannot be written keeps its lines for a later cycle and never
    // holds up the poll. The records kept over the readings take this same time, so
    // they agree with the log to the second.
    outcome.when = context.now();
    instrument.afterNextRequest([&sink, &log = context.log, when = outcome.when,
                                 weights = *outcome.weights, decimals = instrument.decimals(),
                                 locale = context.locale] {
        sink.weightsRead(weights);
        sink.weightsLogging();
        log.append(logLine(when, weights, decimals, locale));
        sink.weightsLogged(when, weights);
    });

    outcome.setpoints = LeeCortes(instrument);
    if (!outcome.setpoints) return lost();
    instrument.afterNextRequest(
        [&sink, setpoints = *outcome.setpoints] { sink.setpointsRead(setpoints); });

    const auto readback = LeeComando(instrument);
    if (!readback) return lost();
    instrument.afterNextRequest([&sink, readback = *readback] { sink.readbackRead(readback); });
    return outcome;
}
