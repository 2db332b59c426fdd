#pragma once

#include <array>

#include "frames.h"
#include "register_map.h"

// What one poll cycle costs on a serial line, from the frame sizes alone: for every
// transaction the 8-byte request, the 2n+5-byte reply and the two 3.5-character
// silences that delimit them, at 10 bits a character (8N1). The simulated module's
// wire-speed emulation uses the same rule, with 3.5 characters at every speed (the
// protocol's fixed 1.75 ms above 19200 baud is not applied).
namespace wire {

constexpr int kBitsPerChar = 10;
constexpr double kGapChars = 3.5;
constexpr int kRequestBytes = 8;

// The five blocks in the order the cycle reads them.
constexpr std::array<Block, 5> kCycleBlocks{kDisplayBlock, kWeightBlock, kSetpointBlock1,
                                            kSetpointBlock2, kCommandBlock};

constexpr double transactionChars(const Block& block) {
    return kRequestBytes + modbus::readReplyLength(block.count) + 2 * kGapChars;
}

constexpr double cycleChars() {
    double chars = 0;
    for (const Block& block : kCycleBlocks) chars += transactionChars(block);
    return chars;
}

// The line's lower bound for one cycle, in milliseconds.
constexpr double cycleMs(int baud) {
    return baud > 0 ? cycleChars() * kBitsPerChar * 1000.0 / baud : 0.0;
}

}  // namespace wire
