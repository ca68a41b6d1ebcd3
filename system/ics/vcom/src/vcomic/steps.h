#pragma once
// Fixed chip sequences as data. A routine that is one fixed sequence lists
// its steps: the transfer, its register and operand, the wait taken before
// it, its failure message and what a failure does to the routine. The chip's
// arithmetic is the sequence's one compute hook; messages that carry values
// are notes. One interpreter runs them all.

#include <unistd.h>

#include <cstddef>

#include "VCOMICdriver.h"
#include "vcom_log.h"

namespace ze {
namespace ic {
namespace steps {

// Scratch words a sequence shares between its steps and its compute hook.
constexpr std::size_t kWords = 4;

// The routine's state while its sequence runs.
struct Frame {
    unsigned short* value;  // the caller's
    unsigned int words[kWords];
};

// Where a step's byte comes from or goes to, or a note's argument.
struct Operand {
    enum class Kind : unsigned char {
        None,
        Constant,
        Word,       // words[n]
        Value,      // the caller's value: read into whole, written as its low byte
        ValueByte,  // its low byte, as a note prints it
    };
    Kind kind;
    unsigned int n;
};

constexpr Operand kNone{Operand::Kind::None, 0};
constexpr Operand kValue{Operand::Kind::Value, 0};
constexpr Operand kValueByte{Operand::Kind::ValueByte, 0};
constexpr Operand constant(unsigned int c)
{
    return {Operand::Kind::Constant, c};
}
constexpr Operand word(unsigned int n)
{
    return {Operand::Kind::Word, n};
}

enum class Op : unsigned char {
    Write,      // one byte to a register
    Read,       // one byte from a register
    Send,       // a command byte, no sub-address
    Receive,    // a status byte at the read address, no sub-address
    GateOpen,   // access gate GPIO (gpioAddr) to gpioStatus
    GateClose,  // access gate GPIO to its resting level
    Compute,    // the sequence's arithmetic
    Note,       // an info message with up to two arguments
    Wait,       // the step's wait alone
};

// What a failed transfer does after its message.
enum class OnFail : unsigned char {
    Stop,        // the routine ends with the transfer's status
    StopFailed,  // the routine ends with kFailed, whatever the bus said
    Continue,    // the routine runs on; its result is its last transfer's
};

constexpr int kFailed = -1;

struct Step {
    Op op;
    useconds_t waitUs;  // taken before the step
    unsigned int reg;
    Operand operand;   // written, read into, or a note's first argument
    Operand second;    // a note's second argument
    const char* text;  // error on a failed transfer, or the note; nullptr: none
    OnFail onFail;
};

using ComputeHook = void (*)(Frame&);

struct Sequence {
    const Step* steps;
    std::size_t count;
    ComputeHook compute;
};

template <std::size_t N>
constexpr Sequence sequence(const Step (&steps)[N], ComputeHook compute = nullptr)
{
    return {steps, N, compute};
}

constexpr Step write(unsigned int reg, Operand byte, useconds_t waitUs, const char* failure,
                     OnFail onFail = OnFail::Stop)
{
    return {Op::Write, waitUs, reg, byte, kNone, failure, onFail};
}
constexpr Step read(unsigned int reg, Operand into, useconds_t waitUs, const char* failure,
                    OnFail onFail = OnFail::Stop)
{
    return {Op::Read, waitUs, reg, into, kNone, failure, onFail};
}
constexpr Step send(Operand byte, useconds_t waitUs, const char* failure)
{
    return {Op::Send, waitUs, 0, byte, kNone, failure, OnFail::Stop};
}
constexpr Step receive(Operand into, useconds_t waitUs, const char* failure)
{
    return {Op::Receive, waitUs, 0, into, kNone, failure, OnFail::Stop};
}
constexpr Step gateOpen(useconds_t waitUs, const char* failure, OnFail onFail)
{
    return {Op::GateOpen, waitUs, 0, kNone, kNone, failure, onFail};
}
constexpr Step gateClose(useconds_t waitUs, const char* failure, OnFail onFail)
{
    return {Op::GateClose, waitUs, 0, kNone, kNone, failure, onFail};
}
constexpr Step compute(useconds_t waitUs = 0)
{
    return {Op::Compute, waitUs, 0, kNone, kNone, nullptr, OnFail::Continue};
}
constexpr Step note(const char* text, Operand first = kNone, Operand second = kNone)
{
    return {Op::Note, 0, 0, first, second, text, OnFail::Continue};
}
constexpr Step wait(useconds_t us)
{
    return {Op::Wait, us, 0, kNone, kNone, nullptr, OnFail::Continue};
}

// Runs the steps in order on `frame`; messages are attributed to `at`.
// Returns the status of the last transfer, or the stopping one's.
int run(VCOMICDriver& driver, const Sequence& sequence, Frame& frame, const log::Site& at);

// The same on a fresh frame over the caller's value.
int run(VCOMICDriver& driver, const Sequence& sequence, unsigned short* value, const log::Site& at);

}  // namespace steps
}  // namespace ic
}  // namespace ze
