#include "driver_fixture.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include <ze/ic/chip_catalogue.h>
#include <ze/platform/soc_backend.h>

namespace ze::test {
namespace {

std::shared_ptr<ze::sim::Board> newBoard()
{
    auto board = std::make_shared<ze::sim::Board>();
    board->setClock(nowUs);
    board->setTraceEnabled(true);
    ze::platform::setSocBackend(recordCalls(board));
    return board;
}

bool isMessage(const std::string& line)
{
    return line.rfind("I ", 0) == 0 || line.rfind("E ", 0) == 0;
}

bool isTransportReport(const std::string& line)
{
    return line == "E writeNumBytes report" || line == "E readNumBytes report";
}

bool endsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() &&
           text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

}  // namespace

Lines operator+(Lines head, const Lines& tail)
{
    head.insert(head.end(), tail.begin(), tail.end());
    return head;
}

Lines operator""_lines(const char* text, std::size_t size)
{
    Lines out;
    std::istringstream in(std::string(text, size));
    for (std::string line; std::getline(in, line);) {
        line.erase(0, line.find_first_not_of(' '));
        if (line.empty()) continue;
        if (isMessage(line)) {
            for (auto at = line.find("\\n"); at != std::string::npos; at = line.find("\\n", at)) {
                line.replace(at, 2, "\n");
            }
            out.push_back(line);
            continue;
        }
        std::string::size_type from = 0;
        for (auto at = line.find(", "); at != std::string::npos; at = line.find(", ", from)) {
            out.push_back(line.substr(from, at - from));
            from = at + 2;
        }
        out.push_back(line.substr(from));
    }
    return out;
}

Lines upTo(const Lines& run, const std::string& step, int status)
{
    const auto at = std::find(run.begin(), run.end(), step);
    if (at == run.end()) throw std::logic_error("no step " + step);
    Lines out(run.begin(), at);
    // A failed read returns no bytes.
    const std::string call =
        step.rfind("read ", 0) == 0 ? step.substr(0, step.find(']') + 2) : step;
    out.push_back(call + " -> " + std::to_string(status));
    if (step.rfind("write ", 0) == 0) out.push_back("E writeNumBytes report");
    if (step.rfind("read ", 0) == 0) out.push_back("E readNumBytes report");
    return out;
}

int typeIdxOf(const char* chip)
{
    const ze::ic::catalogue::ChipInfo* info = ze::ic::catalogue::byName(chip);
    if (info == nullptr) throw std::logic_error(std::string("no chip ") + chip);
    return info->typeIdx;
}

std::string hex(unsigned int value, int digits)
{
    char text[16];
    std::snprintf(text, sizeof text, "%0*X", digits, value);
    return text;
}

DriverTest::DriverTest() : board(newBoard())
{
    resetClock();
    startTimeline();
    driver = std::make_shared<V>(7, nullptr);
}

DriverTest::~DriverTest()
{
    driver.reset();
    stopTimeline();
    ze::platform::setSocBackend(nullptr);
}

ze::sim::Panel DriverTest::install(const VcomBoardConfig& config)
{
    rig.reset();
    board = newBoard();
    ze::sim::RigSetup setup;
    setup.panel = config;
    setup.root = root;
    setup.board = board;
    setup.envStore = false;  // the tests that need one make it
    std::string error;
    rig = ze::sim::Rig::create(setup, &error);
    if (!rig) throw std::runtime_error(error);
    rig->activate(recordCalls(board));
    panel = rig->panel();
    EXPECT_EQ(0, driver->Get_Vcom_DataSeparation());
    resetRecords();
    return panel;
}

void DriverTest::writeBoardFile(const std::string& text)
{
    tempRoot.write("/obdata/model/config/board.ini", text);
}

void DriverTest::resetRecords()
{
    board->clearTrace();
    log.clear();
    resetClock();
    startTimeline();
}

Lines DriverTest::select(const std::function<bool(const std::string&)>& keep) const
{
    Lines out;
    for (const std::string& line : timeline()) {
        if (keep(line)) out.push_back(line);
    }
    return out;
}

std::string DriverTest::steps() const
{
    std::string out;
    for (const std::string& line : select([](auto& l) { return !isMessage(l); }))
        out += (out.empty() ? "" : ", ") + line;
    return out;
}

long DriverTest::count(const std::string& prefix) const
{
    return static_cast<long>(select([&](auto& l) { return l.rfind(prefix, 0) == 0; }).size());
}

std::string DriverTest::levelled() const
{
    std::string out;
    for (const std::string& line :
         select([](auto& l) { return isMessage(l) && !isTransportReport(l); }))
        out += line;
    return out;
}

Lines DriverTest::errors() const
{
    Lines out = select([](auto& l) { return l.rfind("E ", 0) == 0 && !isTransportReport(l); });
    for (std::string& line : out) line.erase(0, 2);
    return out;
}

long DriverTest::logged(const std::string& body) const
{
    const Lines all = log.bodies();
    return std::count(all.begin(), all.end(), body);
}

std::string DriverTest::outcomes() const
{
    std::string out;
    for (const std::string& line :
         select([](auto& l) { return endsWith(l, " success .\n") || endsWith(l, " fail .\n"); }))
        out += line;
    return out;
}

std::string DriverTest::site(const std::string& body) const
{
    for (const LogMessage& m : log.messages()) {
        if (stripPrefix(m.text) != body) continue;
        const std::string prefix = m.text.substr(0, m.text.find("(): "));  // file:line:function
        return prefix.substr(prefix.rfind(':') + 1);
    }
    return "";
}

void DriverTest::expectRuns(const std::vector<RoutineRun>& runs, unsigned short value,
                            const std::function<void(const RoutineRun&)>& setUp,
                            const std::function<std::string()>& state)
{
    for (const RoutineRun& run : runs) {
        SCOPED_TRACE(run.timeline.empty() ? "" : run.timeline.back());
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
        EXPECT_EQ(run.timeline, timeline());
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

void DriverTest::expectPowerCycleKeeps(unsigned short kept, const Lines& names)
{
    resetRecords();
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x21));
    EXPECT_EQ(0, driver->u1DrvSaveVcom(0x99));
    EXPECT_EQ(0, driver->u1DrvUpdataVcom(0x42));
    board->powerCycle();
    EXPECT_EQ(kept, driver->u1DrvReadVcom());
    std::string expected;
    for (int op : {0, 1, 0, 2}) expected += "I [DR_VCOM]" + names.at(op) + " success .\n";
    EXPECT_EQ(expected, outcomes());
}

}  // namespace ze::test
