#pragma once

#include <ze/platform/export.h>

namespace tvConfig {

// Reads values from INI files. Fixed paths such as
// "/obdata/model/config/board.ini" resolve under $ZE_PLATFORM_ROOT (default "/").
//
// A file is parsed once and kept; each lookup checks it with one stat (inode,
// size, modification and change time to the nanosecond) and parses it again
// when it changed, so an edit counts from the next lookup on and an unchanged
// file costs no allocation. A missing file is simply not configured; one that
// cannot be read, or has a line longer than the parser takes (199 bytes), gives
// no value and one error message naming the file and the errno or line.
// Thread-safe.
class ZE_PLATFORM_EXPORT ConfigUtil {
public:
    static ConfigUtil* instance();

    // Looks up `key` in `section` (given with its brackets, "[VCOM]") of the
    // INI file at `path`. Returns non-zero when found, with the value text
    // copied into `value` (at most size - 1 bytes, zero-terminated), 0 otherwise.
    virtual int getIniValue(const char* path, const char* section, const char* key, char* value,
                            int size);

    virtual ~ConfigUtil();

protected:
    ConfigUtil() = default;
};

}  // namespace tvConfig
