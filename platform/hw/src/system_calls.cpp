#include <ze/platform/linux_backend.h>

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace ze {
namespace platform {
namespace {

class RealSystemCalls final : public SystemCalls {
public:
    int open(const char* path, int flags) override { return result(::open(path, flags)); }
    int close(int fd) override { return result(::close(fd)); }
    int ioctl(int fd, unsigned long request, void* argument) override
    {
        return result(::ioctl(fd, request, argument));
    }

private:
    static int result(int r) { return r < 0 ? -errno : r; }
};

}  // namespace

SystemCalls::~SystemCalls() = default;

std::shared_ptr<SystemCalls> realSystemCalls()
{
    static const std::shared_ptr<SystemCalls> calls = std::make_shared<RealSystemCalls>();
    return calls;
}

}  // namespace platform
}  // namespace ze
