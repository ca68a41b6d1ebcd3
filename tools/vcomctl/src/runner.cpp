#include "runner.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include <boost/shared_ptr.hpp>

#include <flashenv.h>
#include <ze/hal/halcore.h>
#include <ze/platform/paths.h>

#include "icinit.h"
#include "vcomic/VCOMICdriver.h"

namespace vcomctl {
namespace {

constexpr const char* kEnvConfig = "/etc/fw_env.config";

// The first call that failed: what followed (retries, a closed gate) is its
// consequence.
const TraceEntry* firstFailure(const std::vector<TraceEntry>& entries)
{
    for (const TraceEntry& entry : entries) {
        if (entry.status != 0) return &entry;
    }
    return nullptr;
}

// The RT6966's stored copy: "vcom_value" in the environment store. nullopt,
// with *error set, when it cannot be read or holds no number.
std::optional<unsigned int> storedVcomValue(std::string* error)
{
    const std::string store = "the environment store " + ze::platform::resolvePath(kEnvConfig);
    std::string text;
    const int status = FlashEnv::instance()->getEnv("vcom_value", &text);
    if (status != 0) {
        *error = store + " cannot be read back (" +
                 (status == -ENOENT ? std::string("no vcom_value")
                                    : "status " + std::to_string(status)) +
                 ")";
        return std::nullopt;
    }
    char* end = nullptr;
    const unsigned long value = std::strtoul(text.c_str(), &end, 10);
    if (!text.empty() && *end == '\0') return static_cast<unsigned int>(value);
    *error = store + " holds no vcom_value number";
    return std::nullopt;
}

// Why the environment file cannot be written, or "".
std::string envStoreProblem()
{
    const std::string config = ze::platform::resolvePath(kEnvConfig);
    std::ifstream in(config);
    std::string file;
    for (std::string line; file.empty() && std::getline(in, line);) {
        std::istringstream fields(line);
        if (fields >> file && file[0] == '#') file.clear();
    }
    if (file.empty()) return config + " names no environment file";
    // Relative paths are taken under the platform root, as FlashEnv takes them.
    if (file[0] != '/') file = ze::platform::resolvePath("/" + file);
    const int fd = open(file.c_str(), O_WRONLY | O_CLOEXEC);
    if (fd < 0) return "cannot write the environment store " + file + ": " + std::strerror(errno);
    close(fd);
    return "";
}

// The driver registered under kDriverId while this lives.
class HalRunner final : public Runner {
public:
    static constexpr int kDriverId = 0;

    static std::unique_ptr<Runner> open(const RunnerSetup& setup, std::string* error)
    {
        std::unique_ptr<HalRunner> runner(new HalRunner(setup));
        boost::shared_ptr<ze::hal::Registry> registry = getZeHalCore()->getRegistry();
        runner->wrapper_ = std::make_unique<ze::ic::Vcom>(
            registry, kDriverId, static_cast<int>(setup.platform.board().i2cBus),
            ze::ic::VCOM_CHIPS_I2C);
        if (runner->wrapper_->initHardware() != 0) {
            *error = "the VCOM wrapper did not create its driver (initHardware failed)";
            return nullptr;
        }
        if (runner->wrapper_->registerDriver() != 0) {
            *error = "the VCOM driver could not be registered with the HAL registry";
            return nullptr;
        }
        runner->registered_ = true;
        runner->vcom_ = boost::dynamic_pointer_cast<ze::hal::Vcom>(
            registry->getDriver(kDriverId, ze::hal::DRIVER_CLASS_VCOM));
        if (!runner->vcom_) {
            *error = "the HAL registry returned no VCOM driver under number " +
                     std::to_string(kDriverId);
            return nullptr;
        }
        runner->driver_ = dynamic_cast<ze::ic::VCOMICDriver*>(runner->vcom_.get());
        ze::platform::SocBackend& backend = setup.platform.backend();
        backend.clearTrace();
        backend.setTraceEnabled(true);
        return runner;
    }
    ~HalRunner() override
    {
        setup_.platform.backend().setTraceEnabled(false);
        setup_.platform.backend().clearTrace();
        vcom_.reset();
        if (registered_) wrapper_->unregisterDriver();
    }
    CommandResult init() override
    {
        return call("init", Op::Init, [this](CommandResult& result) {
            result.status = vcom_->init();
            result.ok = result.status == 0;
            chip_ = driver_ != nullptr ? ze::ic::catalogue::byTypeIdx(driver_->typeIdx) : nullptr;
        });
    }
    CommandResult run(const Command& command) override
    {
        return call(describe(command), command.op, [&](CommandResult& result) {
            const std::string other = ": the registered driver is not this library's";
            switch (command.op) {
                case Op::Read: {
                    unsigned short value = 0;
                    result.ok = readChip(&value) == 0;
                    result.value = value;
                    break;
                }
                case Op::Update:
                    result.value = command.value;
                    result.status = vcom_->u1DrvUpdataVcom(command.value);
                    result.ok = result.status == 0;
                    break;
                case Op::Save:
                    save(command, result);
                    break;
                case Op::Pattern:
                    // Always 1; a refused refresh-rate switch is told only in the log.
                    vcom_->Get_Vcom_bmp("vcomctl", command.on ? 1 : 0);
                    result.ok = setup_.log.callMessages().empty();
                    break;
                case Op::Config:
                    result.ok = driver_ != nullptr;
                    if (result.ok) {
                        const ze::ic::VCOMICDriver& d = *driver_;
                        result.fields =
                            BoardConfig{d.typeIdx,    d.i2cBus,  d.vcomAddr,     d.gpioAddr,
                                        d.gpioStatus, d.ldmFlag, d.i2cSwitchType};
                    } else {
                        result.error = "config" + other;
                    }
                    break;
                case Op::Calibrate:
                    if (chip_ != nullptr) {
                        calibrateInto(result, *vcom_, *chip_, setup_.options.calibrate,
                                      setup_.platform.simulatedMeter(), setup_.stop);
                        // No value was found: a failed calibration names none.
                        if (!result.ok) result.value.reset();
                    } else {
                        result.ok = false;
                        result.error = "calibrate" + other;
                    }
                    break;
                case Op::Init:
                case Op::Chips:
                    break;
            }
        });
    }

private:
    explicit HalRunner(const RunnerSetup& setup) : setup_(setup) {}
    std::vector<TraceEntry> traceSinceTaken() const
    {
        return setup_.platform.backend().traceSince(nextTrace_);
    }
    std::string reason(const std::string& what, std::optional<int> driverStatus) const
    {
        std::string text = what + " failed";
        if (driverStatus) text += " (status " + std::to_string(*driverStatus) + ")";
        const std::vector<TraceEntry> entries = traceSinceTaken();
        const TraceEntry* failed = firstFailure(entries);
        const std::vector<DriverMessage> messages = setup_.log.callMessages();
        if (failed != nullptr) {
            text += ": " + describeCall(*failed) + ": ";
            text += failed->status < 0 ? std::strerror(-failed->status) : "failed";
            text += " (" + std::to_string(failed->status) + ")";
            const std::string gap = setup_.platform.configurationGap(failed->bus);
            if (!gap.empty() && failed->call != ze::platform::Call::GpioSetValue)
                text += "; " + gap;
        } else if (!messages.empty()) {
            // Every transfer went through: the chip itself refused (an Innolux status).
            text += ": " + messageBody(messages.back().text);
        }
        return text;
    }
    template <typename Call>
    CommandResult call(const std::string& name, Op op, Call&& body)
    {
        CommandResult result;
        result.name = name;
        result.op = op;
        setup_.log.startCall();
        if (!setup_.platform.beginCommand(&result.error)) {
            result.ok = false;
            return result;
        }
        setup_.console.beginActivity(name);
        body(result);
        setup_.console.endActivity();
        if (!result.ok && result.error.empty()) result.error = reason(name, result.status);
        std::vector<TraceEntry> entries = traceSinceTaken();
        if (!entries.empty()) nextTrace_ = entries.back().sequence + 1;
        std::string kept;
        if (!setup_.platform.keepState(&kept) && result.ok) {
            result.ok = false;
            result.error = kept;
        }
        if (setup_.options.trace != TraceMode::Off) result.trace = std::move(entries);
        return result;
    }
    // The read's own status tells a failed read from the value 0.
    int readChip(unsigned short* value)
    {
        return driver_ != nullptr ? driver_->readVcom(value) : -ENODEV;
    }
    void save(const Command& command, CommandResult& result)
    {
        result.value = command.value;
        // A chip whose save stores the setting it holds would otherwise store
        // whatever an earlier update, or none, left there.
        if (chip_ != nullptr && chip_->saveStoresCurrent) {
            if (setup_.options.verbose) {
                setup_.console.line("vcomctl: " + describe(command) + ": the " + chip_->label +
                                    " stores the setting it holds; updating to " +
                                    command.valueText + " first");
            }
            result.status = vcom_->u1DrvUpdataVcom(command.value);
            result.ok = result.status == 0;
            if (!result.ok) {
                result.error = reason(describe(command) + ": the update before it", result.status);
                return;
            }
        }
        result.status = vcom_->u1DrvSaveVcom(command.value);
        result.ok = result.status == 0;
        // A chip that keeps its value in the environment reports only the
        // store's status; the file it could not write says more.
        const std::string why =
            result.ok || chip_ == nullptr || chip_->readShowsStored ? "" : envStoreProblem();
        if (!why.empty()) result.error = describe(command) + " failed: " + why;
        if (result.ok && setup_.options.verify) readBack(command, result);
    }
    // Some chips report success for a save whose unlock or program step failed;
    // what the chip (or the store) holds afterwards is the only proof.
    void readBack(const Command& command, CommandResult& result)
    {
        std::string error;
        if (chip_ != nullptr && !chip_->readShowsStored) {
            result.readBack = storedVcomValue(&error);
        } else {
            setup_.log.startCall();
            unsigned short value = 0;
            if (readChip(&value) != 0) {
                error = reason("the read back", std::nullopt);
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

    RunnerSetup setup_;
    std::unique_ptr<ze::ic::Vcom> wrapper_;
    boost::shared_ptr<ze::hal::Vcom> vcom_;
    ze::ic::VCOMICDriver* driver_ = nullptr;  // null: another library's driver
    const ChipInfo* chip_ = nullptr;
    bool registered_ = false;
    // The backend's trace is bounded and drops its oldest entries, so new
    // ones are told by their sequence number, not by their place in it.
    std::uint64_t nextTrace_ = 0;
};

}  // namespace

std::unique_ptr<Runner> openRunner(const RunnerSetup& setup, std::string* error)
{
    return HalRunner::open(setup, error);
}

}  // namespace vcomctl
