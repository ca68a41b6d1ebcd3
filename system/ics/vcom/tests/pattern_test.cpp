// The VCOM test pattern holds the display's free-run rate at 60 Hz.

#include "driver_fixture.h"

namespace ze::test {
namespace {

using Pattern = DriverTest;

// Runs first in this binary: the remembered setting is process-wide and
// starts at 0.
TEST_F(Pattern, OffBeforeAnyOnAppliesZero)
{
    board->setFreerunVfreq(3);
    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 0));
    EXPECT_EQ("freerun set 0", steps());
    EXPECT_EQ("I [DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq 0\n\n", levelled());
}

// A second on remembers 60 Hz, and all drivers share what was remembered.
TEST_F(Pattern, OnRemembersTheSettingAndSelects60HzAndOffRestoresIt)
{
    board->setFreerunVfreq(1);
    ze::ic::VCOMICDriver other(8, nullptr);
    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 1));
    EXPECT_EQ(1, other.Get_Vcom_bmp(nullptr, 0));
    EXPECT_EQ(
        "I [DR_VCOM] Set Vcom Pattern 1, Get Freerun Vfreq 1\n\n"
        "I [DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq 1\n\n",
        levelled());
    driver->Get_Vcom_bmp("vcom", 1);
    driver->Get_Vcom_bmp("vcom", 1);
    other.Get_Vcom_bmp("vcom", 0);
    EXPECT_EQ(2, board->freerunVfreq());
    EXPECT_EQ(
        "freerun get 1, freerun set 2, freerun set 1, freerun get 1, freerun set 2, "
        "freerun get 2, freerun set 2, freerun set 2",
        steps());
}

TEST_F(Pattern, FailuresAreLoggedButTheResultIsAlwaysOne)
{
    board->setFreerunVfreq(1);
    board->failNth(Call::DisplaySetFreerunVfreq, 1, -1);
    board->failNth(Call::DisplaySetFreerunVfreq, 2, -1);
    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 1));
    EXPECT_EQ(1, driver->Get_Vcom_bmp("vcom", 0));
    EXPECT_EQ(
        "E [DR_VCOM] Set Freerun Vfreq 60Hz Fail\n\n"
        "I [DR_VCOM] Set Vcom Pattern 1, Get Freerun Vfreq 1\n\n"
        "I [DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq 1\n\n"
        "E [DR_VCOM] Set Freerun Vfreq 1 Fail\n\n",
        levelled());
}

}  // namespace
}  // namespace ze::test
