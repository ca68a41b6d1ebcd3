#include "inx_attempts.h"

#include "reg_io.h"

namespace ze {
namespace ic {
namespace inx {

void reportFailure(const log::Site& at, const Report& how, int status)
{
    if (status == 0 || how.text == nullptr) return;
    if (how.withStatus) {
        VCOM_LOG_AT(at, how.level, "[%s]%s, ret = %d.\n\n", log::kTag, how.text, status);
    } else {
        VCOM_LOG_AT(at, how.level, "%s", how.text);
    }
}

Outcome runAttempts(VCOMICDriver& driver, const log::Site& at, const Chip& chip,
                    const Operation& op, unsigned char vcom)
{
    unsigned char status = chip.verdictBeforeFirstRead;
    int ret = 0;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const Attempt done = chip.attempt(driver, at, op, vcom, &status);
        ret = done.ret;
        if (done.stopped) return {true, ret};
        if (!done.verdict) continue;
        if (op.verdictBefore != nullptr) {
            VCOM_INFO_AT(at, "%s%x%s", op.verdictBefore, status, op.verdictAfter);
        }
        if (status == chip.statusWriteAgain) {
            VCOM_INFO_AT(at, "%s", op.writeAgain);
            continue;
        }
        VCOM_INFO_AT(at, "%s", op.taken);
        if (!op.program) break;
        reportFailure(at, op.programFailed,
                      regio::writeReg(driver, chip.regProgram, chip.programCommand));
        usleep(chip.programUs);
        reportFailure(at, op.verdictWriteBackFailed,
                      regio::writeReg(driver, chip.regVerdict, status));
        if (status == chip.statusProgramAgain) continue;
        VCOM_INFO_AT(at, "%s", op.programmed);
        break;
    }
    if (op.program) {
        ret = regio::writeReg(driver, chip.regLock, chip.lockCommand);
        reportFailure(at, op.lockFailed, ret);
    }
    usleep(kFinishSettleUs);
    return {false, ret};
}

}  // namespace inx
}  // namespace ic
}  // namespace ze
