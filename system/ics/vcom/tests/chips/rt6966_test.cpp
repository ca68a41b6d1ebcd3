#include <cstdlib>
#include <cstring>
#include <optional>

#include <libuboot.h>

#include <flashenv.h>
#include <ze/platform/env_setup.h>
#include <ze/sim/models/rt6966.h>

#include "driver_fixture.h"

namespace ze::test {
namespace {

using ze::sim::Rt6966;

// "vcom_value" as fw_printenv would show it; nullopt when unset or unreadable.
std::optional<std::string> storedVcomValue(const std::string& root)
{
    uboot_ctx* ctx = nullptr;
    if (libuboot_initialize(&ctx, nullptr) < 0) return std::nullopt;
    std::optional<std::string> value;
    const std::string config = root + "/etc/fw_env.config";
    if (libuboot_read_config(ctx, config.c_str()) == 0 && libuboot_open(ctx) == 0) {
        if (char* text = libuboot_get_env(ctx, "vcom_value")) {
            value = text;
            std::free(text);
        }
        libuboot_close(ctx);
    }
    libuboot_exit(ctx);
    return value;
}

class Rt6966Test : public DriverTest {
protected:
    void SetUp() override { chip = &installModel<Rt6966>("rt6966"); }
    std::string state() const
    {
        return "H " + hex(chip->reg(Rt6966::kRegVcomH)) + " L " + hex(chip->reg(Rt6966::kRegVcomL));
    }
    Rt6966* chip = nullptr;
};

// The chip holds 27 10 (value 255); the caller's value is 0 (code 370: 17 20).
TEST_F(Rt6966Test, RoutinesSettleOnlyAfterBothTransfersAndFailWithMinusOne)
{
    const Routine read = &V::IC_RT6966_Read, update = &V::IC_RT6966_Updata;
    const Lines updated = R"(I [DR_VCOM] vcom data from 0x25: 0x17\n
        I [DR_VCOM] vcom data from 0x26: 0x20\n
        write 0xE8 [0x25] 17
        I [DR_VCOM]VCOMIC adjust Vcom 0x25 OK : 23.\n\n
        write 0xE8 [0x26] 20
        I [DR_VCOM]VCOMIC adjust Vcom 0x26 OK : 32.\n
        I [DR_VCOM] AdjData:370 Ret:0.\n
        sleep 50000)"_lines;
    const Lines readBack = R"(read 0xE8 [0x25] 27, read 0xE8 [0x26] 10
        I [DR_VCOM] vcom data read from 0x25 is 0x0027, from 0x26 is 0x0010\n
        I [DR_VCOM] vcom data: 0xff\n
        sleep 50000)"_lines;
    const std::vector<RoutineRun> runs = {
        {update, kNoFault, 0, updated, "H 17 L 20"},
        {read, kNoFault, 0, readBack, "", 255},
        {update, nthWrite(2), -1,
         upTo(updated, "write 0xE8 [0x26] 20") +
             Lines{"E [DR_VCOM]VCOMIC adjust Vcom 0x26 fail.\n"},
         "H 17 L 10"},
        // The second read fails without a message of its own.
        {read, nthRead(2), -1, upTo(readBack, "read 0xE8 [0x26] 10")},
    };
    expectRuns(
        runs, 0,
        [&](const RoutineRun&) {
            chip = &installModel<Rt6966>("rt6966");
            chip->forceReg(Rt6966::kRegVcomH, 0x27);
            chip->forceReg(Rt6966::kRegVcomL, 0x10);
        },
        [&] { return state(); });
}

TEST_F(Rt6966Test, UpdateWritesTheLowTenBitsOfTheCodeAndReadIgnoresTheReservedBits)
{
    const struct {
        unsigned short value;
        const char* registers;
        unsigned int code, readBack;
    } updates[] = {{653, "H 3F L F0", 1023, 653},
                   {654, "H 00 L 00", 1024, 65166},
                   {65535, "H 17 L 10", 369, 65535}};
    for (const auto& c : updates) {
        resetRecords();
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value)) << c.value;
        EXPECT_EQ(c.registers, state()) << c.value;
        EXPECT_EQ(1, logged("[DR_VCOM] AdjData:" + std::to_string(c.code) + " Ret:0.\n"));
        EXPECT_EQ(c.readBack, driver->u1DrvReadVcom()) << c.value;
    }
    const struct {
        std::uint8_t vcomH, vcomL;
        unsigned short value;
    } reads[] = {{0xFF, 0xFF, 653}, {0xD7, 0x2F, 0}};
    for (const auto& c : reads) {
        chip->forceReg(Rt6966::kRegVcomH, c.vcomH);
        chip->forceReg(Rt6966::kRegVcomL, c.vcomL);
        EXPECT_EQ(c.value, driver->u1DrvReadVcom());
    }
}

TEST_F(Rt6966Test, EveryValueRoundTripsThroughTheDispatch)
{
    expectRoundTrip([&] { return chip->code(); }, [](unsigned v) { return v + 370; }, nullptr,
                    false);
}

TEST_F(Rt6966Test, SaveStoresValuesUpTo255AsDecimalTextAndReturnsTheStatusOfAFailingStore)
{
    const int storeStatus = FlashEnv::instance()->setEnv("vcom_value", "1");  // no store yet
    ASSERT_NE(0, storeStatus);
    resetRecords();
    EXPECT_EQ(storeStatus, driver->u1DrvSaveVcom(17));
    EXPECT_EQ(1, logged("[DR_VCOM] SetEnv of ENV_VCOM_VALUE failed.\n"));
    EXPECT_EQ("E [DR_VCOM]VCOM RT6966 save fail .\n", outcomes());

    ASSERT_EQ(0, ze::platform::createEnvStore(root));
    const struct {
        unsigned short value;
        int result;
        const char *stored, *messages;
    } cases[] = {
        {0, 0, "0", R"(I [DR_VCOM] IC_RT6966_Save IN, value:0x0\n\n
                       I ENV_VCOM_VALUE: 0.\n
                       I [DR_VCOM]VCOM RT6966 save success .\n)"},
        {255, 0, "255", R"(I [DR_VCOM] IC_RT6966_Save IN, value:0xff\n\n
                           I ENV_VCOM_VALUE: 255.\n
                           I [DR_VCOM]VCOM RT6966 save success .\n)"},
        {256, -1, "255", R"(I [DR_VCOM] IC_RT6966_Save IN, value:0x100\n\n
                            E [DR_VCOM] unvalid Vcom value.\n
                            E [DR_VCOM]VCOM RT6966 save fail .\n)"},
    };
    for (const auto& c : cases) {
        resetRecords();
        EXPECT_EQ(c.result, driver->u1DrvSaveVcom(c.value));
        EXPECT_EQ(c.stored, storedVcomValue(root));
        EXPECT_EQ(operator""_lines(c.messages, std::strlen(c.messages)), timeline());
    }
}

}  // namespace
}  // namespace ze::test
