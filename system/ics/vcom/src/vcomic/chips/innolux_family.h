#pragma once
// The Innolux family (IN525, IN518): the pass-through bridge in front of the
// chips, their unlock codes, the CRC of their VCOM data, and the one write
// sequence of their update and save: up to five attempts, each ending in the
// chip's verdict on the data it was sent; a save programs accepted data and
// writes the verdict back, then locks the chip. What differs between the
// chips and operations is data: the chip's attempt, its status codes and
// registers, the messages.

#include <unistd.h>

#include <cstdint>

#include "../VCOMICdriver.h"
#include "../vcom_log.h"

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

// How a failed transfer is reported: its own text, or the text as
// "[VCOMIC]<text>, ret = <status>.\n\n". No text: not reported at all.
struct Report {
    std::uint32_t level;
    bool withStatus;
    const char* text;
};

// Does nothing for status 0.
void reportFailure(const log::Site& at, const Report& how, int status);

struct Operation {
    bool program;        // a save: program accepted data, write the verdict back, lock
    bool stopOnFailure;  // a failed transfer ends the operation with its status
    // Info after each verdict read: "<before><status in hex><after>"; no text: none.
    const char* verdictBefore;
    const char* verdictAfter;
    const char* writeAgain;  // info, verdict "write again"
    const char* taken;       // info, any other verdict
    Report programFailed;
    Report verdictWriteBackFailed;
    const char* programmed;  // info, a programmed verdict that asks for no further round
    Report lockFailed;
};

// One attempt's end: whether a verdict was read into the status (an
// abandoned attempt has none) and the status of its last transfer.
struct Attempt {
    bool verdict;
    bool stopped;  // a failed transfer under stopOnFailure
    int ret;
};

struct Chip {
    // Unlocks, sends the data for `vcom`, waits and reads the verdict into
    // `status`; a failed verdict read leaves `status` as it was.
    Attempt (*attempt)(VCOMICDriver& driver, const log::Site& at, const Operation& op,
                       unsigned char vcom, unsigned char* status);
    unsigned char verdictBeforeFirstRead;
    unsigned char statusWriteAgain;
    unsigned char statusProgramAgain;  // a save programs, then writes again
    unsigned char regProgram;
    unsigned char programCommand;
    useconds_t programUs;
    unsigned char regVerdict;  // the verdict is written back here
    unsigned char regLock;
    unsigned char lockCommand;
};

constexpr int kWriteAttempts = 5;
constexpr useconds_t kFinishSettleUs = 20000;

struct Outcome {
    bool stopped;
    int ret;  // a save: the lock's status; otherwise the last attempt's
};

Outcome runAttempts(VCOMICDriver& driver, const log::Site& at, const Chip& chip,
                    const Operation& op, unsigned char vcom);

}  // namespace inx
}  // namespace ic
}  // namespace ze
