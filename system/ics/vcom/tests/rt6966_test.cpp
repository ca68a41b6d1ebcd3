#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <libuboot.h>

#include <flashenv.h>
#include <ze/platform/env_setup.h>
#include <ze/sim/models/rt6966.h>

#include "driver_fixture.h"

namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using ze::sim::Rt6966;

// Messages emitted inside `function`, each as "E text" or "I text" by level.
std::vector<std::string> messagesOf(const ze::test::LogCapture& log, const std::string& function)
{
    const std::string tail = ":" + function + "(): ";
    std::vector<std::string> out;
    for (const ze::test::LogMessage& m : log.messages()) {
        const std::string body = ze::test::stripPrefix(m.text);
        const std::string prefix = m.text.substr(0, m.text.size() - body.size());
        if (prefix.size() >= tail.size() && prefix.substr(prefix.size() - tail.size()) == tail) {
            out.push_back((m.level == QOR_DEBUG_LEVEL_ERROR ? "E " : "I ") + body);
        }
    }
    return out;
}

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

class Rt6966Test : public ze::test::DriverTest {
protected:
    void SetUp() override
    {
        config.chip = ze::sim::ChipType::RT6966;
        chip = std::dynamic_pointer_cast<Rt6966>(install(config).chip);
        ASSERT_NE(nullptr, chip);
    }

    ze::sim::PanelConfig config;
    std::shared_ptr<Rt6966> chip;
};

TEST_F(Rt6966Test, EveryByteValueRoundTripsThroughTheDispatch)
{
    for (unsigned int v = 0; v <= 255; ++v) {
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(v)) << v;
        EXPECT_EQ(v + 370, chip->code()) << v;
        EXPECT_EQ(v, driver->u1DrvReadVcom()) << v;
    }
}

struct Coding {
    unsigned short value;
    std::uint8_t vcomH, vcomL;
    unsigned int adjData;
    unsigned short readBack;
};

TEST_F(Rt6966Test, UpdateWritesTheLowTenBitsOfTheCodeAndReadDecodesThem)
{
    const Coding cases[] = {
        {0, 0x17, 0x20, 370, 0},        {255, 0x27, 0x10, 625, 255},
        {653, 0x3F, 0xF0, 1023, 653},   {654, 0x00, 0x00, 1024, 65166},
        {65535, 0x17, 0x10, 369, 65535},
    };
    for (const Coding& c : cases) {
        log.clear();
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(c.value)) << c.value;
        EXPECT_EQ(c.vcomH, chip->reg(Rt6966::kRegVcomH)) << c.value;
        EXPECT_EQ(c.vcomL, chip->reg(Rt6966::kRegVcomL)) << c.value;
        EXPECT_EQ("I [DR_VCOM] AdjData:" + std::to_string(c.adjData) + " Ret:0.\n",
                  messagesOf(log, "IC_RT6966_Updata").back());
        EXPECT_EQ(c.readBack, driver->u1DrvReadVcom()) << c.value;
    }
}

TEST_F(Rt6966Test, ReadIgnoresTheReservedBits)
{
    const struct { std::uint8_t vcomH, vcomL; unsigned short value; } cases[] = {
        {0xFF, 0xFF, 653}, {0xD7, 0x2F, 0}, {0x00, 0x00, 65166},
    };
    for (const auto& c : cases) {
        chip->forceReg(Rt6966::kRegVcomH, c.vcomH);
        chip->forceReg(Rt6966::kRegVcomL, c.vcomL);
        EXPECT_EQ(c.value, driver->u1DrvReadVcom());
    }
}

TEST_F(Rt6966Test, UpdateWritesBothRegistersThenSettles)
{
    ASSERT_EQ(0, driver->u1DrvUpdataVcom(0));
    EXPECT_THAT(events(), ElementsAre("sleep 1000", "write 0xE8 [0x25] 17 -> 0", "sleep 1000",
                                      "write 0xE8 [0x26] 20 -> 0", "sleep 50000"));
    EXPECT_THAT(messagesOf(log, "IC_RT6966_Updata"),
                ElementsAre("I [DR_VCOM] vcom data from 0x25: 0x17\n",
                            "I [DR_VCOM] vcom data from 0x26: 0x20\n",
                            "I [DR_VCOM]VCOMIC adjust Vcom 0x25 OK : 23.\n\n",
                            "I [DR_VCOM]VCOMIC adjust Vcom 0x26 OK : 32.\n",
                            "I [DR_VCOM] AdjData:370 Ret:0.\n"));
}

TEST_F(Rt6966Test, ReadReadsBothRegistersThenSettles)
{
    chip->forceReg(Rt6966::kRegVcomH, 0x27);
    chip->forceReg(Rt6966::kRegVcomL, 0x10);
    unsigned short value = 0;
    ASSERT_EQ(0, driver->IC_RT6966_Read(&value));
    EXPECT_EQ(255, value);
    EXPECT_THAT(events(), ElementsAre("sleep 1000", "read 0xE8 [0x25] 27 -> 0", "sleep 1000",
                                      "read 0xE8 [0x26] 10 -> 0", "sleep 50000"));
    EXPECT_THAT(messagesOf(log, "IC_RT6966_Read"),
                ElementsAre("I [DR_VCOM] vcom data read from 0x25 is 0x0027, from 0x26 is 0x0010\n",
                            "I [DR_VCOM] vcom data: 0xff\n"));
}

struct TransferFault {
    ze::sim::Call call;
    unsigned int nth;
    std::vector<std::string> events;
    std::vector<std::string> messages;
};

TEST_F(Rt6966Test, FailedTransferEndsTheRoutineWithMinusOneAndNoSettling)
{
    using ze::sim::Call;
    const TransferFault updates[] = {
        {Call::I2CWrite, 1, {"sleep 1000", "write 0xE8 [0x25] 27 -> -5"},
         {"I [DR_VCOM] vcom data from 0x25: 0x27\n", "I [DR_VCOM] vcom data from 0x26: 0x10\n",
          "E [DR_VCOM]VCOMIC adjust Vcom 0x25 fail.\n"}},
        {Call::I2CWrite, 2,
         {"sleep 1000", "write 0xE8 [0x25] 27 -> 0", "sleep 1000", "write 0xE8 [0x26] 10 -> -5"},
         {"I [DR_VCOM] vcom data from 0x25: 0x27\n", "I [DR_VCOM] vcom data from 0x26: 0x10\n",
          "I [DR_VCOM]VCOMIC adjust Vcom 0x25 OK : 39.\n\n",
          "E [DR_VCOM]VCOMIC adjust Vcom 0x26 fail.\n"}},
    };
    for (const TransferFault& f : updates) {
        resetRecords();
        board->failNth(f.call, f.nth, ze::sim::kDataNack);
        unsigned short value = 255;
        EXPECT_EQ(-1, driver->IC_RT6966_Updata(&value));
        EXPECT_EQ(255, value);
        EXPECT_EQ(f.events, events());
        EXPECT_EQ(f.messages, messagesOf(log, "IC_RT6966_Updata"));
    }
    // The second write failed: VCOM_H is new, VCOM_L is still the power-on one.
    EXPECT_EQ(0x27, chip->reg(Rt6966::kRegVcomH));
    EXPECT_EQ(Rt6966().reg(Rt6966::kRegVcomL), chip->reg(Rt6966::kRegVcomL));

    const TransferFault reads[] = {
        {Call::I2CRead, 1, {"sleep 1000", "read 0xE8 [0x25]  -> 7"},
         {"E [DR_VCOM]read Vcom 0x25 fail.\n"}},
        {Call::I2CRead, 2,
         {"sleep 1000", "read 0xE8 [0x25] 27 -> 0", "sleep 1000", "read 0xE8 [0x26]  -> 7"},
         {}},
    };
    for (const TransferFault& f : reads) {
        resetRecords();
        board->failNth(f.call, f.nth, 7);
        unsigned short value = 0x1234;
        EXPECT_EQ(-1, driver->IC_RT6966_Read(&value));
        EXPECT_EQ(0x1234, value);
        EXPECT_EQ(f.events, events());
        EXPECT_EQ(f.messages, messagesOf(log, "IC_RT6966_Read"));
    }
}

class Rt6966SaveTest : public Rt6966Test {
protected:
    void SetUp() override
    {
        Rt6966Test::SetUp();
        ASSERT_EQ(0, ze::platform::createEnvStore(root));
        // The save never touches the chip.
        board->failMatching(config.vcomAddr, std::nullopt, ze::sim::kAddressNack);
    }
};

TEST_F(Rt6966SaveTest, StoresValuesUpTo255AsDecimalText)
{
    const struct { unsigned short value; const char* text; const char* hex; } cases[] = {
        {0, "0", "0x0"}, {7, "7", "0x7"}, {255, "255", "0xff"},
    };
    for (const auto& c : cases) {
        log.clear();
        EXPECT_EQ(0, driver->u1DrvSaveVcom(c.value));
        EXPECT_EQ(c.text, storedVcomValue(root));
        const std::string in = std::string("I [DR_VCOM] IC_RT6966_Save IN, value:") + c.hex;
        EXPECT_THAT(messagesOf(log, "IC_RT6966_Save"),
                    ElementsAre(in + "\n\n", "I ENV_VCOM_VALUE: " + std::string(c.text) + ".\n"));
        EXPECT_THAT(log.bodies(), ::testing::Contains("[DR_VCOM]VCOM RT6966 save success .\n"));
    }
    EXPECT_THAT(events(), IsEmpty());
}

TEST_F(Rt6966SaveTest, RefusesValuesAbove255AndStoresNothing)
{
    for (unsigned short value : {256, 653, 65535}) {
        log.clear();
        unsigned short v = value;
        EXPECT_EQ(-1, driver->IC_RT6966_Save(&v));
        EXPECT_EQ(std::nullopt, storedVcomValue(root));
        char in[64];
        std::snprintf(in, sizeof in, "I [DR_VCOM] IC_RT6966_Save IN, value:0x%x\n\n", value);
        EXPECT_THAT(messagesOf(log, "IC_RT6966_Save"),
                    ElementsAre(in, "E [DR_VCOM] unvalid Vcom value.\n"));
    }
    EXPECT_THAT(events(), IsEmpty());
}

TEST_F(Rt6966Test, SaveReturnsTheStatusOfAFailingStore)
{
    // No environment store under this root: fw_env.config is missing.
    const int storeStatus = FlashEnv::instance()->setEnv("vcom_value", "1");
    ASSERT_NE(0, storeStatus);
    log.clear();
    EXPECT_EQ(storeStatus, driver->u1DrvSaveVcom(17));
    EXPECT_THAT(messagesOf(log, "IC_RT6966_Save"),
                ElementsAre("I [DR_VCOM] IC_RT6966_Save IN, value:0x11\n\n",
                            "I ENV_VCOM_VALUE: 17.\n",
                            "E [DR_VCOM] SetEnv of ENV_VCOM_VALUE failed.\n"));
    EXPECT_THAT(log.bodies(QOR_DEBUG_LEVEL_ERROR),
                ::testing::Contains("[DR_VCOM]VCOM RT6966 save fail .\n"));
}

// The model, as a faulty driver would meet it.
TEST(Rt6966Model, RefusesReservedBitsAndUnknownRegistersWithoutChange)
{
    Rt6966 chip;
    const std::uint16_t before = chip.code();
    const std::vector<std::vector<std::uint8_t>> refused = {
        {},           {0x24, 0x00},       {0x27},             {0x25, 0x40},
        {0x26, 0x01}, {0x25, 0x3F, 0xF1}, {0x26, 0x00, 0x00},
    };
    for (const auto& phase : refused) {
        EXPECT_EQ(ze::sim::kDataNack, chip.write(phase.data(), phase.size())) << phase.size();
    }
    EXPECT_EQ(before, chip.code());
    std::uint8_t out[3] = {};
    EXPECT_EQ(ze::sim::kDataNack, chip.read(out, 1)) << "nothing addressed yet";
    const std::uint8_t pointAt0x26[] = {0x26};
    ASSERT_EQ(0, chip.write(pointAt0x26, 1));
    EXPECT_EQ(ze::sim::kDataNack, chip.read(out, 2)) << "past VCOM_L";
}

TEST(Rt6966Model, KeepsTheCodeOnlyUntilPowerIsLost)
{
    Rt6966 chip;
    EXPECT_EQ(Rt6966::kPowerOnCode, chip.code());
    const std::uint8_t both[] = {0x25, 0x3F, 0xF0};
    ASSERT_EQ(0, chip.write(both, sizeof both));
    EXPECT_EQ(0x3FF, chip.code());
    const std::uint8_t pointAt0x25[] = {0x25};
    std::uint8_t out[2] = {};
    ASSERT_EQ(0, chip.write(pointAt0x25, 1));
    ASSERT_EQ(0, chip.read(out, 2));
    EXPECT_THAT(out, ElementsAre(0x3F, 0xF0));
    chip.powerCycle();
    EXPECT_EQ(Rt6966::kPowerOnCode, chip.code());
}

}  // namespace
