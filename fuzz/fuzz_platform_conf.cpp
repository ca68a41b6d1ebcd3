// zeplatform.conf: as text through the parser, and as the file through the
// backend choice that reads it.

#include <ze/platform/linux_backend.h>

#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    ze::fuzz::startInput();
    const std::string text(reinterpret_cast<const char*>(data), size);
    ze::platform::PlatformConfig config;
    std::string error;
    const bool parsed = ze::platform::parsePlatformConfig(text, &config, &error);
    FUZZ_EXPECT(parsed || (!error.empty() && error.find('\n') == std::string::npos));
    if (parsed) {
        FUZZ_EXPECT(config.backend.empty() || config.backend == "linux" || config.backend == "sim");
    }

    ze::fuzz::writeFile(ze::fuzz::platformRoot() + "/etc/zeplatform.conf", data, size);
    std::string fileError;
    const auto backend = ze::platform::makeConfiguredBackend(&fileError);
    FUZZ_EXPECT(!backend == !fileError.empty());
    FUZZ_EXPECT(fileError.find('\n') == std::string::npos);
    if (!parsed) {
        FUZZ_EXPECT(!backend && fileError.size() >= error.size() &&
                    fileError.compare(fileError.size() - error.size(), error.size(), error) == 0);
    } else if (config.backend == "linux") {
        FUZZ_EXPECT(backend && backend->buses() == config.hardware.buses);
    } else if (config.backend.empty()) {
        FUZZ_EXPECT(!backend);
    }
    return 0;
}
