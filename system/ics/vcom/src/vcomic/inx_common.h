#pragma once
// What the Innolux chips share: the pass-through bridge in front of them, the
// unlock codes and the CRC seed of their VCOM data.

#include <unistd.h>

#include "VCOMICdriver.h"

namespace ze {
namespace ic {
namespace inx {

// Pass-through bridge: command EA 10 xx at 0xE7; xx 01 opens, 00 closes.
constexpr unsigned char kBridgeAddr = 0xC2;
constexpr unsigned char kRegPassThrough = 0xE7;
constexpr unsigned char kPassThroughOpen = 0x01;
constexpr unsigned char kPassThroughClose = 0x00;
constexpr useconds_t kPassThroughSettleUs = 20000;

// Unlock codes, the same on both chips; their unlock ends with a reset write.
constexpr unsigned char kUnlock1Command = 0xB7;
constexpr unsigned char kUnlock2Command = 0xF6;
constexpr useconds_t kUnlockSettleUs = 70000;

// Seed of the CRC that guards the chips' VCOM data.
constexpr unsigned short kCrcSeed = 0xD200;

// Sends the bridge its pass-through command. Returns the write's status.
int sendPassThrough(VCOMICDriver& driver, unsigned char openClose);

}  // namespace inx
}  // namespace ic
}  // namespace ze
