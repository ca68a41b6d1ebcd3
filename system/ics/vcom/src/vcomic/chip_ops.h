#pragma once
// A chip as the dispatch sees it: its board TypeIdx, its three routines and
// the outcome messages of each operation. Every chip file defines its own.

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

namespace chips {

extern const ChipOps kAuo;
extern const ChipOps kKd532p;
extern const ChipOps kIn518;
extern const ChipOps kBoe;
extern const ChipOps kRt6966;
extern const ChipOps kIn525;
extern const ChipOps kKd733;
extern const ChipOps kG1625;

}  // namespace chips
}  // namespace ic
}  // namespace ze
