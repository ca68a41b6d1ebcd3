#pragma once

// libzeic_vcom.so exports its classes only; everything else stays hidden.
#define ZE_IC_EXPORT __attribute__((visibility("default")))
