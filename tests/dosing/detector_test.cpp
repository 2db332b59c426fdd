#include <gtest/gtest.h>

#include <ostream>
#include <vector>

#include "cycle_detector.h"

namespace {

constexpr qint64 kSilent = -999999;  // a poll without the weights
const DoseSetpoints kSetpoints{20, 800, 980, 1000};

struct Expected {
    qint64 startMs, endMs;
    std::optional<qint64> finalNet;
    qint64 finalMs;  // when the final-weight event came, 0 for none
    bool interrupted;
    bool operator==(const Expected&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Expected& e) {
    return out << "{" << e.startMs << "-" << e.endMs << " final " << e.finalNet.value_or(-1)
               << " at " << e.finalMs << (e.interrupted ? " interrupted}" : "}");
}

struct Case {
    const char* what;
    std::vector<std::pair<qint64, qint64>> readings;  // ms, net (steps) or kSilent
    std::vector<Expected> cycles;
    std::optional<qint64> resumeFrom = std::nullopt;  // the start a killed run kept
};

// Feeds the readings one by one, as the station and the log reader do, and collects
// the cycles together with the time of each one's final-weight event.
std::vector<Expected> run(CycleDetector& detector,
                          const std::vector<std::pair<qint64, qint64>>& readings) {
    std::vector<Expected> found;
    qint64 finalEventMs = 0;
    for (const auto& [ms, net] : readings) {
        const DoseStep step = detector.feed({ms, net != kSilent, net});
        if (step.began) {
            EXPECT_EQ(detector.open()->startMs, ms);
        }
        if (step.finalTaken) {
            EXPECT_EQ(step.finalTaken->finalMs, ms);
            finalEventMs = ms;
        }
        if (step.ended) {
            found.push_back({step.ended->startMs, step.ended->endMs, step.ended->finalNet,
                             finalEventMs, step.ended->interrupted});
            EXPECT_EQ(step.ended->setpoints, kSetpoints);
            finalEventMs = 0;
        }
    }
    return found;
}

}  // namespace

TEST(CycleDetector, FindsTheCyclesOfEachKindOfRun) {
    // clang-format off
    const std::vector<Case> cases = {
        {"a whole cycle: the final weight once a second within one step at the fine cut-off, "
         "the zero band's edge counting as empty",
         {{0, 20}, {1000, 300}, {2000, 900}, {3000, 1001}, {3500, 1002}, {4000, 1001},
          {4500, 1001}, {5000, 20}},
         {{1000, 5000, 1001, 4000, false}}},
        {"a move of two steps starts the second again; unanswered polls do not",
         {{0, 20}, {1000, 990}, {1500, 992}, {2000, kSilent}, {2500, 992}, {3000, 993},
          {3500, 1500}, {4000, 0}},
         {{1000, 4000, 992, 2500, false}}},
        {"settled below the fine cut-off, then emptied: aborted",
         {{0, 0}, {1000, 500}, {2000, 500}, {3000, 500}, {4000, 20}},
         {{1000, 4000, std::nullopt, 0, true}}},
        {"no weights for more than 10 s inside a cycle",
         {{0, 0}, {1000, 300}, {2000, kSilent}, {11000, kSilent}, {11001, 1000}, {12001, 1000},
          {13000, 0}},
         {{1000, 13000, 1000, 12001, true}}},
        {"exactly 10 s between two readings is not too long",
         {{0, 0}, {1000, 300}, {11000, 1000}, {12000, 1000}, {13000, 0}},
         {{1000, 13000, 1000, 12000, false}}},
        {"joined late: the first reading is already above the zero band",
         {{0, 700}, {1000, 1000}, {2000, 1000}, {3000, 0}, {4000, 21}, {5000, 0}},
         {{0, 3000, 1000, 2000, true}, {4000, 5000, std::nullopt, 0, true}}},
        {"the clock went back inside a cycle, and a settle run across it counts for nothing",
         {{10000, 0}, {11000, 1000}, {5000, 1000}, {6000, 1000}, {7000, 0}},
         {{11000, 7000, 1000, 6000, true}}},
        {"a silence after which the weight is lower by more than the zero band: the cycle "
         "ends with its last reading before it, and the first after it joins the next late",
         {{0, 0}, {1000, 500}, {2000, 990}, {2500, kSilent}, {8000, 300}, {9000, 990},
          {10000, 1000}, {11000, 1000}, {12000, 0}},
         {{1000, 2000, std::nullopt, 0, true}, {8000, 12000, 1000, 11000, true}}},
        {"lower by the zero band exactly is no cut; back at zero, even past the final weight, "
         "is, and the next cycle begins as usual",
         {{0, 0}, {1000, 1000}, {2000, 1000}, {2500, kSilent}, {3000, 980}, {3500, kSilent},
          {4000, 0}, {5000, 300}, {6000, 1000}, {7000, 1000}, {8000, 0}},
         {{1000, 3000, 1000, 2000, true}, {5000, 8000, 1000, 7000, false}}},
        {"resumed: the cycle a killed run left open goes on from its start, incomplete",
         {{60000, 1000}, {61000, 1000}, {62000, 5}},
         {{1000, 62000, 1000, 61000, true}}, 1000},
    };
    // clang-format on
    for (const Case& c : cases) {
        CycleDetector detector;
        detector.setSetpoints(kSetpoints);
        if (c.resumeFrom) detector.resume(*c.resumeFrom);
        EXPECT_EQ(run(detector, c.readings), c.cycles) << c.what;
        EXPECT_FALSE(detector.open()) << c.what;
    }
}

// Still readings above the fine cut-off: how long they must last, on the live clock
// (the polls' milliseconds) and on a log's whole seconds, and the module's motion sign.
TEST(CycleDetector, AWeightIsFinalOnlyOnceItsStillnessIsProved) {
    struct Still {
        const char* what;
        qint64 settleMs;
        std::vector<qint64> times;  // readings at 1000 steps, after filling to 975
        std::optional<qint64> finalMs;
        bool moving = false;
    };
    // clang-format off
    const std::vector<Still> cases = {
        {"0.35 s still across a second's edge at a 100 ms poll", CycleDetector::kSettleMs,
         {10850, 10950, 11050, 11150}, std::nullopt},
        {"0.6 s still: two readings half a second apart", CycleDetector::kSettleMs,
         {10800, 11300}, std::nullopt},
        {"1.2 s still", CycleDetector::kSettleMs, {10800, 11300, 11800, 12000}, 11800},
        {"still for seconds, the module showing motion all along", CycleDetector::kSettleMs,
         {10800, 11300, 11800, 12300, 12800}, std::nullopt, true},
        {"a log's two whole seconds one apart prove nothing", CycleDetector::kLogSettleMs,
         {10000, 11000, 11000}, std::nullopt},
        {"a log's whole seconds two apart", CycleDetector::kLogSettleMs,
         {10000, 11000, 12000}, 12000},
    };
    // clang-format on
    for (const Still& c : cases) {
        CycleDetector detector(c.settleMs);
        detector.setSetpoints(kSetpoints);
        detector.feed({0, true, 0});
        detector.feed({9000, true, 975});
        std::optional<qint64> finalMs;
        for (qint64 ms : c.times)
            if (const DoseStep step = detector.feed({ms, true, 1000, c.moving}); step.finalTaken)
                finalMs = step.finalTaken->finalMs;
        // On its way on: a weight two steps higher starts the count again.
        const qint64 after = c.times.back() + 100;
        if (const DoseStep step = detector.feed({after, true, 1002}); step.finalTaken)
            finalMs = step.finalTaken->finalMs;
        EXPECT_EQ(finalMs, c.finalMs) << c.what;
    }
}
