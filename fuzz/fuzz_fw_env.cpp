// fw_env.config through FlashEnv, the store the RT6966 save writes to.

#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>

#include <flashenv.h>
#include <libuboot.h>
#include <ze/platform/env_setup.h>

#include "fuzz_support.h"

namespace {

constexpr const char* kName = "vcom_value";
constexpr const char* kValue = "42";
// Env files the input names are created here; a size or offset it gives
// cannot fill the disk.
constexpr rlim_t kLargestFile = 1 << 20;

std::string envDir()
{
    static const std::string dir = [] {
        const std::string path = ze::fuzz::platformRoot() + "/var";
        std::filesystem::create_directories(path);
        if (chdir(path.c_str()) != 0)
            ze::fuzz::violated("chdir to the env dir", __FILE__, __LINE__);
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{kLargestFile, kLargestFile};
        setrlimit(RLIMIT_FSIZE, &limit);
        return path;
    }();
    return dir;
}

std::string readBack(const std::string& config)
{
    uboot_ctx* ctx = nullptr;
    std::string value;
    if (libuboot_initialize(&ctx, nullptr) < 0) return value;
    if (libuboot_read_config(ctx, config.c_str()) == 0 && libuboot_open(ctx) == 0) {
        if (char* found = libuboot_get_env(ctx, kName)) {
            value = found;
            free(found);
        }
        libuboot_close(ctx);
    }
    libuboot_exit(ctx);
    return value;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    // Env files only by names relative to the env dir: the input must not
    // reach any other file of the machine.
    if (std::find(data, data + size, '/') != data + size) return -1;
    ze::fuzz::startInput();
    const std::string dir = envDir();
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir);
    if (ze::platform::createEnvStore(ze::fuzz::platformRoot()) != 0) return -1;
    const std::string config = ze::fuzz::platformRoot() + "/etc/fw_env.config";
    ze::fuzz::writeFile(config, data, size);

    const int status = FlashEnv::instance()->setEnv(kName, kValue);
    const auto errors = ze::fuzz::log().bodies(QOR_DEBUG_LEVEL_ERROR);
    if (status == 0) {
        FUZZ_EXPECT(errors.empty());
        FUZZ_EXPECT(readBack(config) == kValue);
    } else {
        FUZZ_EXPECT(errors.size() == 1);
        FUZZ_EXPECT(std::count(errors[0].begin(), errors[0].end(), '\n') <= 1);
    }
    return 0;
}
