#pragma once

#include <string>

#include <ze/platform/export.h>

// The platform's persistent environment (the U-Boot environment on a board).
// Its configuration is $ZE_PLATFORM_ROOT/etc/fw_env.config, as for fw_printenv.
// The configuration is checked before libubootenv reads it: a line it cannot
// parse, longer than 1023 bytes, a copy size of 0 or one that leaves no room
// after the copy header, or two copies of different sizes are refused with the
// line named. A configuration with one copy works but is warned about: a power
// cut during a save can lose it. Of two copies, one cut short while the other
// is whole is padded to its size, so that the whole one is read and the next
// save rewrites the short one.
class ZE_PLATFORM_EXPORT FlashEnv {
public:
    static FlashEnv* instance();

    // Stores `name`=`value` persistently (a null value deletes the variable).
    // Returns 0 on success, a non-zero status (and an error message)
    // otherwise: -1 for a missing or malformed name, else libubootenv's
    // status. A store without a valid copy is refused (-ENODATA) rather than
    // started afresh; ze/platform/env_setup.h creates a valid one.
    virtual int setEnv(const char* name, const char* value);

    // The stored value of `name`: 0 with *value set, -ENOENT when the
    // variable is not set, -1 for a malformed name, otherwise libubootenv's
    // status (with an error message).
    int getEnv(const char* name, std::string* value);

    virtual ~FlashEnv();

protected:
    FlashEnv() = default;
};
