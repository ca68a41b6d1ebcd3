#include "driver_fixture.h"

#include <stdlib.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <ze/platform/soc_backend.h>

namespace ze::test {
namespace {

std::shared_ptr<ze::sim::Board> newBoard()
{
    auto board = std::make_shared<ze::sim::Board>();
    board->setClock(nowUs);
    board->setTraceEnabled(true);
    ze::platform::setSocBackend(board);
    return board;
}

bool isTransportReport(const std::string& body)
{
    return body.rfind("[VCOMIC] I2C ", 0) == 0 || body.rfind("[VCOMIC] QEL_I2CWrite ", 0) == 0 ||
           body.rfind("[VCOMIC] QEL_I2CRead ", 0) == 0;
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

// "... x": the steps of the routine's fault-free run before the one x is about, then x.
std::string expandSteps(const std::vector<RoutineRun>& runs, const RoutineRun& run)
{
    if (run.steps.rfind("... ", 0) != 0) return run.steps;
    const std::string failed = run.steps.substr(4);
    std::string stem = failed.substr(0, failed.find(" -> "));
    stem.erase(stem.find_last_not_of(' ') + 1);
    for (const RoutineRun& ok : runs) {
        if (ok.routine != run.routine || ok.fault.nth != 0) continue;
        const std::string::size_type at = (", " + ok.steps).find(", " + stem);
        if (at != std::string::npos) return ok.steps.substr(0, at) + failed;
    }
    return run.steps;
}

}  // namespace

std::string hex(unsigned int value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

DriverTest::DriverTest() : board(newBoard())
{
    char dir[] = "/tmp/vcomtest.XXXXXX";
    root = mkdtemp(dir);
    setenv("ZE_PLATFORM_ROOT", root.c_str(), 1);
    resetClock();
    driver = std::make_shared<V>(7, nullptr);
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
    board = newBoard();
    panel = ze::sim::installPanel(*board, config);
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

std::string DriverTest::steps() const
{
    std::string out;
    for (std::string e : events()) {
        if (e == "sleep 1000") continue;
        if (endsWith(e, " -> 0")) e.resize(e.size() - 5);
        out += (out.empty() ? "" : ", ") + e;
    }
    return out;
}

long DriverTest::count(const std::string& prefix) const
{
    const Lines all = events();
    return std::count_if(all.begin(), all.end(),
                         [&](const std::string& e) { return e.rfind(prefix, 0) == 0; });
}

std::string DriverTest::failedStep() const
{
    for (const std::string& e : events()) {
        if (endsWith(e, " -> " + std::to_string(kBusFault))) return e;
    }
    return "";
}

std::string DriverTest::levelled() const
{
    std::string out;
    for (const LogMessage& m : log.messages()) {
        const std::string body = stripPrefix(m.text);
        if (isTransportReport(body)) continue;
        out += (m.level == QOR_DEBUG_LEVEL_ERROR ? "E " : "I ") + body;
    }
    return out;
}

Lines DriverTest::errors() const
{
    Lines out = log.bodies(QOR_DEBUG_LEVEL_ERROR);
    out.erase(std::remove_if(out.begin(), out.end(), isTransportReport), out.end());
    return out;
}

long DriverTest::logged(const std::string& body) const
{
    const Lines all = log.bodies();
    return std::count(all.begin(), all.end(), body);
}

std::string DriverTest::outcomes() const
{
    std::istringstream lines(levelled());
    std::string out;
    for (std::string line; std::getline(lines, line);) {
        if (endsWith(line, " success .") || endsWith(line, " fail .")) out += line + "\n";
    }
    return out;
}

std::string DriverTest::site(const std::string& body) const
{
    for (const LogMessage& m : log.messages()) {
        if (stripPrefix(m.text) != body) continue;
        const std::string prefix = m.text.substr(0, m.text.find("(): "));  // file:line:function
        return prefix.substr(0, prefix.find(':')) + prefix.substr(prefix.rfind(':'));
    }
    return "";
}

void DriverTest::expectRuns(const std::vector<RoutineRun>& runs, unsigned short value,
                            const std::function<void(const RoutineRun&)>& setUp,
                            const std::function<std::string()>& state)
{
    for (const RoutineRun& run : runs) {
        const std::string steps = expandSteps(runs, run);
        SCOPED_TRACE(steps);
        setUp(run);
        const std::string before = state();
        if (run.fault.nth != 0) {
            board->failNth(run.fault.call, run.fault.nth,
                           run.fault.call == Call::GpioSetValue ? kGpioFault : kBusFault);
        }
        unsigned short v = value;
        EXPECT_EQ(run.result, (driver.get()->*run.routine)(&v));
        EXPECT_EQ(run.value.value_or(value), v);
        EXPECT_EQ(run.state.empty() ? before : run.state, state());
        EXPECT_EQ(steps, this->steps());
        EXPECT_EQ(run.messages, levelled());
    }
}

void DriverTest::expectRoundTrip(const std::function<unsigned()>& held,
                                 const std::function<unsigned(unsigned)>& heldFor,
                                 const std::function<unsigned(unsigned)>& readFor, bool highByte)
{
    for (unsigned int v = 0; v < 256; ++v) {
        const unsigned short value = static_cast<unsigned short>(highByte ? v * 0x0101 : v);
        ASSERT_EQ(0, driver->u1DrvUpdataVcom(value)) << v;
        ASSERT_EQ(heldFor(v), held()) << v;
        ASSERT_EQ(readFor ? readFor(v) : v, driver->u1DrvReadVcom()) << v;
    }
}

void DriverTest::expectPowerCycleKeeps(unsigned short kept)
{
    log.clear();
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x21));
    EXPECT_EQ(0, driver->u1DrvSaveVcom(0x99));
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x42));
    board->powerCycle();
    EXPECT_EQ(kept, driver->u1DrvReadVcom());
}

}  // namespace ze::test
