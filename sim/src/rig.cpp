#include <ze/sim/rig.h>

#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>
#include <system_error>

#include <ze/platform/env_setup.h>

namespace ze {
namespace sim {
namespace {

constexpr const char* kRootVariable = "ZE_PLATFORM_ROOT";
constexpr const char* kRootPattern = "ze-sim-XXXXXX";

std::string failure(const std::string& what, int err, const char* hint)
{
    return what + ": " + std::strerror(err) + hint;
}

}  // namespace

struct Rig::Impl {
    std::string root;
    bool temporary = false;
    ze::platform::VcomBoardConfig config;
    std::shared_ptr<Board> board;
    Panel panel;
    bool active = false;
    std::optional<std::string> savedRoot;

    ~Impl()
    {
        if (active) {
            ze::platform::setSocBackend(nullptr);
            if (savedRoot) {
                setenv(kRootVariable, savedRoot->c_str(), 1);
            } else {
                unsetenv(kRootVariable);
            }
        }
        std::error_code ignored;
        if (temporary) std::filesystem::remove_all(root, ignored);
    }
};

Rig::Rig() : impl_(new Impl) {}

Rig::~Rig() = default;

std::unique_ptr<Rig> Rig::create(const RigSetup& setup, std::string* error)
{
    std::unique_ptr<Rig> rig(new Rig);
    Impl& r = *rig->impl_;
    r.config = setup.panel;
    if (setup.root.empty()) {
        std::error_code ec;
        std::string pattern = (std::filesystem::temp_directory_path(ec) / kRootPattern).string();
        if (mkdtemp(pattern.data()) == nullptr) {
            *error = failure("cannot create a temporary platform root " + pattern, errno,
                             " (set TMPDIR to a writable directory)");
            return nullptr;
        }
        r.root = pattern;
        r.temporary = true;
    } else if (!setup.writeRoot) {
        r.root = setup.root;
    } else {
        r.root = setup.root;
        std::error_code ec;
        std::filesystem::create_directories(r.root, ec);
        if (ec) {
            *error = failure("cannot create the platform root " + r.root, ec.value(), "");
            return nullptr;
        }
    }
    r.board = setup.board ? setup.board : makeDefaultBoard();
    try {
        r.panel = installPanel(*r.board, r.config);
    } catch (const std::invalid_argument& e) {
        *error = std::string("cannot put the panel on the simulated board: ") + e.what();
        return nullptr;
    }
    if (!setup.writeRoot && !r.temporary) return rig;
    if (const int status = ze::platform::writeVcomBoard(r.root, r.config)) {
        *error = failure(r.root + ze::platform::kBoardFile + ": cannot write the board file",
                         -status, "");
        return nullptr;
    }
    if (setup.envStore) {
        if (const int status = ze::platform::createEnvStore(r.root)) {
            *error = failure(r.root + ": cannot create the environment store", -status, "");
            return nullptr;
        }
    }
    return rig;
}

const std::string& Rig::root() const
{
    return impl_->root;
}

const ze::platform::VcomBoardConfig& Rig::config() const
{
    return impl_->config;
}

Board& Rig::board() const
{
    return *impl_->board;
}

const std::shared_ptr<Board>& Rig::sharedBoard() const
{
    return impl_->board;
}

Panel& Rig::panel()
{
    return impl_->panel;
}

void Rig::activate(std::shared_ptr<ze::platform::SocBackend> backend)
{
    if (!impl_->active) {
        const char* previous = std::getenv(kRootVariable);
        if (previous != nullptr) impl_->savedRoot = previous;
        impl_->active = true;
    }
    setenv(kRootVariable, impl_->root.c_str(), 1);
    ze::platform::setSocBackend(backend ? std::move(backend) : impl_->board);
}

}  // namespace sim
}  // namespace ze
