#include "readers.h"

#include <QDeadlineTimer>
#include <utility>

#include "link.h"
#include "transactions.h"
#include "weight_format.h"

WeightReading decodeWeights(const QByteArray& block, int decimals) {
    WeightReading w;
    w.gross = stepsWeight(regs::s32(block, 0), decimals);
    w.tare = stepsWeight(regs::u32(block, 4), decimals);
    w.net = stepsWeight(regs::s32(block, 8), decimals);
    w.state = regs::u8(block, 12);
    w.task = regs::u8(block, 13);
    // Bytes 14 and 15 (the command register) come with the block and mean nothing here.
    return w;
}

Setpoints decodeSetpoints(const QByteArray& first, const QByteArray& second, int decimals) {
    Setpoints s;
    s.zeroBand = stepsWeight(regs::u32(first, 0), decimals);
    s.coarse = stepsWeight(regs::u32(first, 4), decimals);
    s.fine = stepsWeight(regs::u32(first, 8), decimals);
    s.target = stepsWeight(regs::u32(second, 0), decimals);
    s.percentage = regs::u16(second, 4);
    return s;
}

CommandReadback decodeReadback(const QByteArray& block) {
    CommandReadback r;
    r.command = regs::u8(block, 0);
    r.result = regs::u8(block, 1);
    r.data = regs::u32(block, 2);
    for (int i = 0; i < 4; ++i) r.dataBytes[i] = regs::u8(block, 2 + i);
    return r;
}

Instrument::Instrument(Link& link, int slaveId, int decimals)
    : link_(link), slaveId_(slaveId), decimals_(decimals) {}

void Instrument::setBetweenTransactions(std::function<bool()> hook) {
    betweenTransactions_ = std::move(hook);
}

void Instrument::afterNextRequest(std::function<void()> work) {
    link_.afterNextRequest(std::move(work));
}

void Instrument::runHeldWork() {
    link_.runHeldWork();
}

void Instrument::connectionWait() {
    link_.waitConnected(QDeadlineTimer(linkexchange::kConnectTimeoutMs));
}

QByteArray Instrument::blockRead(Block block) {
    QByteArray data;
    for (int attempt = 0; attempt < attempts_.count && data.isEmpty() && !stopRequested();
         ++attempt) {
        if (betweenTransactions_ && !betweenTransactions_()) break;
        data = RxD(link_, slaveId_, block.start, block.count, attempts_.replyTimeoutMs);
    }
    return data;
}

std::optional<DisplayImage> LeeDisplay(Instrument& instrument) {
    instrument.connectionWait();
    const QByteArray block = instrument.blockRead(kDisplayBlock);
    if (block.isEmpty()) return std::nullopt;
    return block;
}

std::optional<WeightReading> LeePeso(Instrument& instrument) {
    instrument.connectionWait();
    const QByteArray block = instrument.blockRead(kWeightBlock);
    if (block.isEmpty()) return std::nullopt;
    return decodeWeights(block, instrument.decimals());
}

std::optional<Setpoints> LeeCortes(Instrument& instrument) {
    instrument.connectionWait();
    // The second block is read even after the first failed: the module then sees the
    // same request pattern in every cycle, whatever answered.
    const QByteArray first = instrument.blockRead(kSetpointBlock1);
    const QByteArray second = instrument.blockRead(kSetpointBlock2);
    if (first.isEmpty() || second.isEmpty()) return std::nullopt;
    return decodeSetpoints(first, second, instrument.decimals());
}

std::optional<CommandReadback> LeeComando(Instrument& instrument) {
    instrument.connectionWait();
    const QByteArray block = instrument.blockRead(kCommandBlock);
    if (block.isEmpty()) return std::nullopt;
    return decodeReadback(block);
}
