// IN518: a 5-byte VCOM record behind the Innolux pass-through bridge, its CRC
// taken from a table. Every record write is unlocked first and answered with
// a verdict; a save programs the accepted record into MTP and locks the chip.

#include <unistd.h>

#include "../chip_ops.h"
#include "../reg_io.h"
#include "../vcom_log.h"
#include "in518_chip.h"
#include "innolux_family.h"

namespace ze {
namespace ic {

using namespace inx;
using log::kTag;

namespace {

// Registers, one data byte each unless stated.
//   0x2F  unlock code 1 (write)
//   0x30  unlock code 2 (write)
//   0x31  VCOM record, 5 bytes 0x31..0x35 (write)
//   0x34  VCOM, byte 3 of the record (read)
//   0x3A  program the record into MTP (write)
//   0x3C  lock (write)
//   0x3D  reset, the end of an unlock (write); verdict on the last record
//         write (read at the read form of the address; written back after programming)
constexpr unsigned char kRegUnlock1 = 0x2F;
constexpr unsigned char kRegUnlock2 = 0x30;
constexpr unsigned char kRegRecord = 0x31;
constexpr unsigned char kRegVcom = 0x34;
constexpr unsigned char kRegSaveMtp = 0x3A;
constexpr unsigned char kRegLock = 0x3C;
constexpr unsigned char kRegResetStatus = 0x3D;

constexpr unsigned char kResetCommand = 0x80;
constexpr unsigned char kSaveMtpCommand = 0x80;
constexpr unsigned char kLockCommand = 0x80;

// VCOM record: 01 89 57, the VCOM byte, the byte's CRC from the table.
constexpr unsigned char kRecordHeader0 = 0x01;
constexpr unsigned char kRecordHeader1 = 0x89;
constexpr unsigned char kRecordHeader2 = 0x57;

// Verdicts after a record write. Anything else: the record was taken.
constexpr unsigned char kStatusWriteAgain = 0x5D;
constexpr unsigned char kStatusProgramAgain = 0x65;  // save: program, then write again
constexpr unsigned char kNoVerdictYet = 0;

constexpr useconds_t kSaveLeadUs = 10000;
constexpr useconds_t kValueSettleUs = 15000;
constexpr useconds_t kRecordSettleUs = 20000;
constexpr useconds_t kSaveMtpUs = 260000;

}  // namespace

// IN518 record CRC by VCOM byte: the CRC of the record 01 89 57 v.
const unsigned char crc[256] = {
    0x8A, 0xE3, 0x58, 0x31, 0x47, 0x2E, 0x95, 0xFC,
    0x79, 0x10, 0xAB, 0xC2, 0xB4, 0xDD, 0x66, 0x0F,  // 0x00
    0x05, 0x6C, 0xD7, 0xBE, 0xC8, 0xA1, 0x1A, 0x73,
    0xF6, 0x9F, 0x24, 0x4D, 0x3B, 0x52, 0xE9, 0x80,  // 0x10
    0xFD, 0x94, 0x2F, 0x46, 0x30, 0x59, 0xE2, 0x8B,
    0x0E, 0x67, 0xDC, 0xB5, 0xC3, 0xAA, 0x11, 0x78,  // 0x20
    0x72, 0x1B, 0xA0, 0xC9, 0xBF, 0xD6, 0x6D, 0x04,
    0x81, 0xE8, 0x53, 0x3A, 0x4C, 0x25, 0x9E, 0xF7,  // 0x30
    0x64, 0x0D, 0xB6, 0xDF, 0xA9, 0xC0, 0x7B, 0x12,
    0x97, 0xFE, 0x45, 0x2C, 0x5A, 0x33, 0x88, 0xE1,  // 0x40
    0xEB, 0x82, 0x39, 0x50, 0x26, 0x4F, 0xF4, 0x9D,
    0x18, 0x71, 0xCA, 0xA3, 0xD5, 0xBC, 0x07, 0x6E,  // 0x50
    0x13, 0x7A, 0xC1, 0xA8, 0xDE, 0xB7, 0x0C, 0x65,
    0xE0, 0x89, 0x32, 0x5B, 0x2D, 0x44, 0xFF, 0x96,  // 0x60
    0x9C, 0xF5, 0x4E, 0x27, 0x51, 0x38, 0x83, 0xEA,
    0x6F, 0x06, 0xBD, 0xD4, 0xA2, 0xCB, 0x70, 0x19,  // 0x70
    0x3F, 0x56, 0xED, 0x84, 0xF2, 0x9B, 0x20, 0x49,
    0xCC, 0xA5, 0x1E, 0x77, 0x01, 0x68, 0xD3, 0xBA,  // 0x80
    0xB0, 0xD9, 0x62, 0x0B, 0x7D, 0x14, 0xAF, 0xC6,
    0x43, 0x2A, 0x91, 0xF8, 0x8E, 0xE7, 0x5C, 0x35,  // 0x90
    0x48, 0x21, 0x9A, 0xF3, 0x85, 0xEC, 0x57, 0x3E,
    0xBB, 0xD2, 0x69, 0x00, 0x76, 0x1F, 0xA4, 0xCD,  // 0xA0
    0xC7, 0xAE, 0x15, 0x7C, 0x0A, 0x63, 0xD8, 0xB1,
    0x34, 0x5D, 0xE6, 0x8F, 0xF9, 0x90, 0x2B, 0x42,  // 0xB0
    0xD1, 0xB8, 0x03, 0x6A, 0x1C, 0x75, 0xCE, 0xA7,
    0x22, 0x4B, 0xF0, 0x99, 0xEF, 0x86, 0x3D, 0x54,  // 0xC0
    0x5E, 0x37, 0x8C, 0xE5, 0x93, 0xFA, 0x41, 0x28,
    0xAD, 0xC4, 0x7F, 0x16, 0x60, 0x09, 0xB2, 0xDB,  // 0xD0
    0xA6, 0xCF, 0x74, 0x1D, 0x6B, 0x02, 0xB9, 0xD0,
    0x55, 0x3C, 0x87, 0xEE, 0x98, 0xF1, 0x4A, 0x23,  // 0xE0
    0x29, 0x40, 0xFB, 0x92, 0xE4, 0x8D, 0x36, 0x5F,
    0xDA, 0xB3, 0x08, 0x61, 0x17, 0x7E, 0xC5, 0xAC,  // 0xF0
};

namespace {

// One attempt, as the chip's datasheet sequence: each transfer, the settle
// time after it, and its failure text in an update and in a save.
enum class Kind { Command, Record, Verdict };

struct AttemptStep {
    Kind kind;
    unsigned char reg;
    unsigned char command;
    useconds_t settleUs;
    const char* updateFailure;
    const char* saveFailure;
};

const AttemptStep kAttemptSteps[] = {
    {Kind::Command, kRegUnlock1, kUnlock1Command, 0, "INX518_Update Vcom bufUnlock1Command fail",
     "INX518_Save Vcom bufUnlock1Command fail"},
    {Kind::Command, kRegUnlock2, kUnlock2Command, 0, "INX518_Update Vcom bufUnlock2Command fail",
     "INX518_Save Vcom bufUnlock2Command fail"},
    {Kind::Command, kRegResetStatus, kResetCommand, kUnlockSettleUs,
     "INX518_Update Vcom reset fail", "INX518_Save Vcom bufResetCommand fail"},
    {Kind::Record, kRegRecord, 0, kRecordSettleUs, "INX518_Update Vcom bufVcomData fail",
     "INX518_Save Vcom write bufVcomData fail"},
    {Kind::Verdict, kRegResetStatus, 0, 0, "INX518_Update Vcom read i2cStatus fail",
     "INX518_Save Vcom  read i2cStatus fail"},
};

int runStep(VCOMICDriver& driver, const AttemptStep& step, unsigned char vcom,
            unsigned char* status)
{
    switch (step.kind) {
        case Kind::Command:
            return regio::writeReg(driver, step.reg, step.command);
        case Kind::Record: {
            unsigned char record[] = {kRecordHeader0, kRecordHeader1, kRecordHeader2, vcom,
                                      crc[vcom]};
            return driver.writeNumBytes(driver.vcomAddr, regio::kSubAddrBytes, step.reg, record,
                                        sizeof record);
        }
        case Kind::Verdict: {
            unsigned char answer = 0;
            const int ret =
                driver.readNumBytes(regio::readAddress(driver.vcomAddr), regio::kSubAddrBytes,
                                    step.reg, &answer, regio::kDataBytes);
            if (ret == 0) *status = answer;
            return ret;
        }
    }
    return -1;
}

Attempt sendRecord(VCOMICDriver& driver, const log::Site& at, const Operation& op,
                   unsigned char vcom, unsigned char* status)
{
    int ret = 0;
    for (const AttemptStep& step : kAttemptSteps) {
        ret = runStep(driver, step, vcom, status);
        if (ret != 0) {
            VCOM_ERR_AT(at, "[%s]%s, ret = %d.\n\n", kTag,
                        op.program ? step.saveFailure : step.updateFailure, ret);
            if (op.stopOnFailure) return {false, true, ret};
        } else if (op.program && step.kind == Kind::Record) {
            VCOM_INFO_AT(at, "[DR_VCOMINX Vcom write data [0x%x] \n\n", vcom);
        }
        if (step.settleUs != 0) usleep(step.settleUs);
    }
    return {true, false, ret};
}

// Every routine closes with the save's message, whatever it is.
int closePassThrough(VCOMICDriver& driver, const log::Site& at)
{
    const int ret = sendPassThrough(driver, kPassThroughClose);
    if (ret != 0) {
        VCOM_ERR_AT(at, "[%s]INX518_Save Vcom Pass1Disabe fail, ret = %d.\n\n", kTag, ret);
    }
    return ret;
}

const Chip kChip = {
    sendRecord,
    kNoVerdictYet,  // verdict before the first read
    kStatusWriteAgain, kStatusProgramAgain, kRegSaveMtp, kSaveMtpCommand,
    kSaveMtpUs,        kRegResetStatus,     kRegLock,    kLockCommand,
};

// An update ends at its first failed transfer, the pass-through left open.
const Operation kUpdate = {
    false,  // no programming
    true,   // stop on failure
    nullptr,
    nullptr,
    "[DR_VCOM]INX518 Vcom  Vcom i2cStatus reset again.\n\n",
    "[DR_VCOM]INX518 Vcom read i2cStatus sucess.\n\n",
    {},
    {},
    nullptr,
    {},
};

// Once open, a save runs to the lock and the close whatever fails on the way.
const Operation kSave = {
    true,   // program, write the verdict back, lock
    false,  // run on after a failure
    nullptr,
    nullptr,
    "[DR_VCOM]INX518 Vcom i2cStatus reset again.\n\n",
    "[DR_VCOM]INX Vcom save i2cStatus success.\n\n",
    {log::kError, true, "INX518_Save Vcom  write bufSaveMTPCommand fail"},
    {log::kError, true, "INX518_Save Vcom  write i2cStatus fail"},
    "[DR_VCOM]INX save Vcom sucess.\n\n",
    {log::kInfo, false, "[DR_VCOM]INX518 save Vcom lock error.\n\n"},
};

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
    ret = closePassThrough(*this, VCOM_SITE);
    if (ret != 0) return ret;
    return 0;
}

int VCOMICDriver::IC_INX_IN518_Updata(unsigned short* value)
{
    VCOM_ERR("[%s] IC_INX_IN518_Updata = 0x%0x.\n", kTag, *value);
    VCOM_INFO("[DR_VCOM]Vcom Updata For InnoLux518...\n");
    int ret = sendPassThrough(*this, kPassThroughOpen);
    if (ret != 0) return ret;
    usleep(kPassThroughSettleUs);
    const Outcome done =
        runAttempts(*this, VCOM_SITE, kChip, kUpdate, static_cast<unsigned char>(*value));
    if (done.stopped) return done.ret;
    return closePassThrough(*this, VCOM_SITE);
}

// The save's own transfers never decide its result; only the close does.
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
    runAttempts(*this, VCOM_SITE, kChip, kSave, static_cast<unsigned char>(*value));
    ret = closePassThrough(*this, VCOM_SITE);
    if (ret != 0) return ret;
    usleep(kFinishSettleUs);
    return 0;
}

namespace {

ZE_VCOM_CHIP(kDescriptor) = {
    catalogue::chip::in518.typeIdx,           &VCOMICDriver::IC_INX_IN518_Read,
    &VCOMICDriver::IC_INX_IN518_Updata,       &VCOMICDriver::IC_INX_IN518_Save,
    "[DR_VCOM]VCOM IN518 read success .\n",   "[DR_VCOM]VCOM IN518 read fail .\n",
    "[DR_VCOM]VCOM IN518 Update success .\n", "[DR_VCOM]VCOM IN518 Update fail .\n",
    "[DR_VCOM] IN518 save success .\n",       "[DR_VCOM] IN518 save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
