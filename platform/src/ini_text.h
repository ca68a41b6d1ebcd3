#pragma once
// inih over a text held in memory. inih cuts a line at its buffer size and
// parses the rest as a line of its own, so a long comment could end in a live
// "key = value"; here such a line stops the parse and is reported instead.

#include <cstddef>

namespace ze {
namespace platform {

// Called for each "key = value" with the number of its line; returns non-zero
// to accept the entry, 0 to mark the line as the first error.
using IniEntryHandler = int (*)(void* user, unsigned int line, const char* section,
                                const char* name, const char* value);

struct IniOutcome {
    unsigned int firstErrorLine = 0;  // malformed or refused by the handler; 0: none
    unsigned int overlongLine = 0;    // the line that stopped the parse; 0: none
    bool outOfMemory = false;
    std::size_t lineLimit = 0;  // the longest line inih takes, without its line end

    bool clean() const { return firstErrorLine == 0 && overlongLine == 0 && !outOfMemory; }
};

IniOutcome parseIniText(const char* text, std::size_t length, IniEntryHandler handler, void* user);

}  // namespace platform
}  // namespace ze
