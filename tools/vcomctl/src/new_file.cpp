#include "new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <memory>

namespace vcomctl {
namespace {

constexpr mode_t kFileMode = 0666;  // before the umask, as for any new file

// Removed unless renamed.
struct Temporary {
    std::string path;
    int fd = -1;
    ~Temporary()
    {
        if (fd >= 0) close(fd);
        if (!path.empty()) unlink(path.c_str());
    }
};

bool commit(Temporary& temp, const std::string& path, const std::string& content,
            std::string* error)
{
    bool ok = temp.fd >= 0;
    for (std::size_t done = 0; ok && done < content.size();) {
        const ssize_t n = write(temp.fd, content.data() + done, content.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        if (n > 0) done += std::size_t(n);
    }
    ok = ok && fsync(temp.fd) == 0;
    if (temp.fd >= 0 && close(temp.fd) != 0) ok = false;
    temp.fd = -1;
    if (!ok || rename(temp.path.c_str(), path.c_str()) != 0) {
        *error = systemError(ok ? "cannot rename the new file to" : "cannot write", path);
        return false;
    }
    temp.path.clear();
    return true;
}

}  // namespace

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

FileCommit newFile(const std::string& path, std::string* error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        *error = "refusing to write through the symlink " + path + " (remove it or name a file)";
        return nullptr;
    }
    const std::filesystem::path target(path);
    const auto temp = std::make_shared<Temporary>();
    temp->path =
        (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()) /
        ("." + target.filename().string() + ".XXXXXX");
    temp->fd = mkostemp(temp->path.data(), O_CLOEXEC);
    if (temp->fd < 0) {
        temp->path.clear();
        *error = systemError("cannot create a file beside", path) + " (is the directory writable?)";
        return nullptr;
    }
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(temp->fd, kFileMode & ~mask) != 0) {
        *error = systemError("cannot set the mode of a new file beside", path);
        return nullptr;
    }
    return [temp, path](const std::string& content, std::string* why) {
        return commit(*temp, path, content, why);
    };
}

}  // namespace vcomctl
