#include <gtest/gtest.h>

#include "display_image.h"
#include "display_map.h"
#include "frames.h"
#include "module_model.h"
#include "slave_protocol.h"

using namespace sim;

namespace {

// Reads the six digits back off the display bytes the way an operator reads the
// panel: the number they show, in steps, or nullopt when they show no number.
std::optional<qint64> readPanel(const QByteArray& image, int decimals) {
    qint64 value = 0;
    bool negative = false, started = false;
    for (int d = kDigits - 1; d >= 0; --d) {
        const auto c = static_cast<quint8>(image[2 + d]);
        if (c == 0) {
            if (started) return std::nullopt;  // a blank inside the number
            continue;
        }
        if (c == kSegMinus && d == kDigits - 1) {
            negative = true;
            continue;
        }
        const int digit = patternDigit(c);
        if (digit < 0) return std::nullopt;
        const bool point = (c & kSegPoint) != 0;
        if (point != (decimals > 0 && d == decimals)) return std::nullopt;
        started = true;
        value = 10 * value + digit;
    }
    return negative ? -value : value;
}

qint64 registerPair(const ModuleModel& m, int low) {
    return static_cast<qint32>(m.readRegister(low) | (quint32(m.readRegister(low + 1)) << 16));
}

QByteArray displayRegisters(const ModuleModel& m) {
    QByteArray image;
    for (int a = 10; a <= 13; ++a) {
        image.append(static_cast<char>(m.readRegister(a) & 0xFF));
        image.append(static_cast<char>(m.readRegister(a) >> 8));
    }
    return image;
}

bool lit(const QByteArray& image, int imgSeg) {
    const int k = imgSeg - 1;
    return (static_cast<quint8>(image[k / 8]) >> (k % 8)) & 1;
}

QByteArray rawRead(int slave, int address, int count) {
    return modbus::readRequest(slave, address, count);
}

QByteArray rawWrite(int slave, int address, quint16 value) {
    QByteArray v;
    v.append(static_cast<char>(value & 0xFF));
    v.append(static_cast<char>(value >> 8));
    return modbus::writeRequest(slave, address, v);
}

}  // namespace

// The digit patterns themselves are checked against fixed bytes by the independent
// masters in process_test.cpp; here the panel is read back with them.
TEST(SevenSegments, DigitsAndPointsRenderTheValue) {
    for (int decimals : {0, 1, 2, 3}) {
        for (qint64 v : {0LL, 7LL, 10LL, 125LL, -1LL, -3050LL, 99999LL, 999999LL, -99999LL}) {
            const QByteArray image = displayImage(v, decimals, {});
            ASSERT_EQ(image.size(), 8);
            EXPECT_EQ(readPanel(image, decimals), v) << "value " << v << " decimals " << decimals;
        }
    }
    // Leading zeros are blanked down to the units digit: 0.05 shows "0.05", not "005".
    const QByteArray small = digitCharacters(5, 2);
    EXPECT_EQ(static_cast<quint8>(small[2]), digitPattern(0) | kSegPoint);
    EXPECT_EQ(small[3], '\0');
    // Values that do not fit show dashes.
    EXPECT_EQ(digitCharacters(1000000, 0), QByteArray(6, static_cast<char>(kSegMinus)));
    EXPECT_EQ(digitCharacters(-100000, 0), QByteArray(6, static_cast<char>(kSegMinus)));
}

TEST(ModuleDisplay, ShowsTheWeightTheRegistersHold) {
    ModuleModel m(2);
    m.addLoad(1234);
    m.advance(1000);
    EXPECT_EQ(registerPair(m, 0), 1234);
    EXPECT_EQ(readPanel(displayRegisters(m), 2), registerPair(m, 4));

    m.writeRegister(6, 'M');  // tare: net 0
    m.advance(100);
    EXPECT_EQ(registerPair(m, 2), 1234);
    EXPECT_EQ(registerPair(m, 4), 0);
    EXPECT_EQ(readPanel(displayRegisters(m), 2), 0);
    EXPECT_TRUE(lit(displayRegisters(m), seg::kArrowTara));

    m.addLoad(-1300);  // below the tare: a negative net with its minus sign
    m.advance(100);
    EXPECT_EQ(registerPair(m, 4), -1234);
    EXPECT_EQ(readPanel(displayRegisters(m), 2), -1234);
    EXPECT_EQ(static_cast<quint8>(displayRegisters(m)[7]), kSegMinus);

    m.writeRegister(6, 'F');  // gross
    m.advance(100);
    EXPECT_EQ(readPanel(displayRegisters(m), 2), registerPair(m, 0));
    EXPECT_TRUE(lit(displayRegisters(m), seg::kArrowBruto));
    EXPECT_TRUE(lit(displayRegisters(m), seg::kArrowCero));
    EXPECT_TRUE(lit(displayRegisters(m), seg::kK));
    EXPECT_TRUE(lit(displayRegisters(m), seg::kG));

    m.writeRegister(6, 'F');  // tare
    EXPECT_EQ(readPanel(displayRegisters(m), 2), 1234);
    m.writeRegister(6, 'F');  // back to net
    EXPECT_EQ(readPanel(displayRegisters(m), 2), -1234);
}

TEST(ModuleKeys, ZeroOnlyInsideTheBandAndTareToggles) {
    ModuleModel m;
    m.addLoad(15);  // zero band 20
    m.advance(100);
    EXPECT_EQ(m.writeRegister(6, 'Z'), 0);
    EXPECT_EQ(m.gross(), 0);
    m.addLoad(50);
    m.writeRegister(6, 'Z');
    EXPECT_EQ(m.gross(), 50) << "outside the zero band the key is ignored";

    m.writeRegister(6, 'M');
    EXPECT_EQ(m.tare(), 50u);
    m.writeRegister(6, 'M');
    EXPECT_EQ(m.tare(), 0u);

    EXPECT_EQ(m.writeRegister(6, 'X'), kIllegalValue);
    EXPECT_EQ(m.writeRegister(6, 0x0100 | 'S'), kIllegalValue);
}

TEST(ModuleKeys, PrintFlashesAndMotionShows) {
    ModuleModel m;
    m.writeRegister(6, 'P');
    EXPECT_TRUE(lit(m.display(), seg::kPrint));
    m.advance(1500);
    EXPECT_FALSE(lit(m.display(), seg::kPrint));

    EXPECT_FALSE(lit(m.display(), seg::kMvto));
    m.addLoad(100);
    m.advance(20);
    EXPECT_TRUE(lit(m.display(), seg::kMvto));
    m.advance(1000);
    EXPECT_FALSE(lit(m.display(), seg::kMvto));
}

TEST(DosingCycle, FillsCoarseThenFineSettlesNearTheTargetAndEmpties) {
    ModuleModel m(0, 7);
    EXPECT_EQ(m.writeRegister(6, 'S'), 0);
    EXPECT_EQ(m.phase(), Phase::Coarse);
    EXPECT_EQ(m.readRegister(6), (1 << 8) | 1) << "task 1, state coarse";

    std::vector<Phase> seen{Phase::Coarse};
    qint32 settled = 0;
    for (int t = 0; t < 60000 && !(m.phase() == Phase::Idle && seen.size() > 1); t += 50) {
        m.advance(50);
        if (m.phase() != seen.back()) seen.push_back(m.phase());
        if (m.phase() == Phase::Fine) {
            EXPECT_GE(m.net(), 800) << "fine feed starts at the coarse cut-off";
        }
        if (m.phase() == Phase::Settling) settled = m.net();
    }
    const std::vector<Phase> expected{Phase::Coarse, Phase::Fine, Phase::Settling, Phase::Emptying,
                                      Phase::Idle};
    EXPECT_EQ(seen, expected);
    EXPECT_NEAR(settled, 1000, 3);
    EXPECT_LE(m.net(), 2) << "emptied down to a small residue";
    EXPECT_GE(m.net(), 0);
}

TEST(DosingCycle, StopKeyHoldsTheWeight) {
    ModuleModel m;
    m.writeRegister(6, 'S');
    m.advance(1000);
    m.writeRegister(6, 'S');
    const qint32 held = m.gross();
    EXPECT_GT(held, 0);
    m.advance(2000);
    EXPECT_EQ(m.gross(), held);
    EXPECT_EQ(m.phase(), Phase::Idle);
}

// Reads, writes, the tare preset and the exceptions of the map are checked through
// pymodbus in process_test.cpp; here the answers no master there provokes.
TEST(ModuleAnswers, UnknownCommandsRefusedKeysAndFunctions) {
    ModuleModel m;
    m.writeRegister(7, 0x0300 | 99);  // the operator's high byte is replaced
    EXPECT_EQ(m.readRegister(7), (command::kResultUnknown << 8) | 99);
    m.addLoad(500);
    m.writeRegister(7, command::kZero);
    EXPECT_EQ(m.readRegister(7) >> 8, command::kResultRefused);

    const QByteArray unknown = modbus::withCrc(QByteArray::fromHex("010400000001"));
    EXPECT_EQ(answer(m, unknown, 1).reply, exceptionReply(1, 4, kIllegalFunction));
    EXPECT_EQ(answer(m, rawRead(1, 0, 0), 1).reply, exceptionReply(1, 3, kIllegalValue));
}

TEST(FrameAssembler, ResynchronisesAfterJunkAndDropsPartialRequests) {
    FrameAssembler f;
    const QByteArray request = rawRead(1, 0, 8);
    // Request in pieces.
    f.append(request.left(3));
    EXPECT_FALSE(f.next());
    f.append(request.mid(3));
    EXPECT_EQ(f.next(), request);

    // Junk in front of a request, of either kind of first bytes.
    for (const QByteArray& junk : {QByteArray::fromHex("ff"), QByteArray::fromHex("0103"),
                                   QByteArray::fromHex("01 99 aa")}) {
        f.append(junk + request);
        EXPECT_EQ(f.next(), request) << junk.toHex().constData();
        EXPECT_FALSE(f.hasPartial());
    }

    // A truncated request followed by silence must not swallow the next one.
    f.append(request.left(5));
    EXPECT_FALSE(f.next());
    f.dropPartial();
    f.append(request);
    EXPECT_EQ(f.next(), request);

    // Two back to back.
    f.append(request + rawWrite(1, 6, 'S'));
    EXPECT_EQ(f.next(), request);
    EXPECT_EQ(f.next(), rawWrite(1, 6, 'S'));
}
