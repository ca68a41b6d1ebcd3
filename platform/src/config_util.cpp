#include <tvconfig/configutil.h>

#include <cstring>
#include <string>

#include <ini.h>

#include <ze/platform/paths.h>

#include "log.h"

namespace tvConfig {
namespace {

struct Lookup {
    std::string section;
    const char* key;
    std::string value;
    bool found = false;
};

int onEntry(void* user, const char* section, const char* name, const char* value)
{
    Lookup* lookup = static_cast<Lookup*>(user);
    // The first occurrence wins; later ones (including continuation lines,
    // which inih reports as repeats of the key) are ignored.
    if (!lookup->found && lookup->section == section && std::strcmp(lookup->key, name) == 0) {
        lookup->value = value;
        lookup->found = true;
    }
    return 1;
}

std::string sectionName(const char* section)
{
    const std::size_t length = std::strlen(section);
    if (length >= 2 && section[0] == '[' && section[length - 1] == ']') {
        return std::string(section + 1, length - 2);
    }
    return section;
}

}  // namespace

ConfigUtil* ConfigUtil::instance()
{
    static ConfigUtil* const util = new ConfigUtil;
    return util;
}

ConfigUtil::~ConfigUtil() = default;

int ConfigUtil::getIniValue(const char* path, const char* section, const char* key, char* value,
                            int size)
{
    if (path == nullptr || section == nullptr || key == nullptr || value == nullptr || size <= 0) {
        return 0;
    }
    const std::string file = ze::platform::resolvePath(path);
    Lookup lookup;
    lookup.section = sectionName(section);
    lookup.key = key;

    // inih skips a malformed line and goes on (it reports only the first such
    // line), and so do we: a key found anywhere in the file counts, so one bad
    // line does not hide the rest of the configuration. Lines longer than
    // inih's line limit (200 bytes) are cut by inih.
    const int result = ini_parse(file.c_str(), onEntry, &lookup);
    if (result == -1) return 0;  // no such file: simply not configured
    if (result > 0) {
        ZE_LOG_INFO("%s: line %d is malformed and was skipped", file.c_str(), result);
    } else if (result < 0) {
        ZE_LOG_ERROR("%s: cannot be parsed (%d)", file.c_str(), result);
        return 0;
    }
    if (!lookup.found) return 0;

    const std::size_t room = static_cast<std::size_t>(size) - 1;
    const std::size_t length = lookup.value.size() < room ? lookup.value.size() : room;
    std::memcpy(value, lookup.value.data(), length);
    value[length] = '\0';
    return 1;
}

}  // namespace tvConfig
