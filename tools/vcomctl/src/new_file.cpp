#include "new_file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

namespace vcomctl {
namespace {

constexpr mode_t kFileMode = 0666;  // before the umask, as for any new file

std::string systemError(const std::string& what, const std::string& path)
{
    return what + " " + path + ": " + std::strerror(errno);
}

}  // namespace

std::unique_ptr<NewFile> NewFile::create(const std::string& path, std::string* error)
{
    struct stat st {};
    if (lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode)) {
        *error = "refusing to write through the symlink " + path + " (remove it or name a file)";
        return nullptr;
    }
    const std::filesystem::path target(path);
    std::string temp =
        (target.parent_path().empty() ? std::filesystem::path(".") : target.parent_path()) /
        ("." + target.filename().string() + ".XXXXXX");
    const int fd = mkostemp(temp.data(), O_CLOEXEC);
    if (fd < 0) {
        *error = systemError("cannot create a file beside", path) + " (is the directory writable?)";
        return nullptr;
    }
    const mode_t mask = umask(0);
    umask(mask);
    if (fchmod(fd, kFileMode & ~mask) != 0) {
        *error = systemError("cannot set the mode of a new file beside", path);
        close(fd);
        unlink(temp.c_str());
        return nullptr;
    }
    return std::unique_ptr<NewFile>(new NewFile(path, std::move(temp), fd));
}

NewFile::NewFile(std::string path, std::string temp, int fd)
    : path_(std::move(path)), temp_(std::move(temp)), fd_(fd)
{
}

NewFile::~NewFile()
{
    if (fd_ >= 0) close(fd_);
    if (!temp_.empty()) unlink(temp_.c_str());
}

bool NewFile::commit(const std::string& content, std::string* error)
{
    bool ok = fd_ >= 0;
    for (std::size_t done = 0; ok && done < content.size();) {
        const ssize_t n = write(fd_, content.data() + done, content.size() - done);
        ok = n > 0 || (n < 0 && errno == EINTR);
        if (n > 0) done += std::size_t(n);
    }
    ok = ok && fsync(fd_) == 0;
    if (fd_ >= 0 && close(fd_) != 0) ok = false;
    fd_ = -1;
    if (!ok || rename(temp_.c_str(), path_.c_str()) != 0) {
        *error = systemError(ok ? "cannot rename the new file to" : "cannot write", path_);
        return false;
    }
    temp_.clear();
    return true;
}

}  // namespace vcomctl
