#pragma once
// The VCOM chips the driver supports, by board-file TypeIdx, with the values
// each one can take.

#include <cstdint>
#include <string>
#include <vector>

namespace vcomctl {

struct ChipInfo {
    int typeIdx;
    const char* name;         // as written on the command line: "auo"
    std::uint16_t updateMax;  // largest value an update sets without aliasing
    std::uint16_t saveMax;    // largest value a save stores
    const char* updateNote;   // why the limits are what they are
    const char* saveNote;
};

const std::vector<ChipInfo>& supportedChips();
// nullptr for a TypeIdx the driver does not support (2, 5, 0, 11, ...).
const ChipInfo* chipByTypeIdx(int typeIdx);
// Case-insensitive; nullptr for a name that is no chip.
const ChipInfo* chipByName(const std::string& name);
// "auo, in518, boe, ..." in TypeIdx order.
std::string chipNames();

}  // namespace vcomctl
