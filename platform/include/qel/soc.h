#pragma once
// SoC unified interface: I2C, GPIO and display timing. Every function returns
// 0 on success and a non-zero status otherwise.

#include <ze/platform/export.h>

#ifdef __cplusplus
extern "C" {
#endif

// Names one I2C transfer's target. Zero-fill it before use.
typedef struct I2cTarget {
    unsigned char devAddr;     // device address in 8-bit form (7-bit address << 1)
    unsigned char subAddrLen;  // sub-address bytes sent before the data: 0 or 1
    unsigned char subAddr;     // the sub-address
    unsigned char reserved[9];
} I2cTarget;

#ifdef __cplusplus
static_assert(sizeof(I2cTarget) == 12, "I2cTarget is a 12-byte record");
#else
_Static_assert(sizeof(I2cTarget) == 12, "I2cTarget is a 12-byte record");
#endif

// Refresh-rate setting of QEL_DisplaySetFreerunVfreq that selects 60 Hz.
#define QEL_FREERUN_VFREQ_60HZ 2
// The I2C open mode every caller of this interface uses.
#define QEL_I2C_MODE_DEFAULT 1

ZE_PLATFORM_EXPORT int QEL_I2COpen(unsigned int bus, unsigned int mode);
ZE_PLATFORM_EXPORT int QEL_I2CWrite(unsigned int bus, I2cTarget* target, unsigned char* data,
                                    unsigned int length, unsigned int* flags);
ZE_PLATFORM_EXPORT int QEL_I2CRead(unsigned int bus, I2cTarget* target, unsigned int length,
                                   unsigned char* buffer, unsigned int* flags);
ZE_PLATFORM_EXPORT int QEL_GPIOSetValue(unsigned int gpio, unsigned int level);
ZE_PLATFORM_EXPORT int QEL_DisplayGetFreerunVfreq(int* setting);
ZE_PLATFORM_EXPORT int QEL_DisplaySetFreerunVfreq(int setting);

#ifdef __cplusplus
}
#endif
