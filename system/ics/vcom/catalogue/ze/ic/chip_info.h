#pragma once
// What the catalogue says about one VCOM chip. Each chip's facts sit in a
// header of their own beside its driver file; chip_catalogue.h gathers them.

#include <cstdint>

namespace ze {
namespace ic {
namespace catalogue {

struct ChipInfo {
    int typeIdx;
    const char* name;         // as written on a command line: "auo"
    const char* label;        // as the driver's messages name it: "AUO"
    std::uint16_t updateMax;  // largest value an update sets without aliasing
    std::uint16_t saveMax;    // largest value a save stores
    bool readShowsStored;     // a read after a power cycle returns the saved value
    // The chip's save stores the setting it holds and ignores the value the
    // save is given: storing a value takes an update to it first.
    bool saveStoresCurrent;
    const char* updateNote;  // why the limits are what they are
    const char* saveNote;
};

}  // namespace catalogue
}  // namespace ic
}  // namespace ze
