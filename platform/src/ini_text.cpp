#include "ini_text.h"

#include <ini.h>

namespace ze {
namespace platform {
namespace {

struct TextReader {
    TextReader(const char* t, std::size_t n, IniEntryHandler h, void* u)
        : text(t), length(n), handler(h), user(u)
    {
    }

    const char* const text;
    const std::size_t length;
    const IniEntryHandler handler;
    void* const user;
    std::size_t position = 0;
    unsigned int line = 0;
    IniOutcome outcome;
};

// Hands inih one whole line per call, or ends the parse at a line that does
// not fit its buffer.
char* readLine(char* out, int size, void* stream)
{
    TextReader& reader = *static_cast<TextReader*>(stream);
    if (reader.position >= reader.length || size < 2) return nullptr;
    ++reader.line;
    const std::size_t room = static_cast<std::size_t>(size) - 1;
    reader.outcome.lineLimit = room;
    std::size_t count = 0;
    while (reader.position < reader.length) {
        const char c = reader.text[reader.position++];
        if (c == '\n') break;
        if (count == room) {
            reader.outcome.overlongLine = reader.line;
            return nullptr;
        }
        out[count++] = c;
    }
    out[count] = '\0';
    return out;
}

int onEntry(void* user, const char* section, const char* name, const char* value)
{
    TextReader& reader = *static_cast<TextReader*>(user);
    return reader.handler(reader.user, reader.line, section, name, value);
}

}  // namespace

IniOutcome parseIniText(const char* text, std::size_t length, IniEntryHandler handler, void* user)
{
    TextReader reader(text, length, handler, user);
    const int status = ini_parse_stream(readLine, &reader, onEntry, &reader);
    if (status < 0) reader.outcome.outOfMemory = true;
    if (status > 0) reader.outcome.firstErrorLine = static_cast<unsigned int>(status);
    return reader.outcome;
}

}  // namespace platform
}  // namespace ze
