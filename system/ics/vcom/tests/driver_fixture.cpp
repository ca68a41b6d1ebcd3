#include "driver_fixture.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

#include <ze/platform/soc_backend.h>

namespace ze {
namespace test {

DriverTest::DriverTest() : board(std::make_shared<ze::sim::Board>())
{
    char dir[] = "/tmp/vcomtest.XXXXXX";
    root = mkdtemp(dir);
    setenv("ZE_PLATFORM_ROOT", root.c_str(), 1);
    resetClock();
    board->setClock(nowUs);
    ze::platform::setSocBackend(board);
    driver = std::make_shared<ze::ic::VCOMICDriver>(7, nullptr);
}

DriverTest::~DriverTest()
{
    driver.reset();
    ze::platform::setSocBackend(nullptr);
    unsetenv("ZE_PLATFORM_ROOT");
    std::error_code ignored;
    std::filesystem::remove_all(root, ignored);
}

ze::sim::Panel DriverTest::install(const ze::sim::PanelConfig& config)
{
    ze::sim::Panel panel = ze::sim::installPanel(*board, config);
    EXPECT_EQ(0, ze::sim::writeBoardIni(root, config));
    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());
    resetRecords();
    return panel;
}

void DriverTest::writeBoardFile(const std::string& text)
{
    const std::filesystem::path dir = std::filesystem::path(root) / "obdata/model/config";
    std::filesystem::create_directories(dir);
    std::ofstream(dir / "board.ini") << text;
}

void DriverTest::resetRecords()
{
    board->clearTrace();
    log.clear();
    resetClock();
}

}  // namespace test
}  // namespace ze
