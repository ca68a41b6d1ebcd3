#pragma once

// Symbols of the simulated board that tests and tools may link against.
#if defined(ZE_SIM_BUILD)
#define ZE_SIM_EXPORT __attribute__((visibility("default")))
#else
#define ZE_SIM_EXPORT __attribute__((visibility("default")))
#endif
