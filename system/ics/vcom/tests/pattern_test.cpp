// The VCOM test pattern holds the display's free-run rate at 60 Hz.

#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "driver_fixture.h"

namespace ze {
namespace test {
namespace {

using ze::sim::Call;

constexpr std::uint32_t kError = QOR_DEBUG_LEVEL_ERROR;
constexpr std::uint32_t kInfo = QOR_DEBUG_LEVEL_INFO;

class Pattern : public DriverTest {};

// Runs first in this binary: the remembered setting is process-wide and
// starts at 0.
TEST_F(Pattern, OffBeforeAnyOnAppliesZero)
{
    board->setFreerunVfreq(3);

    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 0));

    EXPECT_EQ((std::vector<std::string>{"freerun set 0 -> 0"}), events());
    EXPECT_EQ((std::vector<std::string>{"[DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq 0\n\n"}),
              log.bodies(kInfo));
}

TEST_F(Pattern, OnRemembersTheSettingAndSelects60HzAndOffRestoresIt)
{
    board->setFreerunVfreq(1);

    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 1));
    EXPECT_EQ(2, board->freerunVfreq());
    EXPECT_EQ(1, driver->Get_Vcom_bmp(nullptr, 0));

    EXPECT_EQ(1, board->freerunVfreq());
    EXPECT_EQ((std::vector<std::string>{"freerun get 1 -> 0", "freerun set 2 -> 0",
                                        "freerun set 1 -> 0"}),
              events());
    EXPECT_EQ((std::vector<std::string>{"[DR_VCOM] Set Vcom Pattern 1, Get Freerun Vfreq 1\n\n",
                                        "[DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq 1\n\n"}),
              log.bodies(kInfo));
}

TEST_F(Pattern, OnTwiceRemembers60HzSoTheFirstSettingIsLost)
{
    board->setFreerunVfreq(1);
    driver->Get_Vcom_bmp("vcom", 1);
    driver->Get_Vcom_bmp("vcom", 1);
    driver->Get_Vcom_bmp("vcom", 0);
    EXPECT_EQ(2, board->freerunVfreq());
}

TEST_F(Pattern, TheRememberedSettingIsSharedByAllDrivers)
{
    board->setFreerunVfreq(4);
    ze::ic::VCOMICDriver other(8, nullptr);
    driver->Get_Vcom_bmp("vcom", 1);
    other.Get_Vcom_bmp("vcom", 0);
    EXPECT_EQ(4, board->freerunVfreq());
}

TEST_F(Pattern, FailuresAreLoggedButTheResultIsAlwaysOne)
{
    board->setFreerunVfreq(1);
    board->failNth(Call::DisplaySetFreerunVfreq, 1, -1);
    board->failNth(Call::DisplaySetFreerunVfreq, 2, -1);

    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 1));
    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 0));

    EXPECT_EQ((std::vector<std::string>{"[DR_VCOM] Set Freerun Vfreq 60Hz Fail\n\n",
                                        "[DR_VCOM] Set Vcom Pattern 1, Get Freerun Vfreq 1\n\n",
                                        "[DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq 1\n\n",
                                        "[DR_VCOM] Set Freerun Vfreq 1 Fail\n\n"}),
              log.bodies());
    EXPECT_EQ(2u, log.bodies(kError).size());
}

}  // namespace
}  // namespace test
}  // namespace ze
