#include <unistd.h>

#include "VCOMICdriver.h"
#include "inx_common.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {

using namespace inx;
using log::kTag;

namespace {

// IN518 registers.
constexpr unsigned char kRegUnlock1 = 0x2F;
constexpr unsigned char kRegUnlock2 = 0x30;
constexpr unsigned char kRegRecord = 0x31;  // 5-byte VCOM record, 0x31..0x35
constexpr unsigned char kRegVcom = 0x34;
constexpr unsigned char kRegSaveMtp = 0x3A;
constexpr unsigned char kRegLock = 0x3C;
constexpr unsigned char kRegResetStatus = 0x3D;  // reset and status write-back; status read

constexpr unsigned char kResetCommand = 0x80;
constexpr unsigned char kSaveMtpCommand = 0x80;
constexpr unsigned char kLockCommand = 0x80;

// VCOM record: 01 89 57, the VCOM byte, the byte's CRC from the table.
constexpr unsigned char kRecordHeader0 = 0x01;
constexpr unsigned char kRecordHeader1 = 0x89;
constexpr unsigned char kRecordHeader2 = 0x57;

// Status after a record write. Anything else: the record was taken.
constexpr unsigned char kStatusWriteAgain = 0x5D;
constexpr unsigned char kStatusProgramAgain = 0x65;  // save: program, then write again

constexpr int kWriteAttempts = 5;

constexpr useconds_t kSaveLeadUs = 10000;
constexpr useconds_t kValueSettleUs = 15000;
constexpr useconds_t kRecordSettleUs = 20000;
constexpr useconds_t kSaveMtpUs = 260000;
constexpr useconds_t kFinishSettleUs = 20000;

// One write attempt, up to the chip's verdict: each transfer, the settle time
// after it, and its failure text ("[VCOMIC]<text>, ret = <status>.") in an
// update and in a save.
enum class Kind { Command, Record, Status };

struct AttemptStep {
    Kind kind;
    unsigned char reg;
    unsigned char command;
    useconds_t settleUs;
    const char* updateFailure;
    const char* saveFailure;
};

const AttemptStep kAttemptSteps[] = {
    {Kind::Command, kRegUnlock1, kUnlock1Command, 0,
     "INX518_Update Vcom bufUnlock1Command fail", "INX518_Save Vcom bufUnlock1Command fail"},
    {Kind::Command, kRegUnlock2, kUnlock2Command, 0,
     "INX518_Update Vcom bufUnlock2Command fail", "INX518_Save Vcom bufUnlock2Command fail"},
    {Kind::Command, kRegResetStatus, kResetCommand, kUnlockSettleUs,
     "INX518_Update Vcom reset fail", "INX518_Save Vcom bufResetCommand fail"},
    {Kind::Record, kRegRecord, 0, kRecordSettleUs,
     "INX518_Update Vcom bufVcomData fail", "INX518_Save Vcom write bufVcomData fail"},
    {Kind::Status, kRegResetStatus, 0, 0,
     "INX518_Update Vcom read i2cStatus fail", "INX518_Save Vcom  read i2cStatus fail"},
};

// A failed status read leaves `status` as it was.
int runStep(VCOMICDriver& driver, const AttemptStep& step, unsigned char vcom,
            unsigned char* status)
{
    switch (step.kind) {
    case Kind::Command:
        return regio::writeReg(driver, step.reg, step.command);
    case Kind::Record: {
        unsigned char record[] = {kRecordHeader0, kRecordHeader1, kRecordHeader2, vcom, crc[vcom]};
        return driver.writeNumBytes(driver.vcomAddr, regio::kSubAddrBytes, step.reg, record,
                                    sizeof record);
    }
    case Kind::Status: {
        // The status answers at the read form of the address.
        unsigned char answer = 0;
        const int ret = driver.readNumBytes(regio::readAddress(driver.vcomAddr),
                                            regio::kSubAddrBytes, step.reg, &answer,
                                            regio::kDataBytes);
        if (ret == 0) *status = answer;
        return ret;
    }
    }
    return -1;
}

}  // namespace

int VCOMICDriver::IC_INX_IN518_Read(unsigned short* value)
{
    if (value == nullptr) {
        VCOM_ERR("value is null!!\n");
        return -1;
    }
    VCOM_INFO("[DR_VCOM]Vcom read For InnoLux518...\n");
    int ret = sendPassThrough(*this, kPassThroughOpen);
    if (ret != 0) {
        VCOM_ERR("[%s]INX518 Vcom enable1 fail, ret = %d.\n\n", kTag, ret);
        return ret;
    }
    usleep(kPassThroughSettleUs);
    unsigned char vcom = 0;
    ret = regio::readReg(*this, kRegVcom, &vcom);
    if (ret != 0) {
        VCOM_ERR("[%s]INX518 Vcom value fail, ret = %d.\n\n", kTag, ret);
        return ret;
    }
    *value = vcom;
    usleep(kValueSettleUs);
    ret = sendPassThrough(*this, kPassThroughClose);
    if (ret != 0) {
        VCOM_ERR("[%s]INX518_Save Vcom Pass1Disabe fail, ret = %d.\n\n", kTag, ret);
        return ret;
    }
    return 0;
}

int VCOMICDriver::IC_INX_IN518_Updata(unsigned short* value)
{
    VCOM_ERR("[%s] IC_INX_IN518_Updata = 0x%0x.\n", kTag, *value);
    VCOM_INFO("[DR_VCOM]Vcom Updata For InnoLux518...\n");
    int ret = sendPassThrough(*this, kPassThroughOpen);
    if (ret != 0) return ret;
    usleep(kPassThroughSettleUs);

    // A failed transfer ends the update at once, the pass-through left open.
    const unsigned char vcom = static_cast<unsigned char>(*value);
    unsigned char status = 0;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        for (const AttemptStep& step : kAttemptSteps) {
            ret = runStep(*this, step, vcom, &status);
            if (ret != 0) {
                VCOM_ERR("[%s]%s, ret = %d.\n\n", kTag, step.updateFailure, ret);
                return ret;
            }
            if (step.settleUs != 0) usleep(step.settleUs);
        }
        if (status != kStatusWriteAgain) {
            VCOM_INFO("[DR_VCOM]INX518 Vcom read i2cStatus sucess.\n\n");
            break;
        }
        VCOM_INFO("[DR_VCOM]INX518 Vcom  Vcom i2cStatus reset again.\n\n");
    }
    usleep(kFinishSettleUs);
    ret = sendPassThrough(*this, kPassThroughClose);
    if (ret != 0) {
        VCOM_ERR("[%s]INX518_Save Vcom Pass1Disabe fail, ret = %d.\n\n", kTag, ret);
    }
    return ret;
}

int VCOMICDriver::IC_INX_IN518_Save(unsigned short* value)
{
    if (value == nullptr) {
        VCOM_ERR("value is null!!\n");
        return -1;
    }
    VCOM_ERR("[%s] IC_INX_IN518_Save = 0x%0x.\n", kTag, *value);
    VCOM_INFO("[DR_VCOM]Vcom save For InnoLux518...\n");
    usleep(kSaveLeadUs);
    int ret = sendPassThrough(*this, kPassThroughOpen);
    if (ret != 0) return ret;
    usleep(kPassThroughSettleUs);

    // Once open, a save runs to the lock and the close whatever fails on the way.
    const unsigned char vcom = static_cast<unsigned char>(*value);
    unsigned char status = 0;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        for (const AttemptStep& step : kAttemptSteps) {
            ret = runStep(*this, step, vcom, &status);
            if (ret != 0) {
                VCOM_ERR("[%s]%s, ret = %d.\n\n", kTag, step.saveFailure, ret);
            } else if (step.kind == Kind::Record) {
                VCOM_INFO("[DR_VCOMINX Vcom write data [0x%x] \n\n", vcom);
            }
            if (step.settleUs != 0) usleep(step.settleUs);
        }
        if (status == kStatusWriteAgain) {
            VCOM_INFO("[DR_VCOM]INX518 Vcom i2cStatus reset again.\n\n");
            continue;
        }
        VCOM_INFO("[DR_VCOM]INX Vcom save i2cStatus success.\n\n");
        ret = regio::writeReg(*this, kRegSaveMtp, kSaveMtpCommand);
        if (ret != 0) {
            VCOM_ERR("[%s]INX518_Save Vcom  write bufSaveMTPCommand fail, ret = %d.\n\n", kTag, ret);
        }
        usleep(kSaveMtpUs);
        ret = regio::writeReg(*this, kRegResetStatus, status);
        if (ret != 0) {
            VCOM_ERR("[%s]INX518_Save Vcom  write i2cStatus fail, ret = %d.\n\n", kTag, ret);
        }
        if (status == kStatusProgramAgain) continue;
        VCOM_INFO("[DR_VCOM]INX save Vcom sucess.\n\n");
        break;
    }
    if (regio::writeReg(*this, kRegLock, kLockCommand) != 0) {
        VCOM_INFO("[DR_VCOM]INX518 save Vcom lock error.\n\n");
    }
    usleep(kFinishSettleUs);
    ret = sendPassThrough(*this, kPassThroughClose);
    if (ret != 0) {
        VCOM_ERR("[%s]INX518_Save Vcom Pass1Disabe fail, ret = %d.\n\n", kTag, ret);
        return ret;
    }
    usleep(kFinishSettleUs);
    return 0;
}

}  // namespace ic
}  // namespace ze
