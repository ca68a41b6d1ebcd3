#include "runner.h"

#include <cerrno>
#include <cstring>

#include "vcomic/VCOMICdriver.h"

namespace vcomctl {
namespace {

// The first call that failed: what followed (retries, a closed gate) is its
// consequence.
const TraceEntry* firstFailure(const std::vector<TraceEntry>& entries)
{
    for (const TraceEntry& entry : entries) {
        if (entry.status != 0) return &entry;
    }
    return nullptr;
}

// The [VCOM] fields as the driver parsed them.
BoardConfig boardOf(const ze::ic::VCOMICDriver& d)
{
    return BoardConfig{d.typeIdx,    d.i2cBus,  d.vcomAddr,     d.gpioAddr,
                       d.gpioStatus, d.ldmFlag, d.i2cSwitchType};
}

const ChipInfo* chipOf(const ze::ic::VCOMICDriver* driver)
{
    return driver != nullptr ? ze::ic::catalogue::byTypeIdx(driver->typeIdx) : nullptr;
}

}  // namespace

Runner::Runner(Setup setup, Hooks hooks) : setup_(setup), hooks_(std::move(hooks)) {}

std::string Runner::reason(const std::string& what, std::optional<int> driverStatus,
                           const std::vector<TraceEntry>& entries) const
{
    std::string text = what + " failed";
    if (driverStatus) text += " (status " + std::to_string(*driverStatus) + ")";
    const TraceEntry* failed = firstFailure(entries);
    const std::vector<DriverMessage> messages = setup_.log.callMessages();
    if (failed != nullptr) {
        text += ": " + describeCall(*failed) + ": ";
        text += failed->status < 0 ? std::strerror(-failed->status) : "failed";
        text += " (" + std::to_string(failed->status) + ")";
        const std::string gap =
            setup_.platform != nullptr ? setup_.platform->configurationGap(failed->bus) : "";
        if (!gap.empty() && failed->call != ze::platform::Call::GpioSetValue) text += "; " + gap;
    } else if (!messages.empty()) {
        // Every transfer went through: the chip itself refused (an Innolux status).
        text += ": " + messageBody(messages.back().text);
    }
    return text;
}

template <typename Call>
CommandResult Runner::call(const std::string& name, Op op, Call&& body)
{
    CommandResult result;
    result.name = name;
    result.op = op;
    setup_.log.startCall();
    if (setup_.platform != nullptr && !setup_.platform->beginCommand(&result.error)) {
        result.ok = false;
        return result;
    }
    if (hooks_.begin) hooks_.begin(name);
    body(result);
    if (hooks_.end) hooks_.end();
    std::vector<TraceEntry> entries = setup_.tap.take();
    if (!result.ok && result.error.empty()) result.error = reason(name, result.status, entries);
    std::string kept;
    if (setup_.platform != nullptr && !setup_.platform->keepState(&kept) && result.ok) {
        result.ok = false;
        result.error = kept;
    }
    if (setup_.keepTrace) result.trace = std::move(entries);
    return result;
}

CommandResult Runner::init()
{
    return call("init", Op::Init, [this](CommandResult& result) {
        result.status = setup_.vcom.init();
        result.ok = result.status == 0;
    });
}

CommandResult Runner::run(const Command& command)
{
    return call(describe(command), command.op, [&](CommandResult& result) {
        switch (command.op) {
            case Op::Read: {
                unsigned short value = 0;
                result.ok = readChip(&value) == 0;
                result.value = value;
                break;
            }
            case Op::Update:
                result.value = command.value;
                result.status = setup_.vcom.u1DrvUpdataVcom(command.value);
                result.ok = result.status == 0;
                break;
            case Op::Save:
                result.value = command.value;
                if (!updateBeforeSave(command, result)) break;
                result.status = setup_.vcom.u1DrvSaveVcom(command.value);
                result.ok = result.status == 0;
                if (!result.ok) explainStoreFailure(command, result);
                if (result.ok && setup_.verify) readBack(command, result);
                break;
            case Op::Pattern:
                // Always 1; a refused refresh-rate switch is told only in the log.
                setup_.vcom.Get_Vcom_bmp("vcomctl", command.on ? 1 : 0);
                result.ok = setup_.log.callMessages().empty();
                break;
            case Op::Config:
                if (setup_.driver != nullptr) {
                    result.fields = boardOf(*setup_.driver);
                } else {
                    result.ok = false;
                    result.error = "config: the registered driver is not this library's";
                }
                break;
            case Op::Calibrate:
                if (const ChipInfo* chip = chipOf(setup_.driver)) {
                    calibrateInto(result, setup_.vcom, *chip, *setup_.calibrate,
                                  setup_.platform != nullptr ? setup_.platform->simulatedMeter()
                                                             : SimulatedMeter(),
                                  setup_.stop);
                    // No value was found: a failed calibration names none.
                    if (!result.ok) result.value.reset();
                } else {
                    result.ok = false;
                    result.error = "calibrate: the registered driver is not this library's";
                }
                break;
            case Op::Init:
            case Op::Chips:
                break;
        }
    });
}

// The read's own status tells a failed read from the value 0.
int Runner::readChip(unsigned short* value)
{
    if (setup_.driver == nullptr) return -ENODEV;
    return setup_.driver->readVcom(value);
}

// A chip whose save stores the setting it holds would otherwise store
// whatever an earlier update, or none, left there.
bool Runner::updateBeforeSave(const Command& command, CommandResult& result)
{
    const ChipInfo* chip = chipOf(setup_.driver);
    if (chip == nullptr || !chip->saveStoresCurrent) return true;
    if (hooks_.note) {
        hooks_.note(describe(command) + ": the " + chip->label +
                    " stores the setting it holds; updating to " + command.valueText + " first");
    }
    result.status = setup_.vcom.u1DrvUpdataVcom(command.value);
    result.ok = result.status == 0;
    if (!result.ok) {
        result.error =
            reason(describe(command) + ": the update before it", result.status, setup_.tap.peek());
    }
    return result.ok;
}

// A chip that keeps its value in the environment reports only the store's
// status; the file it could not write says more.
void Runner::explainStoreFailure(const Command& command, CommandResult& result)
{
    const ChipInfo* chip = chipOf(setup_.driver);
    if (chip == nullptr || chip->readShowsStored) return;
    const std::string why = envStoreProblem();
    if (!why.empty()) result.error = describe(command) + " failed: " + why;
}

// Some chips report success for a save whose unlock or program step failed;
// what the chip (or the store) holds afterwards is the only proof.
void Runner::readBack(const Command& command, CommandResult& result)
{
    const ChipInfo* chip = chipOf(setup_.driver);
    std::string error;
    if (chip != nullptr && !chip->readShowsStored) {
        result.readBack = storedVcomValue(&error);
    } else {
        setup_.log.startCall();
        unsigned short value = 0;
        if (readChip(&value) != 0) {
            error = reason("the read back", std::nullopt, setup_.tap.peek());
        } else {
            result.readBack = value;
        }
    }
    const std::string head = "save " + command.valueText + ": written but ";
    result.ok = result.readBack == result.value;
    if (!result.readBack) {
        result.error = head + error;
    } else if (!result.ok) {
        result.error = head + "read back " + std::to_string(*result.readBack);
    }
}

}  // namespace vcomctl
