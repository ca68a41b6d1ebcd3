#pragma once
// A driver on a simulated board, with a board file under a temporary
// platform root, the virtual clock at 0 and the debug output captured.

#include <memory>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/board.h>
#include <ze/sim/panel.h>
#include <ze/test/log_capture.h>
#include <ze/test/timeline.h>
#include <ze/test/virtual_clock.h>

#include "vcomic/VCOMICdriver.h"

namespace ze {
namespace test {

class DriverTest : public ::testing::Test {
protected:
    DriverTest();
    ~DriverTest() override;

    // Installs the panel's models, writes its board file, creates the driver
    // and parses the board file; then clears the trace, the log and the clock
    // so that the test sees only what it runs itself.
    ze::sim::Panel install(const ze::sim::PanelConfig& config);
    // Writes `text` as the board file.
    void writeBoardFile(const std::string& text);

    // What happened since the last reset: waits and SoC calls, in order.
    std::vector<std::string> events() const { return timeline(*board); }
    void resetRecords();

    std::shared_ptr<ze::sim::Board> board;
    std::string root;
    LogCapture log;
    std::shared_ptr<ze::ic::VCOMICDriver> driver;
};

}  // namespace test
}  // namespace ze
