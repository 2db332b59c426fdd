#pragma once

#include <QByteArray>
#include <QtGlobal>
#include <functional>
#include <map>
#include <optional>
#include <random>

#include "display_image.h"

// A weighing and dosing module good enough to run the station against: the register
// map, a dosing cycle that moves the weight over time, the front-panel keys, the
// command register and the display the panel would show. Time only moves when
// advance() is called, so the behaviour is reproducible.

namespace sim {

constexpr int kRegisterCount = 23;  // holding registers 0 to 22

// Modbus exception codes the module answers with.
constexpr quint8 kIllegalFunction = 0x01;
constexpr quint8 kIllegalAddress = 0x02;
constexpr quint8 kIllegalValue = 0x03;
constexpr quint8 kDeviceFailure = 0x04;

// Low byte of register 6 when read.
enum class Phase : quint8 { Idle = 0, Coarse = 1, Fine = 2, Settling = 3, Emptying = 4 };

// What the six digits show; the F key steps through them.
enum class Shown { Net, Gross, Tare };

// Command codes (low byte of register 7) and the result codes the module puts in the
// high byte once it has acted on one.
namespace command {
constexpr quint8 kNone = 0, kStart = 1, kStop = 2, kZero = 3, kTakeTare = 4, kClearTare = 5,
                 kPresetTare = 6, kSetTheoretical = 7;
constexpr quint8 kResultDone = 1, kResultRefused = 2, kResultUnknown = 3;
}  // namespace command

struct Setpoints {
    quint32 zeroBand = 20;
    quint32 coarse = 800;
    quint32 fine = 980;
    quint32 theoretical = 1000;
    quint16 percent = 5;
};

// What sets one module of a line apart from the others: its product (the setpoints it
// starts with) and how long its feeds take, as a multiple of a lone module's.
struct LinePlace {
    Setpoints setpoints;
    double feedTime = 1;
};
// The module at `address` of a line: the first one is a lone module; each address after it
// doses a quarter of its theoretical weight more, its feeds half its time slower, so that
// no two modules of a line move in step.
LinePlace linePlace(int address);

class ModuleModel {
public:
    explicit ModuleModel(int decimals = 0, quint32 randomStart = 1);

    // Lets `ms` of module time pass.
    void advance(qint64 ms);

    // Register value as read with function 3 (address 0..22).
    quint16 readRegister(int address) const;
    // Function 6; returns 0 when accepted, otherwise the exception code to answer.
    quint8 writeRegister(int address, quint16 value);

    // Starts a new cycle by itself a moment after each one ends.
    void setAutoCycle(bool on) { autoCycle_ = on; }
    // Its place on a line, instead of a lone module's setpoints and pace.
    void setLinePlace(const LinePlace& place) {
        setpoints_ = place.setpoints;
        feedTime_ = place.feedTime;
    }

    // Where the final weights land around the theoretical weight: by default within two
    // steps either side; with a spread, normally distributed with that standard
    // deviation (steps). A forced cycle (numbered from 1) lands exactly that many steps
    // off instead. Either way never below the weight at the fine cut-off: what is in the
    // air only adds.
    void setSpread(double steps) { spread_ = steps; }
    void setForced(std::map<int, qint32> offsets) { forced_ = std::move(offsets); }
    // Told the cycle's number and net weight (steps) once each cycle has settled.
    void setSettledReport(std::function<void(int cycle, qint32 net)> report) {
        settledReport_ = std::move(report);
    }

    qint32 gross() const;
    quint32 tare() const { return tare_; }
    qint32 net() const { return gross() - static_cast<qint32>(tare_); }
    Phase phase() const { return phase_; }
    int decimals() const { return decimals_; }
    bool moving() const { return msSinceChange_ < kMotionWindowMs; }
    QByteArray display() const;

    // Puts material on the scale or takes it off (in steps), as an operator would by
    // hand; for a believable start and for tests.
    void addLoad(double steps);

private:
    static constexpr qint64 kMotionWindowMs = 500;
    static constexpr qint64 kPrintFlashMs = 1000;
    // The final weight stays still for over three seconds before the emptying: a log of
    // whole seconds proves it still (two whole seconds apart) whatever the poll's period.
    static constexpr qint64 kSettleMs = 4000;
    static constexpr qint64 kSettleMoveMs = 800;
    static constexpr qint64 kAutoRestartMs = 2000;
    static constexpr qint64 kStepMs = 20;

    void step(qint64 ms);
    void stepPhase(qint64 ms);
    quint8 pressKey(quint16 key);
    quint8 runCommand(quint8 code);
    bool startCycle();
    void stopCycle();
    bool zero();
    bool takeTare();
    double coarseRate() const;
    double fineRate() const;
    double finalOffset();
    qint64 shownValue() const;

    int decimals_;
    std::mt19937 random_;
    Setpoints setpoints_;
    double feedTime_ = 1;
    double load_ = 0;  // what lies on the scale, in steps
    qint32 zeroOffset_ = 0;
    quint32 tare_ = 0;
    Phase phase_ = Phase::Idle;
    quint8 task_ = 0;
    Shown shown_ = Shown::Net;
    qint64 phaseMs_ = 0;
    double settleFrom_ = 0;
    double settleTarget_ = 0;
    double emptyTarget_ = 0;
    double cycleStartLoad_ = 0;
    qint64 msSinceChange_ = kMotionWindowMs;
    qint64 printMs_ = kPrintFlashMs;
    qint32 lastGross_ = 0;
    bool autoCycle_ = false;
    std::optional<double> spread_;
    std::map<int, qint32> forced_;
    std::function<void(int, qint32)> settledReport_;
    int cycles_ = 0;
    bool settledReported_ = false;
    quint16 commandWord_ = 0;
    quint16 dataLow_ = 0;
    quint16 dataHigh_ = 0;
};

}  // namespace sim
