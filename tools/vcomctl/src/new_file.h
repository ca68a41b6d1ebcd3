#pragma once
// A file replaced whole or not at all: made as a temporary beside its target
// when the run starts, so that a directory that takes no new file is found
// before anything irreversible, and renamed over the target once its content
// is known. A symlink at the target is refused, never written through.

#include <memory>
#include <string>

namespace vcomctl {

class NewFile {
public:
    // nullptr with *error naming the file, the system error and a hint.
    static std::unique_ptr<NewFile> create(const std::string& path, std::string* error);
    // Removes the temporary unless it was committed.
    ~NewFile();
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;

    // Writes `content`, syncs it and renames it over the target. Once only.
    bool commit(const std::string& content, std::string* error);

private:
    NewFile(std::string path, std::string temp, int fd);

    std::string path_;
    std::string temp_;
    int fd_;
};

}  // namespace vcomctl
