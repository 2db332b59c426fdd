#include "module_model.h"

#include <algorithm>
#include <cmath>

namespace sim {

namespace {

quint16 lowWord(quint32 v) {
    return static_cast<quint16>(v & 0xFFFFu);
}
quint16 highWord(quint32 v) {
    return static_cast<quint16>(v >> 16);
}
quint32 joinWords(quint16 low, quint16 high) {
    return low | (static_cast<quint32>(high) << 16);
}

void setLow(quint32& v, quint16 word) {
    v = (v & 0xFFFF0000u) | word;
}
void setHigh(quint32& v, quint16 word) {
    v = (v & 0x0000FFFFu) | (static_cast<quint32>(word) << 16);
}

// The four 32-bit setpoints, low word at the even address: 14, 16, 18 and 20. Null
// for any other register.
template <typename S>
auto setpointPair(S& setpoints, int address) -> decltype(&setpoints.zeroBand) {
    if (address < 14 || address > 21) return nullptr;
    decltype(&setpoints.zeroBand) pairs[] = {&setpoints.zeroBand, &setpoints.coarse,
                                             &setpoints.fine, &setpoints.theoretical};
    return pairs[(address - 14) / 2];
}

bool isHighWord(int address) {
    return address % 2 == 1;
}

}  // namespace

LinePlace linePlace(int address) {
    // Eight places, as many as one station drives; further addresses take them again.
    const int place = std::max(0, address - 1) % 8;
    LinePlace line;
    Setpoints& s = line.setpoints;
    s.theoretical = 1000 + 250 * static_cast<quint32>(place);
    // The cut-offs keep a lone module's share of the theoretical weight.
    s.coarse = s.theoretical * 4 / 5;
    s.fine = s.theoretical * 49 / 50;
    line.feedTime = 1 + 0.5 * place;
    return line;
}

ModuleModel::ModuleModel(int decimals, quint32 randomStart)
    : decimals_(qBound(0, decimals, kDigits - 1)), random_(randomStart) {}

qint32 ModuleModel::gross() const {
    return static_cast<qint32>(std::llround(load_)) - zeroOffset_;
}

void ModuleModel::addLoad(double steps) {
    load_ = std::max(0.0, load_ + steps);
}

// The feed rates scale with the target so a cycle takes a few seconds whatever the
// setpoints: long enough to watch, short enough for a test.
double ModuleModel::coarseRate() const {
    return std::max(1.0, setpoints_.theoretical / 4.0 / feedTime_);
}
double ModuleModel::fineRate() const {
    return std::max(1.0, setpoints_.theoretical / 20.0 / feedTime_);
}

double ModuleModel::finalOffset() {
    if (const auto forced = forced_.find(cycles_); forced != forced_.end()) return forced->second;
    if (spread_) return std::round(std::normal_distribution<double>(0, *spread_)(random_));
    return std::uniform_int_distribution<int>(-2, 2)(random_);
}

void ModuleModel::advance(qint64 ms) {
    while (ms > 0) {
        const qint64 slice = std::min(ms, kStepMs);
        step(slice);
        ms -= slice;
    }
}

void ModuleModel::step(qint64 ms) {
    stepPhase(ms);
    printMs_ = std::min(printMs_ + ms, kPrintFlashMs);
    const qint32 now = gross();
    if (now != lastGross_) {
        lastGross_ = now;
        msSinceChange_ = 0;
    } else {
        msSinceChange_ = std::min(msSinceChange_ + ms, kMotionWindowMs);
    }
}

void ModuleModel::stepPhase(qint64 ms) {
    phaseMs_ += ms;
    const double seconds = ms / 1000.0;
    switch (phase_) {
        case Phase::Idle:
            if (autoCycle_ && phaseMs_ >= kAutoRestartMs) startCycle();
            break;
        case Phase::Coarse:
            load_ += coarseRate() * seconds;
            if (net() >= static_cast<qint64>(setpoints_.coarse)) {
                phase_ = Phase::Fine;
                phaseMs_ = 0;
            }
            break;
        case Phase::Fine:
            load_ += fineRate() * seconds;
            if (net() >= static_cast<qint64>(setpoints_.fine)) {
                // What is still in the air after the fine cut-off lands: the weight
                // settles near the theoretical weight, never below what is there.
                settleFrom_ = load_;
                settleTarget_ =
                    std::max(load_, load_ + (static_cast<double>(setpoints_.theoretical) - net()) +
                                        finalOffset());
                settledReported_ = false;
                phase_ = Phase::Settling;
                phaseMs_ = 0;
            }
            break;
        case Phase::Settling:
            if (phaseMs_ < kSettleMoveMs) {
                load_ = settleFrom_ + (settleTarget_ - settleFrom_) * phaseMs_ / kSettleMoveMs;
            } else {
                load_ = settleTarget_;
                if (!settledReported_ && settledReport_) settledReport_(cycles_, net());
                settledReported_ = true;
                if (phaseMs_ >= kSettleMs) {
                    phase_ = Phase::Emptying;
                    phaseMs_ = 0;
                }
            }
            break;
        case Phase::Emptying:
            load_ -= coarseRate() * seconds;
            if (load_ <= emptyTarget_) {
                load_ = emptyTarget_;
                phase_ = Phase::Idle;
                phaseMs_ = 0;
            }
            break;
    }
}

bool ModuleModel::startCycle() {
    if (phase_ != Phase::Idle) return false;
    // A little always stays behind in the hopper: the next Z has something to do.
    std::uniform_int_distribution<int> residue(0, 2);
    cycleStartLoad_ = load_;
    emptyTarget_ = cycleStartLoad_ + residue(random_);
    phase_ = Phase::Coarse;
    phaseMs_ = 0;
    task_ = static_cast<quint8>(task_ + 1);
    ++cycles_;
    return true;
}

void ModuleModel::stopCycle() {
    phase_ = Phase::Idle;
    phaseMs_ = 0;
}

bool ModuleModel::zero() {
    const qint32 g = gross();
    if (static_cast<quint32>(std::abs(g)) > setpoints_.zeroBand) return false;
    zeroOffset_ += g;
    return true;
}

bool ModuleModel::takeTare() {
    const qint32 g = gross();
    if (g <= 0) return false;
    tare_ = static_cast<quint32>(g);
    return true;
}

quint8 ModuleModel::pressKey(quint16 key) {
    switch (key) {
        case 'S':
            if (phase_ == Phase::Idle)
                startCycle();
            else
                stopCycle();
            return 0;
        case 'Z':
            zero();  // outside the zero band the module ignores the key
            return 0;
        case 'M':
            if (tare_ != 0)
                tare_ = 0;
            else
                takeTare();
            return 0;
        case 'P':
            printMs_ = 0;
            return 0;
        case 'F':
            shown_ = shown_ == Shown::Net     ? Shown::Gross
                     : shown_ == Shown::Gross ? Shown::Tare
                                              : Shown::Net;
            return 0;
        default:
            return kIllegalValue;
    }
}

quint8 ModuleModel::runCommand(quint8 code) {
    using namespace command;
    const quint32 data = joinWords(dataLow_, dataHigh_);
    switch (code) {
        case kNone:
            return 0;
        case kStart:
            return startCycle() ? kResultDone : kResultRefused;
        case kStop:
            stopCycle();
            return kResultDone;
        case kZero:
            return zero() ? kResultDone : kResultRefused;
        case kTakeTare:
            return takeTare() ? kResultDone : kResultRefused;
        case kClearTare:
            tare_ = 0;
            return kResultDone;
        case kPresetTare:
            tare_ = data;
            return kResultDone;
        case kSetTheoretical:
            setpoints_.theoretical = data;
            return kResultDone;
        default:
            return kResultUnknown;
    }
}

qint64 ModuleModel::shownValue() const {
    switch (shown_) {
        case Shown::Gross:
            return gross();
        case Shown::Tare:
            return tare_;
        case Shown::Net:
            break;
    }
    return static_cast<qint64>(gross()) - static_cast<qint64>(tare_);
}

QByteArray ModuleModel::display() const {
    Markers m;
    const qint64 value = shownValue();
    m.moving = moving();
    m.print = printMs_ < kPrintFlashMs;
    m.negTriangle = value < 0;
    m.f1Triangle = shown_ == Shown::Tare;
    m.bruto = shown_ == Shown::Gross;
    m.tara = tare_ != 0;
    m.cero = gross() == 0;
    return displayImage(value, decimals_, m);
}

quint16 ModuleModel::readRegister(int address) const {
    const auto g = static_cast<quint32>(gross());
    const auto n = static_cast<quint32>(net());
    if (const quint32* pair = setpointPair(setpoints_, address))
        return isHighWord(address) ? highWord(*pair) : lowWord(*pair);
    switch (address) {
        case 0:
            return lowWord(g);
        case 1:
            return highWord(g);
        case 2:
            return lowWord(tare_);
        case 3:
            return highWord(tare_);
        case 4:
            return lowWord(n);
        case 5:
            return highWord(n);
        case 6:
            return static_cast<quint16>(static_cast<quint8>(phase_) | (task_ << 8));
        case 7:
            return commandWord_;
        case 8:
            return dataLow_;
        case 9:
            return dataHigh_;
        case 22:
            return setpoints_.percent;
        default:
            break;
    }
    if (address >= 10 && address <= 13) {
        const QByteArray image = display();
        const int k = 2 * (address - 10);
        return static_cast<quint16>(static_cast<quint8>(image[k]) |
                                    (static_cast<quint8>(image[k + 1]) << 8));
    }
    return 0;
}

quint8 ModuleModel::writeRegister(int address, quint16 value) {
    if (quint32* pair = setpointPair(setpoints_, address)) {
        isHighWord(address) ? setHigh(*pair, value) : setLow(*pair, value);
        return 0;
    }
    switch (address) {
        case 6:
            return (value >> 8) != 0 ? kIllegalValue : pressKey(value);
        case 7: {
            // The command code stays; the module answers in the high byte.
            const auto code = static_cast<quint8>(value & 0xFFu);
            commandWord_ = static_cast<quint16>(code | (runCommand(code) << 8));
            return 0;
        }
        case 8:
            dataLow_ = value;
            return 0;
        case 9:
            dataHigh_ = value;
            return 0;
        case 22:
            setpoints_.percent = value;
            return 0;
        default:
            return kIllegalAddress;  // read-only or outside the map
    }
}

}  // namespace sim
