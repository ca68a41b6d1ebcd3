#include <ze/sim/panel.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include <ini.h>

#include <ze/ic/chip_catalogue.h>
#include <ze/sim/models/auo.h>
#include <ze/sim/models/boe.h>
#include <ze/sim/models/g1625.h>
#include <ze/sim/models/innolux.h>
#include <ze/sim/models/kd733.h>
#include <ze/sim/models/rt6966.h>
#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {
namespace {

namespace catalogue = ze::ic::catalogue;
using BridgePtr = std::shared_ptr<InnoluxBridge>;

template <class Model>
std::shared_ptr<I2cDevice> make(const BridgePtr&)
{
    return std::make_shared<Model>();
}

template <class Model>
std::shared_ptr<I2cDevice> makeBridged(const BridgePtr& bridge)
{
    return std::make_shared<Model>(bridge);
}

template <std::uint64_t kProgramUs>
std::shared_ptr<I2cDevice> makeAuoFamily(const BridgePtr&)
{
    return std::make_shared<AuoChip>(kProgramUs);
}

// How each chip type is built; names and TypeIdx come from the catalogue.
struct ChipEntry {
    ChipType type;
    std::shared_ptr<I2cDevice> (*make)(const BridgePtr& bridge);
    bool bridged;  // behind the Innolux pass-through bridge
    bool gated;    // behind the AUO access gate
};

const ChipEntry kChipEntries[] = {
    {ChipType::AUO, makeAuoFamily<AuoChip::kAuoProgramUs>, false, true},
    {ChipType::IN518, makeBridged<In518Chip>, true, false},
    {ChipType::BOE, make<BoeChip>, false, false},
    {ChipType::RT6966, make<Rt6966>, false, false},
    {ChipType::IN525, makeBridged<In525Chip>, true, false},
    {ChipType::KD733, make<Kd733Chip>, false, false},
    {ChipType::G1625, make<G1625>, false, false},
    {ChipType::KD532P, makeAuoFamily<AuoChip::kKd532pProgramUs>, false, false},
};

const ChipEntry* entryFor(ChipType chip)
{
    if (catalogue::byTypeIdx(static_cast<int>(chip)) == nullptr) return nullptr;
    for (const ChipEntry& entry : kChipEntries) {
        if (entry.type == chip) return &entry;
    }
    return nullptr;
}

int makeDirs(const std::string& path)
{
    for (std::string::size_type pos = 1; pos != std::string::npos;) {
        pos = path.find('/', pos + 1);
        const std::string part = path.substr(0, pos);
        if (mkdir(part.c_str(), 0755) != 0 && errno != EEXIST) return -errno;
    }
    return 0;
}

// The gate line rests at the level opposite to the access level.
void wireGate(Board& board, const PanelConfig& config, const std::shared_ptr<AuoChip>& chip)
{
    const unsigned int gate = config.gpioAddr;
    if (!board.gpioLevel(gate)) board.addGpio(gate, config.gpioStatus == 0 ? 1 : 0);
    chip->useGate(config.gpioStatus, *board.gpioLevel(gate));
    std::weak_ptr<AuoChip> weak = chip;
    board.onGpioChange([weak, gate](unsigned int gpio, unsigned int level) {
        if (gpio != gate) return;
        if (const std::shared_ptr<AuoChip> model = weak.lock()) model->setGateLevel(level);
    });
}

const VcomModel* modelOf(const Panel& panel)
{
    return dynamic_cast<const VcomModel*>(panel.chip.get());
}

constexpr const char* kChipKey = "chip";
constexpr const char* kEndKey = "end";
// A state is a few hundred bytes; anything far larger is no state file.
constexpr off_t kMaxStateBytes = 1 << 20;
constexpr std::size_t kQuotedKey = 24;
// Unique names for a new file: tries before giving up.
constexpr int kTemporaryAttempts = 64;

// The directory of a path, opened; fd is -errno when it cannot be.
struct Directory {
    explicit Directory(const std::string& file)
    {
        const std::string::size_type slash = file.rfind('/');
        const std::string path = slash == std::string::npos ? "." : file.substr(0, slash + 1);
        name = slash == std::string::npos ? file : file.substr(slash + 1);
        fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) fd = -errno;
    }
    ~Directory()
    {
        if (fd >= 0) close(fd);
    }
    Directory(const Directory&) = delete;
    Directory& operator=(const Directory&) = delete;
    int fd;
    std::string name;
};

int readFileAt(int dirFd, const std::string& name, std::string* text)
{
    const int fd = openat(dirFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) return -errno;
    struct stat info;
    int status = fstat(fd, &info) != 0 ? -errno : 0;
    if (status == 0 && (!S_ISREG(info.st_mode) || info.st_size > kMaxStateBytes)) status = -EINVAL;
    char chunk[4096];
    for (ssize_t got = 1; status == 0 && got > 0;) {
        got = read(fd, chunk, sizeof chunk);
        if (got < 0 && errno != EINTR) status = -errno;
        if (got > 0) text->append(chunk, static_cast<std::size_t>(got));
    }
    close(fd);
    return status;
}

int writeAll(int fd, const std::string& text)
{
    for (std::size_t done = 0; done < text.size();) {
        const ssize_t wrote = write(fd, text.data() + done, text.size() - done);
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote < 0) return -errno;
        done += static_cast<std::size_t>(wrote);
    }
    return fsync(fd) != 0 ? -errno : 0;
}

// A new file of a name no other writer uses, filled and synced, renamed over
// `name`: a reader sees the old file or the new one, whole.
int replaceFileAt(int dirFd, const std::string& name, const std::string& text)
{
    static std::atomic<unsigned> counter{0};
    std::random_device random;
    std::string temporary;
    int fd = -1;
    for (int attempt = 0; attempt < kTemporaryAttempts && fd < 0; ++attempt) {
        char suffix[48];
        std::snprintf(suffix, sizeof suffix, ".%ld.%u.%08x", static_cast<long>(getpid()), counter++,
                      static_cast<unsigned>(random()));
        temporary = name + suffix;
        fd = openat(dirFd, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                    0644);
        if (fd < 0 && errno != EEXIST) return -errno;
    }
    if (fd < 0) return -EEXIST;
    int status = writeAll(fd, text);
    if (close(fd) != 0 && status == 0) status = -errno;
    if (status == 0 && renameat(dirFd, temporary.c_str(), dirFd, name.c_str()) != 0)
        status = -errno;
    if (status != 0) {
        unlinkat(dirFd, temporary.c_str(), 0);
        return status;
    }
    return fsync(dirFd) != 0 ? -errno : 0;
}

}  // namespace

const char* chipName(ChipType chip)
{
    const catalogue::ChipInfo* info = catalogue::byTypeIdx(static_cast<int>(chip));
    if (info == nullptr) {
        throw std::invalid_argument("unknown chip type " + std::to_string(static_cast<int>(chip)));
    }
    return info->name;
}

bool chipFromName(const std::string& name, ChipType* chip)
{
    const catalogue::ChipInfo* info = catalogue::byName(name.c_str());
    if (info == nullptr || entryFor(static_cast<ChipType>(info->typeIdx)) == nullptr) return false;
    *chip = static_cast<ChipType>(info->typeIdx);
    return true;
}

Panel installPanel(Board& board, const PanelConfig& config)
{
    const ChipEntry* entry = entryFor(config.chip);
    if (entry == nullptr) {
        throw std::invalid_argument("no chip model for TypeIdx " +
                                    std::to_string(static_cast<int>(config.chip)));
    }
    bool haveBus = false;
    for (unsigned int bus : board.buses()) haveBus = haveBus || bus == config.bus;
    if (!haveBus) board.addBus(config.bus);

    Panel panel;
    panel.type = config.chip;
    BridgePtr bridge;
    if (entry->bridged) {
        bridge = std::make_shared<InnoluxBridge>();
        panel.bridge = bridge;
        board.attach(config.bus, kInnoluxBridgeAddr, bridge);
    }
    panel.chip = entry->make(bridge);
    try {
        board.attach(config.bus, config.vcomAddr, panel.chip);
    } catch (...) {
        if (bridge) board.detach(config.bus, kInnoluxBridgeAddr);
        throw;
    }
    if (entry->gated) wireGate(board, config, std::static_pointer_cast<AuoChip>(panel.chip));
    if (config.i2cSwitchType == kI2cSwitchTypeGpio) {
        if (!board.gpioLevel(kI2cSwitchGpio)) board.addGpio(kI2cSwitchGpio);
        board.putBehindSwitch(config.bus, config.vcomAddr, kI2cSwitchGpio);
        if (bridge) board.putBehindSwitch(config.bus, kInnoluxBridgeAddr, kI2cSwitchGpio);
    }
    return panel;
}

std::string vcomSection(const PanelConfig& config)
{
    char text[512];
    std::snprintf(text, sizeof text,
                  "[VCOM]\n"
                  "TypeIdx = %d\n"
                  "I2cBus = %u\n"
                  "VcomAddr = 0x%02X\n"
                  "GpioAddr = %u\n"
                  "GpioStatus = %u\n"
                  "LdmFlag = %u\n"
                  "I2cSwitchType = %u\n",
                  static_cast<int>(config.chip), config.bus, config.vcomAddr,
                  unsigned{config.gpioAddr}, config.gpioStatus, unsigned{config.ldmFlag},
                  unsigned{config.i2cSwitchType});
    return text;
}

int writeBoardIni(const std::string& root, const PanelConfig& config)
{
    const std::string dir = root + "/obdata/model/config";
    if (const int err = makeDirs(dir)) return err;
    const std::string path = dir + "/board.ini";
    std::FILE* file = std::fopen(path.c_str(), "w");
    if (file == nullptr) return -errno;
    const std::string text = vcomSection(config);
    const bool written = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    if (std::fclose(file) != 0 || !written) return -EIO;
    return 0;
}

std::optional<unsigned int> heldValue(const Panel& panel)
{
    const VcomModel* model = modelOf(panel);
    if (model == nullptr) return std::nullopt;
    return model->heldValue();
}

std::string panelStateText(const Panel& panel)
{
    const VcomModel* model = modelOf(panel);
    if (model == nullptr) return "";
    std::string text = std::string(kChipKey) + " = " + chipName(panel.type) + "\n";
    std::size_t lines = 1;
    for (const auto& item : model->state()) {
        text += item.first + " =";
        for (std::uint8_t byte : item.second) {
            char hex[4];
            std::snprintf(hex, sizeof hex, " %02X", byte);
            text += hex;
        }
        text += "\n";
        ++lines;
    }
    return text + kEndKey + " = " + std::to_string(lines) + "\n";
}

std::string restorePanelState(Panel& panel, const std::string& text)
{
    auto* model = dynamic_cast<VcomModel*>(panel.chip.get());
    if (model == nullptr) return "the panel has no chip model";
    ModelState state;
    std::string chip;
    std::istringstream in(text);
    std::size_t number = 0;
    bool ended = false;
    for (std::string line; std::getline(in, line);) {
        const std::string at = "line " + std::to_string(++number) + ": ";
        std::istringstream fields(line);
        std::string key, equals;
        if (ended) return at + "text after the end line";
        if (!(fields >> key)) continue;
        if (!(fields >> equals) || equals != "=") return at + "expected 'KEY = VALUE'";
        if (key == kChipKey) {
            fields >> chip;
            continue;
        }
        if (key == kEndKey) {
            std::size_t count = 0;
            if (!(fields >> count) || count != number - 1)
                return at + "the end line does not count the " + std::to_string(number - 1) +
                       " lines before it (a damaged file)";
            ended = true;
            continue;
        }
        std::vector<std::uint8_t>& bytes = state[key];
        for (std::string hex; fields >> hex;) {
            char* end = nullptr;
            const unsigned long byte = std::strtoul(hex.c_str(), &end, 16);
            if (*end != '\0' || hex.size() > 2)
                return at + key.substr(0, kQuotedKey) + ": expected hex bytes, got '" +
                       hex.substr(0, kQuotedKey) + "'";
            bytes.push_back(static_cast<std::uint8_t>(byte));
        }
    }
    if (!ended) return "cut short: no \"end = N\" line after line " + std::to_string(number);
    if (chip != chipName(panel.type))
        return "the state of a '" + chip.substr(0, kQuotedKey) + "' panel, not of a " +
               chipName(panel.type);
    if (!model->restore(state))
        return std::string("a register or NVM line of the ") + chipName(panel.type) +
               " is missing or has the wrong length";
    return "";
}

int savePanelState(const Panel& panel, int dirFd, const std::string& name)
{
    if (modelOf(panel) == nullptr) return -EINVAL;
    return replaceFileAt(dirFd, name, panelStateText(panel));
}

int loadPanelState(Panel& panel, int dirFd, const std::string& name, std::string* why)
{
    std::string text;
    if (const int status = readFileAt(dirFd, name, &text)) return status;
    *why = restorePanelState(panel, text);
    return why->empty() ? 0 : -EINVAL;
}

int savePanelState(const Panel& panel, const std::string& file)
{
    const Directory dir(file);
    return dir.fd < 0 ? dir.fd : savePanelState(panel, dir.fd, dir.name);
}

int loadPanelState(Panel& panel, const std::string& file)
{
    const Directory dir(file);
    std::string why;
    return dir.fd < 0 ? dir.fd : loadPanelState(panel, dir.fd, dir.name, &why);
}

}  // namespace sim
}  // namespace ze

namespace {

constexpr const char* kBoardFile = "/obdata/model/config/board.ini";

struct VcomKeys {
    ze::sim::PanelConfig config;
    bool haveType = false;
};

// Values as the driver reads them: strtoul with base 0.
int takeVcomKey(void* user, const char* section, const char* key, const char* value)
{
    auto* keys = static_cast<VcomKeys*>(user);
    if (std::strcmp(section, "VCOM") != 0) return 1;
    const unsigned long number = std::strtoul(value, nullptr, 0);
    ze::sim::PanelConfig& c = keys->config;
    if (std::strcmp(key, "TypeIdx") == 0) {
        c.chip = static_cast<ze::sim::ChipType>(number);
        keys->haveType = true;
    } else if (std::strcmp(key, "I2cBus") == 0) {
        c.bus = static_cast<unsigned int>(number);
    } else if (std::strcmp(key, "VcomAddr") == 0) {
        c.vcomAddr = static_cast<std::uint8_t>(number);
    } else if (std::strcmp(key, "GpioAddr") == 0) {
        c.gpioAddr = static_cast<std::uint8_t>(number);
    } else if (std::strcmp(key, "GpioStatus") == 0) {
        c.gpioStatus = static_cast<std::uint32_t>(number);
    } else if (std::strcmp(key, "LdmFlag") == 0) {
        c.ldmFlag = static_cast<std::uint8_t>(number);
    } else if (std::strcmp(key, "I2cSwitchType") == 0) {
        c.i2cSwitchType = static_cast<std::uint8_t>(number);
    }
    return 1;
}

ze::platform::SocBackend* fail(int err, const std::string& message)
{
    std::fprintf(stderr, "ze_sim: %s\n", message.c_str());
    errno = err;
    return nullptr;
}

}  // namespace

ze::platform::SocBackend* ze_sim_create_backend(const char* root)
{
    if (root == nullptr) return fail(EINVAL, "no platform root given");
    const std::string path = std::string(root) + kBoardFile;
    VcomKeys keys;
    errno = 0;
    const int parsed = ini_parse(path.c_str(), takeVcomKey, &keys);
    if (parsed < 0) {
        const int err = errno != 0 ? errno : EIO;
        return fail(err, "cannot read " + path + ": " + std::strerror(err));
    }
    if (parsed > 0) {
        return fail(EINVAL, path + ":" + std::to_string(parsed) + ": not an INI line");
    }
    if (!keys.haveType) return fail(EINVAL, path + ": no TypeIdx in the [VCOM] section");
    std::unique_ptr<ze::sim::Board> board(new ze::sim::Board);
    ze::sim::wireAsDefaultBoard(*board);
    try {
        ze::sim::installPanel(*board, keys.config);
    } catch (const std::exception& e) {
        return fail(EINVAL, path + ": " + e.what());
    }
    return board.release();
}
