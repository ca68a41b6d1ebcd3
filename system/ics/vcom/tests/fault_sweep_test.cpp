// Every SoC call of every chip operation, failed in turn: the I2C transfers,
// the AUO access gate and the I2C switch around the chip routine.

#include <algorithm>

#include <ze/platform/env_setup.h>

#include <ze/ic/chip_catalogue.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::TraceEntry;
using Trace = std::vector<TraceEntry>;

constexpr unsigned short kValue = 0x42;
constexpr unsigned int kSwitchGpio = 0;
constexpr std::uint8_t kGateGpio = 0xA8;
constexpr std::uint32_t kGateAccessLevel = 1;
constexpr std::size_t kSwitchCalls = 2;  // on before the chip routine, off after it
// A routine that goes on past a failure repeats at most one attempt; the
// longest is an IN525 save's, with its 500 ms of programming.
constexpr std::uint64_t kRetryBudgetUs = 700000;

enum class Op { Read, Update, Save };
constexpr Op kOps[] = {Op::Read, Op::Update, Op::Save};

// How a chip routine meets one failed call: it stops there, or it logs it and
// goes on to the end of its sequence.
struct Policy {
    const char* chip;
    bool (*carriesOn)(Op op, const TraceEntry& failed, bool firstChipCall);
    bool minusOneOnFailure;  // its own -1 rather than the SoC status
};

bool never(Op, const TraceEntry&, bool)
{
    return false;
}
bool always(Op, const TraceEntry&, bool)
{
    return true;
}
// A gate that did not open may already be at the access level.
bool gateCalls(Op, const TraceEntry& failed, bool)
{
    return failed.call == Call::GpioSetValue;
}
// Only a save goes on, and only once its pass-through is on.
bool in518(Op op, const TraceEntry&, bool firstChipCall)
{
    return op == Op::Save && !firstChipCall;
}

const Policy kPolicies[] = {
    {"auo", gateCalls, false}, {"kd532p", never, false}, {"boe", never, false},
    {"kd733", never, false},   {"g1625", never, false},  {"rt6966", never, true},
    {"in525", always, false},  {"in518", in518, false},
};

bool sameStep(const TraceEntry& a, const TraceEntry& b)
{
    return a.call == b.call && a.bus == b.bus && a.devAddr == b.devAddr &&
           a.subAddrLen == b.subAddrLen && a.subAddr == b.subAddr;
}

long countStarting(const Lines& bodies, const std::string& prefix)
{
    return std::count_if(bodies.begin(), bodies.end(),
                         [&](const std::string& b) { return b.rfind(prefix, 0) == 0; });
}

class FaultSweep : public DriverTest {
protected:
    // A chip behind the switch, with the switch and the AUO gate already at
    // their access levels, so that a failed call to close either one is the
    // only thing that fails.
    void installChip(const char* chip)
    {
        VcomBoardConfig config;
        config.typeIdx = typeIdxOf(chip);
        config.gpioAddr = kGateGpio;
        config.gpioStatus = kGateAccessLevel;
        config.i2cSwitchType = 1;
        install(config);
        board->gpioSetValue(kSwitchGpio, 1);
        board->gpioSetValue(kGateGpio, kGateAccessLevel);
        resetRecords();
    }
    // The read's value, or the update's or save's result.
    int runOp(Op op)
    {
        switch (op) {
            case Op::Read:
                return driver->u1DrvReadVcom();
            case Op::Update:
                return driver->u1DrvUpdataVcom(kValue);
            case Op::Save:
                return driver->u1DrvSaveVcom(kValue);
        }
        return 0;
    }
};

TEST_F(FaultSweep, EveryFailedCallGivesTheResultItsChipsFailureRulesSayAndIsReportedOnce)
{
    ASSERT_EQ(0, ze::platform::createEnvStore(root));  // the RT6966 save's store
    std::size_t chipCalls = 0, switchCalls = 0;
    // Every chip the catalogue lists is swept: a new one needs its rules here.
    for (const ze::ic::catalogue::ChipInfo& listed : ze::ic::catalogue::kChips) {
        const auto rules =
            std::find_if(std::begin(kPolicies), std::end(kPolicies),
                         [&](const Policy& p) { return listed.name == std::string(p.chip); });
        ASSERT_NE(std::end(kPolicies), rules)
            << listed.name << " has no failure rules in the sweep";
        const Policy& policy = *rules;
        for (Op op : kOps) {
            installChip(policy.chip);
            const int cleanResult = runOp(op);
            const Trace clean = board->trace();
            const std::uint64_t cleanUs = nowUs();
            ASSERT_GE(clean.size(), kSwitchCalls);
            ASSERT_EQ(op == Op::Read ? cleanResult : 0, cleanResult);
            std::size_t lastRead = 0;
            for (std::size_t i = 0; i < clean.size(); ++i) {
                if (clean[i].call == Call::I2CRead) lastRead = i;
            }

            for (std::size_t k = 0; k < clean.size(); ++k) {
                const TraceEntry& target = clean[k];
                const bool isSwitch = k == 0 || k + 1 == clean.size();
                (isSwitch ? switchCalls : chipCalls)++;
                SCOPED_TRACE(std::string(policy.chip) + " op " +
                             std::to_string(static_cast<int>(op)) + " failing call " +
                             std::to_string(k) + ": " + describe(target));
                installChip(policy.chip);
                const unsigned int nth =
                    std::count_if(clean.begin(), clean.begin() + k + 1,
                                  [&](const TraceEntry& e) { return e.call == target.call; });
                const int fault = target.call == Call::GpioSetValue ? kGpioFault : kBusFault;
                board->failNth(target.call, nth, fault);
                const int result = runOp(op);
                const Trace trace = board->trace();

                // The switch goes on and off around the routine whatever fails.
                ASSERT_GE(trace.size(), kSwitchCalls);
                EXPECT_TRUE(sameStep(clean.front(), trace.front()));
                EXPECT_TRUE(sameStep(clean.back(), trace.back()));
                const Trace chip(trace.begin() + 1, trace.end() - 1);
                const auto failed = std::find_if(trace.begin(), trace.end(),
                                                 [](const TraceEntry& e) { return e.status != 0; });
                ASSERT_NE(trace.end(), failed);
                EXPECT_TRUE(sameStep(target, *failed));

                int routineStatus = 0;
                if (isSwitch) {
                    EXPECT_EQ(cleanResult, result);
                    EXPECT_EQ(clean.size(), trace.size());
                } else {
                    // The routine's status is its last call's: a routine that
                    // stops makes the failed call its last, one that goes on
                    // ends on the same step as the clean run.
                    const bool carriesOn = policy.carriesOn(op, target, k == 1);
                    if (carriesOn) {
                        EXPECT_TRUE(sameStep(clean[clean.size() - 2], chip.back()));
                        EXPECT_LE(nowUs(), cleanUs + kRetryBudgetUs);
                    } else {
                        EXPECT_EQ(trace.size() - 2, std::size_t(failed - trace.begin()));
                        EXPECT_EQ(failed->timeUs, nowUs()) << "waited after the failure";
                    }
                    routineStatus = chip.back().status;
                    if (routineStatus != 0 && policy.minusOneOnFailure) routineStatus = -1;
                    if (op != Op::Read) {
                        EXPECT_EQ(routineStatus, result);
                    } else if (routineStatus == 0 || k > lastRead) {
                        EXPECT_EQ(cleanResult, result);  // the value was stored before
                    } else {
                        EXPECT_EQ(0, result);
                    }
                }

                const Lines errors = log.bodies(QOR_DEBUG_LEVEL_ERROR);
                const Lines infos = log.bodies(QOR_DEBUG_LEVEL_INFO);
                // Each failed call is reported once: by the transport (the
                // one injected with its status), or by the GPIO's caller. A
                // routine that goes on may meet a chip that refuses the rest.
                const long failedGpio = std::count_if(trace.begin(), trace.end(), [](auto& e) {
                    return e.status != 0 && e.call == Call::GpioSetValue;
                });
                const long failedI2c = std::count_if(trace.begin(), trace.end(), [](auto& e) {
                    return e.status != 0 && e.call != Call::GpioSetValue;
                });
                EXPECT_EQ(failedGpio, countStarting(errors, "[DR_VCOM]setGpio "));
                EXPECT_EQ(failedI2c, countStarting(errors, "[VCOMIC] QEL_I2C"));
                if (target.call != Call::GpioSetValue) {
                    const char* call = target.call == Call::I2CWrite ? "Write" : "Read";
                    EXPECT_EQ(1, logged("[VCOMIC] QEL_I2C" + std::string(call) +
                                        " fail, ret = " + std::to_string(kBusFault) + ".\n"));
                }
                const std::string outcome = routineStatus == 0 ? " success .\n" : " fail .\n";
                const Lines& outcomeLevel = routineStatus == 0 ? infos : errors;
                EXPECT_EQ(1, std::count_if(outcomeLevel.begin(), outcomeLevel.end(), [&](auto& b) {
                              return b.rfind("[DR_VCOM]", 0) == 0 && b.size() > outcome.size() &&
                                     b.compare(b.size() - outcome.size(), outcome.size(),
                                               outcome) == 0;
                          }));
            }
        }
    }
    // Every step of the 24 operations: their own calls and the switch's.
    EXPECT_EQ(78u, chipCalls);
    EXPECT_EQ(48u, switchCalls);
}

}  // namespace
}  // namespace ze::test
