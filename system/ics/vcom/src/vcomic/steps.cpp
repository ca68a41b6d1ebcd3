#include "steps.h"

#include <cstdio>

#include <qel/soc.h>

#include "reg_io.h"

namespace ze {
namespace ic {
namespace steps {
namespace {

constexpr std::size_t kNoteSize = 256;
constexpr unsigned char kNoSubAddr = 0;
constexpr unsigned int kSubAddrUnused = 0;

unsigned int load(const Frame& frame, Operand operand)
{
    switch (operand.kind) {
        case Operand::Kind::Constant:
            return operand.n;
        case Operand::Kind::Word:
            return frame.words[operand.n];
        case Operand::Kind::Value:
            return *frame.value;
        case Operand::Kind::ValueByte:
            return static_cast<unsigned char>(*frame.value);
        case Operand::Kind::None:
            break;
    }
    return 0;
}

void store(Frame& frame, Operand operand, unsigned char byte)
{
    if (operand.kind == Operand::Kind::Word) {
        frame.words[operand.n] = byte;
    } else if (operand.kind == Operand::Kind::Value) {
        *frame.value = byte;
    }
}

// The gate's resting level is the opposite of its access level, whatever
// gpioStatus holds.
unsigned int gateRestLevel(unsigned int accessLevel)
{
    return accessLevel == 0 ? 1u : 0u;
}

int transfer(VCOMICDriver& driver, const Step& step, Frame& frame)
{
    unsigned char byte = static_cast<unsigned char>(load(frame, step.operand));
    int ret = 0;
    switch (step.op) {
        case Op::Write:
            return regio::writeReg(driver, step.reg, byte);
        case Op::Read:
            ret = regio::readReg(driver, step.reg, &byte);
            break;
        case Op::Send:
            return driver.writeNumBytes(driver.vcomAddr, kNoSubAddr, kSubAddrUnused, &byte,
                                        regio::kDataBytes);
        case Op::Receive:
            ret = driver.readNumBytes(regio::readAddress(driver.vcomAddr), kNoSubAddr,
                                      kSubAddrUnused, &byte, regio::kDataBytes);
            break;
        case Op::GateOpen:
            return QEL_GPIOSetValue(driver.gpioAddr, driver.gpioStatus);
        case Op::GateClose:
            return QEL_GPIOSetValue(driver.gpioAddr, gateRestLevel(driver.gpioStatus));
        default:
            return 0;
    }
    if (ret == 0) store(frame, step.operand, byte);
    return ret;
}

void note(const Step& step, const Frame& frame, const log::Site& at)
{
    char text[kNoteSize];
    std::snprintf(text, sizeof text, step.text, load(frame, step.operand),
                  load(frame, step.second));
    VCOM_INFO_AT(at, "%s", text);
}

}  // namespace

int run(VCOMICDriver& driver, const Sequence& sequence, Frame& frame, const log::Site& at)
{
    int ret = 0;
    for (std::size_t i = 0; i < sequence.count; ++i) {
        const Step& step = sequence.steps[i];
        if (step.waitUs != 0) usleep(step.waitUs);
        switch (step.op) {
            case Op::Wait:
                continue;
            case Op::Compute:
                sequence.compute(frame);
                continue;
            case Op::Note:
                note(step, frame, at);
                continue;
            default:
                break;
        }
        ret = transfer(driver, step, frame);
        if (ret == 0) continue;
        if (step.text != nullptr) VCOM_ERR_AT(at, "%s", step.text);
        if (step.onFail == OnFail::Stop) return ret;
        if (step.onFail == OnFail::StopFailed) return kFailed;
    }
    return ret;
}

int run(VCOMICDriver& driver, const Sequence& sequence, unsigned short* value, const log::Site& at)
{
    Frame frame{value, {}};
    return run(driver, sequence, frame, at);
}

}  // namespace steps
}  // namespace ic
}  // namespace ze
