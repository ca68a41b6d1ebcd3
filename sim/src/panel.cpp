#include <ze/sim/panel.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <sstream>
#include <stdexcept>
#include <string>

#include <ze/ic/chip_catalogue.h>
#include <ze/platform/paths.h>
#include <ze/sim/vcom_model.h>

namespace ze {
namespace sim {
namespace {

namespace catalogue = ze::ic::catalogue;

// A deque: the models stay where they are while more are added.
std::deque<ChipModel>& registry()
{
    static std::deque<ChipModel> models;
    return models;
}

const char* chipName(const Panel& panel)
{
    const catalogue::ChipInfo* info = catalogue::byTypeIdx(panel.typeIdx);
    return info != nullptr ? info->name : "?";
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

const ChipModel* chipModel(int typeIdx)
{
    const catalogue::ChipInfo* info = catalogue::byTypeIdx(typeIdx);
    if (info == nullptr) return nullptr;
    for (const ChipModel& model : registry()) {
        if (std::strcmp(model.name, info->name) == 0) return &model;
    }
    return nullptr;
}

bool readable(const ChipModel& model, unsigned int value)
{
    constexpr unsigned int kValueMask = 0xFFFF;
    return value <= kValueMask && ((value + model.valueOffset) & kValueMask) <= model.codeMax;
}

ChipModelRegistration::ChipModelRegistration(const ChipModel& model)
{
    registry().push_back(model);
}

Panel installPanel(Board& board, const VcomBoardConfig& config)
{
    const ChipModel* model = chipModel(config.typeIdx);
    if (model == nullptr) {
        throw std::invalid_argument("no chip model for TypeIdx " + std::to_string(config.typeIdx));
    }
    bool haveBus = false;
    for (unsigned int bus : board.buses()) haveBus = haveBus || bus == config.i2cBus;
    if (!haveBus) board.addBus(config.i2cBus);

    Panel panel;
    panel.typeIdx = config.typeIdx;
    model->install(board, config, panel);
    if (config.i2cSwitchType == kI2cSwitchTypeGpio) {
        if (!board.gpioLevel(kI2cSwitchGpio)) board.addGpio(kI2cSwitchGpio);
        board.putBehindSwitch(config.i2cBus, config.vcomAddr, kI2cSwitchGpio);
        if (panel.bridge) board.putBehindSwitch(config.i2cBus, kInnoluxBridgeAddr, kI2cSwitchGpio);
    }
    return panel;
}

std::optional<unsigned int> heldValue(const Panel& panel)
{
    if (!panel.model) return std::nullopt;
    return panel.model->heldValue();
}

std::string panelStateText(const Panel& panel)
{
    const VcomModel* model = panel.model.get();
    if (model == nullptr) return "";
    std::string text = std::string(kChipKey) + " = " + chipName(panel) + "\n";
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
    VcomModel* model = panel.model.get();
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
    if (chip != chipName(panel))
        return "the state of a '" + chip.substr(0, kQuotedKey) + "' panel, not of a " +
               chipName(panel);
    if (!model->restore(state))
        return std::string("a register or NVM line of the ") + chipName(panel) +
               " is missing or has the wrong length";
    return "";
}

int savePanelState(const Panel& panel, int dirFd, const std::string& name)
{
    if (!panel.model) return -EINVAL;
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

ze::platform::SocBackend* fail(int err, const std::string& message)
{
    std::fprintf(stderr, "ze_sim: %s\n", message.c_str());
    errno = err;
    return nullptr;
}

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";

// The board file is read as the driver reads it, under the platform root;
// a root other than the platform's is made the platform's for the read.
ze::platform::VcomBoardRead readBoardUnder(const std::string& root)
{
    const std::string current = ze::platform::platformRoot();
    if (root == current) return ze::platform::readVcomBoard();
    const char* const previous = std::getenv(kRootVariable);
    const std::string saved = previous != nullptr ? previous : "";
    setenv(kRootVariable, root.c_str(), 1);
    ze::platform::VcomBoardRead read = ze::platform::readVcomBoard();
    if (previous != nullptr) {
        setenv(kRootVariable, saved.c_str(), 1);
    } else {
        unsetenv(kRootVariable);
    }
    return read;
}

}  // namespace

ze::platform::SocBackend* ze_sim_create_backend(const char* root)
{
    if (root == nullptr) return fail(EINVAL, "no platform root given");
    const std::string path = std::string(root) + ze::platform::kBoardFile;
    const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int err = errno;
        return fail(err, "cannot read " + path + ": " + std::strerror(err));
    }
    close(fd);
    const ze::platform::VcomBoardRead read = readBoardUnder(root);
    if (!read.problem.empty()) return fail(EINVAL, read.problem);
    std::unique_ptr<ze::sim::Board> board(new ze::sim::Board);
    ze::sim::wireAsDefaultBoard(*board);
    try {
        ze::sim::installPanel(*board, read.config);
    } catch (const std::exception& e) {
        return fail(EINVAL, path + ": " + e.what());
    }
    return board.release();
}
