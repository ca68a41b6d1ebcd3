#pragma once
// A chip as the dispatch sees it: its board TypeIdx, its three routines and
// the outcome messages of each operation. Every chip file registers its own
// with ZE_VCOM_CHIP; the dispatch walks what the link gathered, so no list
// names the chips.

#include "VCOMICdriver.h"

namespace ze {
namespace ic {

using ChipRoutine = int (VCOMICDriver::*)(unsigned short*);

struct ChipOps {
    int typeIdx;
    ChipRoutine read;
    ChipRoutine update;
    ChipRoutine save;
    const char* readOk;
    const char* readFail;
    const char* updateOk;
    const char* updateFail;
    const char* saveOk;
    const char* saveFail;
};

// The registered chips, in link order; nullptr when none has this TypeIdx.
const ChipOps* findChip(int typeIdx);

}  // namespace ic
}  // namespace ze

// The descriptors sit side by side in one section, which the linker brackets
// with __start_/__stop_ symbols. The explicit alignment keeps the compiler
// from padding them apart.
#define ZE_VCOM_CHIP(name)                                                               \
    __attribute__((used, section("ze_vcom_chips"), aligned(alignof(::ze::ic::ChipOps)))) \
    const ::ze::ic::ChipOps name
