#pragma once

#include <ze/platform/export.h>

// The platform's persistent environment (the U-Boot environment on a board).
// Its configuration is $ZE_PLATFORM_ROOT/etc/fw_env.config, as for fw_printenv.
class ZE_PLATFORM_EXPORT FlashEnv {
public:
    static FlashEnv* instance();

    // Stores `name`=`value` persistently (a null value deletes the variable).
    // Returns 0 on success, a non-zero status (and an error message)
    // otherwise: -1 for a missing or malformed name, else libubootenv's
    // status. A store without a valid copy is refused (-ENODATA) rather than
    // started afresh; ze/platform/env_setup.h creates a valid one.
    virtual int setEnv(const char* name, const char* value);

    virtual ~FlashEnv();

protected:
    FlashEnv() = default;
};
