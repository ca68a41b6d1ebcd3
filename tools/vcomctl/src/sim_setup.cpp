#include "sim_setup.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>

#include <ze/platform/env_setup.h>
#include <ze/sim/models/innolux.h>


namespace vcomctl {
namespace {

namespace catalogue = ze::ic::catalogue;

constexpr const char* kMarkerKey = "chip ";

std::string errnoText(int status)
{
    return std::strerror(status < 0 ? -status : status);
}

ze::sim::PanelConfig panelOf(const DriverFields& f)
{
    ze::sim::PanelConfig panel;
    panel.chip = static_cast<ze::sim::ChipType>(f.typeIdx);
    panel.bus = f.i2cBus;
    panel.vcomAddr = static_cast<std::uint8_t>(f.vcomAddr);
    panel.gpioAddr = static_cast<std::uint8_t>(f.gpioAddr);
    panel.gpioStatus = f.gpioStatus;
    panel.ldmFlag = static_cast<std::uint8_t>(f.ldmFlag);
    panel.i2cSwitchType = static_cast<std::uint8_t>(f.i2cSwitchType);
    return panel;
}

DriverFields fieldsOfPanel(const ze::sim::PanelConfig& p)
{
    return DriverFields{
        static_cast<int>(p.chip), p.bus, p.vcomAddr, p.gpioAddr, p.gpioStatus, p.ldmFlag,
        p.i2cSwitchType};
}

// The chip a state directory was made for; nullptr when it is none of ours.
const ChipInfo* markedChip(const std::string& dir)
{
    std::ifstream in(dir + "/" + SimulatedPanel::kMarkerFile);
    std::string line;
    if (!std::getline(in, line) || line.rfind(kMarkerKey, 0) != 0) return nullptr;
    return catalogue::byName(line.substr(std::strlen(kMarkerKey)).c_str());
}

// Every status read of an Innolux chip answers `status`: more answers than
// any run reads.
bool forceInnoluxStatus(const ze::sim::Panel& panel, std::uint8_t status)
{
    constexpr std::size_t kAnswers = 4096;
    auto* chip = dynamic_cast<ze::sim::InnoluxChip*>(panel.chip.get());
    if (chip == nullptr) return false;
    chip->scriptStatus(std::vector<std::uint8_t>(kAnswers, status));
    return true;
}

}  // namespace

std::unique_ptr<SimulatedPanel> SimulatedPanel::plan(const Options& options,
                                                     const DriverFields* board, Failure* failure)
{
    std::unique_ptr<SimulatedPanel> sim(new SimulatedPanel);
    sim->faults_ = options.simFaults;
    failure->exitCode = kExitUsage;
    const ChipInfo* chip =
        options.simChip.empty() ? nullptr : catalogue::byName(options.simChip.c_str());
    if (!options.simState.empty()) {
        std::error_code failed;
        sim->stateDir_ = std::filesystem::absolute(options.simState, failed).lexically_normal();
        struct stat info;
        sim->stateExists_ = stat(sim->stateDir_.c_str(), &info) == 0;
        if (sim->stateExists_) {
            const ChipInfo* marked = markedChip(sim->stateDir_);
            if (marked == nullptr) {
                failure->error = sim->stateDir_ + ": not a state directory vcomctl created (no " +
                                 kMarkerFile + "); name a directory that does not exist yet";
                return nullptr;
            }
            if (chip != nullptr && chip != marked) {
                failure->error = sim->stateDir_ + " holds a simulated " + marked->name +
                                 " panel, not " + chip->name;
                return nullptr;
            }
            if (options.overrides.any()) {
                failure->error = sim->stateDir_ +
                                 " keeps its wiring; --bus, --addr and --chip "
                                 "apply only when it is created";
                return nullptr;
            }
            chip = marked;
        } else if (chip == nullptr) {
            failure->error = sim->stateDir_ + " does not exist yet: name its chip with --sim CHIP";
            return nullptr;
        }
    }
    if (board != nullptr) {
        sim->config_ = panelOf(*board);
    } else {
        sim->config_.chip = static_cast<ze::sim::ChipType>(chip->typeIdx);
        sim->config_ = panelOf(withOverrides(fieldsOfPanel(sim->config_), options.overrides));
    }
    sim->fields_ = fieldsOfPanel(sim->config_);
    return sim;
}

const std::string& SimulatedPanel::root() const
{
    return private_ ? private_->path() : stateDir_;
}

bool SimulatedPanel::createStateDir(Failure* failure)
{
    if (mkdir(stateDir_.c_str(), 0777) != 0) {
        failure->error = "cannot create " + stateDir_ + ": " + std::strerror(errno);
        return false;
    }
    std::ofstream marker(stateDir_ + "/" + kMarkerFile);
    marker << kMarkerKey << ze::sim::chipName(config_.chip) << "\n";
    if (!marker.flush()) {
        failure->error = "cannot write " + stateDir_ + "/" + kMarkerFile;
        return false;
    }
    return true;
}

bool SimulatedPanel::install(Failure* failure)
{
    failure->exitCode = kExitFailed;
    if (stateDir_.empty()) {
        private_ = PrivateDir::create(&failure->error);
        if (!private_) return false;
    } else if (!stateExists_ && !createStateDir(failure)) {
        return false;
    }
    board_ = ze::sim::makeDefaultBoard();
    board_->setTraceEnabled(false);
    try {
        panel_ = ze::sim::installPanel(*board_, config_);
    } catch (const std::exception& e) {
        failure->error = std::string("the simulated board cannot model this panel: ") + e.what();
        return false;
    }
    if (!stateExists_) {
        if (const int status = ze::sim::writeBoardIni(root(), config_)) {
            failure->error =
                "cannot write the board file under " + root() + ": " + errnoText(status);
            return false;
        }
        if (const int status = ze::platform::createEnvStore(root())) {
            failure->error =
                "cannot create the environment store under " + root() + ": " + errnoText(status);
            return false;
        }
    } else if (const int status = ze::sim::loadPanelState(panel_, stateFile())) {
        // No file yet: the run that created the directory never reached the chip.
        if (status != -ENOENT) {
            failure->error = stateFile() + ": " + errnoText(status);
            return false;
        }
    }
    return injectFaults(failure);
}

bool SimulatedPanel::injectFaults(Failure* failure)
{
    using ze::sim::Call;
    for (const std::string& text : faults_) {
        Fault fault;
        parseFault(text, &fault);  // checked with the command line
        switch (fault.kind) {
            case Fault::Kind::Absent:
                board_->failMatching(config_.vcomAddr, std::nullopt, ze::sim::kAddressNack);
                break;
            case Fault::Kind::Status:
                if (!forceInnoluxStatus(panel_, static_cast<std::uint8_t>(fault.number))) {
                    failure->exitCode = kExitUsage;
                    failure->error =
                        "fault '" + text + "': only the IN525 and IN518 report a status";
                    return false;
                }
                break;
            case Fault::Kind::Write:
                board_->failNth(Call::I2CWrite, fault.number, -EIO);
                break;
            case Fault::Kind::Read:
                board_->failNth(Call::I2CRead, fault.number, -EIO);
                break;
            case Fault::Kind::Gpio:
                board_->failNth(Call::GpioSetValue, fault.number, -EIO);
                break;
            case Fault::Kind::Open:
                board_->failNth(Call::I2COpen, fault.number, -EIO);
                break;
        }
    }
    return true;
}

bool SimulatedPanel::keepState(std::string* error) const
{
    if (!keepsState()) return true;
    const int status = ze::sim::savePanelState(panel_, stateFile());
    if (status != 0)
        *error = "cannot keep the simulated panel in " + stateFile() + ": " + errnoText(status);
    return status == 0;
}

std::optional<unsigned int> SimulatedPanel::heldValue() const
{
    return ze::sim::heldValue(panel_);
}

void SimulatedPanel::removePrivateRoot()
{
    if (private_) private_->remove();
}

}  // namespace vcomctl
