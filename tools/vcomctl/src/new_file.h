#pragma once
// A file replaced whole or not at all: made as a temporary beside its target
// when the run starts, so that a directory that takes no new file is found
// before anything irreversible, and renamed over the target once its content
// is known. A symlink at the target is refused, never written through.

#include <functional>
#include <string>

namespace vcomctl {

// Writes the content, syncs it and renames it over the target, once; false
// with *error naming the file and the system error. Until then the
// temporary goes with the last copy of this function.
using FileCommit = std::function<bool(const std::string& content, std::string* error)>;

// "WHAT PATH: " and errno's text.
std::string systemError(const std::string& what, const std::string& path);

// Empty, with *error naming the file, the system error and a hint, when the
// temporary cannot be made.
FileCommit newFile(const std::string& path, std::string* error);

}  // namespace vcomctl
