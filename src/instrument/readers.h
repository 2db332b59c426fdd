#pragma once

#include <QByteArray>
#include <QMetaType>
#include <functional>
#include <optional>

#include "link.h"
#include "register_map.h"

struct WeightReading {
    double gross = 0;  // signed, scaled
    double tare = 0;   // unsigned, scaled
    double net = 0;    // signed, scaled
    int state = 0;     // low byte of register 6
    int task = 0;      // high byte of register 6
};

struct Setpoints {
    double zeroBand = 0;  // scaled
    double coarse = 0;    // scaled
    double fine = 0;      // scaled
    double target = 0;    // theoretical weight, scaled
    int percentage = 0;   // unscaled, 0..65535
    bool operator==(const Setpoints&) const = default;
};

struct CommandReadback {
    int command = 0;                  // low byte of register 7
    int result = 0;                   // high byte of register 7
    quint32 data = 0;                 // registers 8 (low word) and 9
    int dataBytes[4] = {0, 0, 0, 0};  // data byte 0 (least significant) to 3
};

// Eight display characters in register-string order: character 1 is the low byte of
// register 10.
using DisplayImage = QByteArray;

// Pure decoders of a block's register string (of the right length).
WeightReading decodeWeights(const QByteArray& block, int decimals);
Setpoints decodeSetpoints(const QByteArray& first, const QByteArray& second, int decimals);
CommandReadback decodeReadback(const QByteArray& block);

// The module as the readers see it: the link, its slave address and the decimals.
class Instrument {
public:
    Instrument(Link& link, int slaveId, int decimals);

    // Called before each attempt of a block read: the link worker uses it to run queued
    // operator writes, so that none waits behind a silent module's attempts past its
    // deadline. False means the link has just failed (a write got no answer): the block
    // is then taken as unreadable without more attempts.
    void setBetweenTransactions(std::function<bool()> hook);
    // How many attempts a block gets and how long each waits for the reply (by default,
    // those of a module alone on its link).
    void setAttempts(const linkexchange::Attempts& attempts) { attempts_ = attempts; }

    // Gives a dropped connection one chance to come back (up to 2000 ms).
    void connectionWait();
    // The RxD attempts set; the register string or empty.
    QByteArray blockRead(Block block);

    int decimals() const { return decimals_; }
    // The link's held work (Link::afterNextRequest): what a block's reading leads to runs
    // while the next block's request is on the wire.
    void afterNextRequest(std::function<void()> work);
    void runHeldWork();

private:
    Link& link_;
    int slaveId_;
    int decimals_;
    linkexchange::Attempts attempts_ = linkexchange::kAloneOnLink;
    std::function<bool()> betweenTransactions_;
};

// The readers: each runs the connection wait, then its block read(s). nullopt means
// the block could not be read ("no reading"), kept apart from the values so a real
// reading of -999999 is shown like any other.
std::optional<DisplayImage> LeeDisplay(Instrument& instrument);
std::optional<WeightReading> LeePeso(Instrument& instrument);
std::optional<Setpoints> LeeCortes(Instrument& instrument);
std::optional<CommandReadback> LeeComando(Instrument& instrument);

Q_DECLARE_METATYPE(WeightReading)
Q_DECLARE_METATYPE(Setpoints)
Q_DECLARE_METATYPE(CommandReadback)
