// The pure work of one transaction and one cycle: sealing a request, checking a reply,
// turning register strings into readings. These run on the link worker for every
// block, so they must stay far below the line time of a single character.
#include <benchmark/benchmark.h>

#include <QLocale>

#include "crc16.h"
#include "display_map.h"
#include "frames.h"
#include "link.h"
#include "readers.h"
#include "register_map.h"
#include "weight_format.h"

namespace {

QByteArray bytesOf(int size) {
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = static_cast<char>(0x31 * i + 7);
    return bytes;
}

// A valid reply to a read of `count` registers, as the module sends it.
QByteArray replyFor(int count) {
    QByteArray body;
    body.append('\x01');
    body.append('\x03');
    body.append(static_cast<char>(2 * count));
    body.append(bytesOf(2 * count));
    return modbus::withCrc(body);
}

void BM_Crc16(benchmark::State& state) {
    const QByteArray message = bytesOf(static_cast<int>(state.range(0)));
    for (auto _ : state) benchmark::DoNotOptimize(crc16(message));
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * state.range(0));
}
// 6: a request body; 19: the longest reply body of a cycle (weight block); 255: a
// long frame, to show the cost per byte.
BENCHMARK(BM_Crc16)->Arg(6)->Arg(19)->Arg(255);

void BM_ReadRequest(benchmark::State& state) {
    for (auto _ : state) benchmark::DoNotOptimize(modbus::readRequest(1, RegPeso, 8));
}
BENCHMARK(BM_ReadRequest);

// The reply check of every block of a cycle: 4, 8, 6, 3 and 3 registers.
void BM_CheckReadReply(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const QByteArray reply = replyFor(count);
    for (auto _ : state) benchmark::DoNotOptimize(modbus::checkReadReply(reply, count));
}
BENCHMARK(BM_CheckReadReply)->Arg(3)->Arg(4)->Arg(6)->Arg(8);

// A corrupted reply must cost no more than a good one: the check stops at the CRC.
void BM_CheckReadReplyBadCrc(benchmark::State& state) {
    QByteArray reply = replyFor(8);
    reply[reply.size() - 1] = static_cast<char>(reply.back() ^ 0x5A);
    for (auto _ : state) benchmark::DoNotOptimize(modbus::checkReadReply(reply, 8));
}
BENCHMARK(BM_CheckReadReplyBadCrc);

void BM_ReplyComplete(benchmark::State& state) {
    const QByteArray partial = replyFor(8).left(11);
    for (auto _ : state) benchmark::DoNotOptimize(replyComplete(partial, 21));
}
BENCHMARK(BM_ReplyComplete);

void BM_DecodeWeights(benchmark::State& state) {
    const QByteArray block = bytesOf(16);
    for (auto _ : state) benchmark::DoNotOptimize(decodeWeights(block, 2));
}
BENCHMARK(BM_DecodeWeights);

void BM_DecodeSetpoints(benchmark::State& state) {
    const QByteArray first = bytesOf(12);
    const QByteArray second = bytesOf(6);
    for (auto _ : state) benchmark::DoNotOptimize(decodeSetpoints(first, second, 2));
}
BENCHMARK(BM_DecodeSetpoints);

void BM_DecodeReadback(benchmark::State& state) {
    const QByteArray block = bytesOf(6);
    for (auto _ : state) benchmark::DoNotOptimize(decodeReadback(block));
}
BENCHMARK(BM_DecodeReadback);

void BM_SegmentsFromDisplay(benchmark::State& state) {
    const QByteArray display = bytesOf(8);
    for (auto _ : state) benchmark::DoNotOptimize(segmentsFromDisplay(display));
}
BENCHMARK(BM_SegmentsFromDisplay);

// Every cycle formats three weights for the labels and the log, and five setpoints.
void BM_FormatWeight(benchmark::State& state) {
    const QLocale locale(QLocale::Spanish, QLocale::Spain);
    for (auto _ : state) benchmark::DoNotOptimize(formatWeight(-12345.67, 2, locale));
}
BENCHMARK(BM_FormatWeight);

}  // namespace

BENCHMARK_MAIN();
