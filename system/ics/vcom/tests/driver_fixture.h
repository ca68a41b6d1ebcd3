#pragma once
// A driver on a simulated board, with a board file under a temporary
// platform root, the virtual clock at 0 and one timeline of everything the
// driver does. The timeline's lines (see ze/test/timeline.h):
//   "sleep 20000"                   a wait
//   "write 0xE8 [0x25] 01"          a transfer through the transport (1 ms pause, SoC call)
//   "read 0xE9 [] 80"               a read and the bytes it returned
//   "write 0xE8 [0x26] C5 -> -121"  a failed SoC call, then "E writeNumBytes report"
//                                   (or "E readNumBytes report") for the transport's report
//   "unpaused write ..."            an I2C call that bypassed the transport's pause
//   "gpio 168=1"                    a GPIO call; "freerun get 1", "freerun set 2"
//   "I <text>" / "E <text>"         a message at info / error level, as emitted
// Chip tests write a routine's fault-free run as a Lines table and a failure
// as upTo(run, "write 0xE8 [0x26] C5") + what follows the failed call.

#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <ze/sim/board.h>
#include <ze/sim/panel.h>
#include <ze/sim/rig.h>
#include <ze/test/log_capture.h>
#include <ze/test/temp_root.h>
#include <ze/test/timeline.h>
#include <ze/test/virtual_clock.h>

#include "vcomic/VCOMICdriver.h"

namespace ze::test {

using V = ze::ic::VCOMICDriver;
using Routine = int (V::*)(unsigned short*);
using Lines = std::vector<std::string>;
using ze::sim::Call;
using ze::sim::VcomBoardConfig;

constexpr int kBusFault = -121;  // injected into I2C transfers
constexpr int kGpioFault = 3;    // injected into GPIO calls

Lines operator+(Lines head, const Lines& tail);

// A timeline written as text: a message per line, with "\n" for a newline,
// or bus steps and waits separated by ", " as steps() gives them. Leading
// blanks and empty lines are dropped.
Lines operator""_lines(const char* text, std::size_t size);

// `run` up to `step`, which fails with `status`, and the transport's report
// when the step is a transfer.
Lines upTo(const Lines& run, const std::string& step, int status = kBusFault);

// The nth SoC call of one kind fails; nth 0: none.
struct Fault {
    Call call;
    unsigned int nth;
};
constexpr Fault kNoFault{Call::I2CWrite, 0};
constexpr Fault nthWrite(unsigned int n)
{
    return {Call::I2CWrite, n};
}
constexpr Fault nthRead(unsigned int n)
{
    return {Call::I2CRead, n};
}
constexpr Fault nthGpio(unsigned int n)
{
    return {Call::GpioSetValue, n};
}

// The catalogue's TypeIdx of a chip named on a command line ("auo").
int typeIdxOf(const char* chip);

// Upper-case hex, at least `digits` wide.
std::string hex(unsigned int value, int digits = 2);

// One run of a chip routine on a chip installed afresh.
struct RoutineRun {
    Routine routine;
    Fault fault;
    int result;
    Lines timeline;
    std::string state = "";  // the model afterwards, as the test prints it; "": unchanged
    std::optional<unsigned short> value = std::nullopt;  // the caller's; none: unchanged
};

class DriverTest : public ::testing::Test {
protected:
    DriverTest();
    ~DriverTest() override;

    // On a fresh board: installs the panel, writes its board file and parses
    // it; then clears the timeline, the log and the clock.
    ze::sim::Panel install(const VcomBoardConfig& config);
    template <class Model>
    Model& installModel(const char* chip, std::uint8_t vcomAddr = 0xE8,
                        std::uint32_t gpioStatus = 1)
    {
        VcomBoardConfig config;
        config.typeIdx = typeIdxOf(chip);
        config.vcomAddr = vcomAddr;
        config.gpioStatus = gpioStatus;
        auto model = std::dynamic_pointer_cast<Model>(install(config).chip);
        if (!model) throw std::logic_error("the panel holds another model");
        return *model;
    }
    void writeBoardFile(const std::string& text);
    int run(Routine routine, unsigned short value = 0x42)
    {
        return (driver.get()->*routine)(&value);
    }
    void resetRecords();

    Lines timeline() const { return ze::test::timeline(); }
    Lines select(const std::function<bool(const std::string&)>& keep) const;
    std::string steps() const;                    // the timeline's non-message lines, ", "-joined
    long count(const std::string& prefix) const;  // timeline lines that start so
    std::string levelled() const;  // the timeline's messages, transport reports left out
    Lines errors() const;          // the "E " bodies of levelled()
    long logged(const std::string& body) const;  // messages with this body
    std::string outcomes() const;  // levelled()'s dispatch lines "... success ." / "... fail ."
    std::string site(const std::string& body) const;  // the function that emitted that message

    // Each run with the caller's value starting at `value`; `setUp` installs
    // the chip, `state` prints it.
    void expectRuns(const std::vector<RoutineRun>& runs, unsigned short value,
                    const std::function<void(const RoutineRun&)>& setUp,
                    const std::function<std::string()>& state);
    // Through the dispatch, every value 0..255 (with itself as high byte when
    // `highByte`) is updated, held as heldFor(v) and read back as readFor(v).
    void expectRoundTrip(const std::function<unsigned()>& held,
                         const std::function<unsigned(unsigned)>& heldFor,
                         const std::function<unsigned(unsigned)>& readFor = nullptr,
                         bool highByte = true);
    // Updates 0x21, saves 0x99, updates 0x42, cycles power: the read gives
    // `kept`; the outcomes name the operations {update, save, read} so.
    void expectPowerCycleKeeps(unsigned short kept, const Lines& names);

    TempRoot tempRoot;  // outlives the driver that reads it
    std::shared_ptr<ze::sim::Board> board;
    ze::sim::Panel panel;  // the last one installed
    const std::string root = tempRoot.dir();
    std::unique_ptr<ze::sim::Rig> rig;  // the last panel's
    LogCapture log;
    std::shared_ptr<V> driver;
};

}  // namespace ze::test
