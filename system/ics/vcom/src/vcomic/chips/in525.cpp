// IN525: an 8-byte VCOM block guarded by a CRC, behind the Innolux
// pass-through bridge. Every block write is unlocked first and answered with
// a verdict; a save programs the accepted block into MTP and locks the chip.

#include <unistd.h>

#include <cstring>

#include "../chip_ops.h"
#include "../reg_io.h"
#include "../steps.h"
#include "../vcom_log.h"
#include "in525_chip.h"
#include "innolux_family.h"

namespace ze {
namespace ic {

using namespace inx;

namespace {

// Registers, one data byte each unless stated.
//   0x35  VCOM select (read)       1: VCOM2 keeps its distance to VCOM1
//   0x38  unlock code 1 (write)
//   0x39  unlock code 2 (write)
//   0x3A  VCOM block, 8 bytes 0x3A..0x41 (read / write)
//   0x3D  VCOM1, byte 3 of the block (read)
//   0x46  program the block into MTP (write)
//   0x48  lock (write)
//   0x49  reset, the end of an unlock (write)
//   0x4A  verdict on the last block write (read; written back after programming)
//   0xF0  pass-through status, 2 bytes (read; the family's bridge check)
constexpr unsigned char kRegVcomSelect = 0x35;
constexpr unsigned char kRegUnlock1 = 0x38;
constexpr unsigned char kRegUnlock2 = 0x39;
constexpr unsigned char kRegBlock = 0x3A;
constexpr unsigned char kRegVcom1 = 0x3D;
constexpr unsigned char kRegProgram = 0x46;
constexpr unsigned char kRegLock = 0x48;
constexpr unsigned char kRegReset = 0x49;
constexpr unsigned char kRegStatus = 0x4A;

constexpr unsigned char kResetCommand = 0x80;
constexpr unsigned char kProgramCommand = 0x80;
constexpr unsigned char kLockCommand = 0x80;
constexpr unsigned char kSelectVcom2Follows = 1;

// VCOM block layout; the CRC covers the bytes before it.
constexpr unsigned int kBlockSize = 8;
constexpr unsigned int kBlockVcom1 = 3;
constexpr unsigned int kBlockVcom2 = 6;
constexpr unsigned int kBlockCrc = 7;

// Verdicts after a block write. Anything else: the block was taken.
constexpr unsigned char kStatusWriteAgain = 0x95;
constexpr unsigned char kStatusProgramAgain = 0x9D;  // save: program, then write again

constexpr useconds_t kReadSettleUs = 15000;
constexpr useconds_t kBlockWriteSettleUs = 70000;
constexpr useconds_t kProgramUs = 500000;

// Every step is sent even after a failed one; only the reset's status counts.
const steps::Step kUnlock[] = {
    steps::write(kRegUnlock1, steps::constant(kUnlock1Command), 0,
                 "INX Vcom bufUnlock1Command error\n\n", steps::OnFail::Continue),
    steps::write(kRegUnlock2, steps::constant(kUnlock2Command), 0,
                 "INX Vcom bufUnlock2Command error\n\n", steps::OnFail::Continue),
    steps::write(kRegReset, steps::constant(kResetCommand), 0, "INX Vcom reset error\n\n",
                 steps::OnFail::Continue),
    steps::wait(kUnlockSettleUs),
};

// Unlock, compose the block over the chip's current one, write it and read
// the chip's verdict. A block that could not be read is never written: the
// attempt is abandoned there and still counts, so the next one unlocks and
// reads afresh.
Attempt writeBlock(VCOMICDriver& driver, const log::Site& at, const Operation&, unsigned char vcom,
                   unsigned char* status)
{
    driver.inx525_unlock();
    unsigned char block[kBlockSize] = {};
    const int composed = driver.inx525_calc_vcom(block, vcom);
    if (composed != 0) {
        VCOM_INFO_AT(at, "inx525_calc_vcom error\n\n");
        return {false, false, composed};
    }
    VCOM_INFO_AT(at, "Optimized VCOM1: 0x%X\n\n", block[kBlockVcom1]);
    VCOM_INFO_AT(at, "Optimized VCOM2: 0x%X\n\n", block[kBlockVcom2]);
    VCOM_INFO_AT(at, "CRC: 0x%X\n\n", block[kBlockCrc]);
    if (driver.writeNumBytes(driver.vcomAddr, regio::kSubAddrBytes, kRegBlock, block, kBlockSize) !=
        0) {
        VCOM_ERR_AT(at, "INX Vcom write data command error\n\n");
    }
    usleep(kBlockWriteSettleUs);
    unsigned char answer = 0;
    const int ret = regio::readReg(driver, kRegStatus, &answer);
    if (ret == 0) {
        *status = answer;
    } else {
        VCOM_ERR_AT(at, "INX Vcom read i2cStatus0 error\n\n");
    }
    return {true, false, ret};
}

// Until the chip has answered, its verdict is "write again": a failed first
// verdict read repeats the attempt instead of passing for success, and no
// block is programmed on a verdict never read.
const Chip kChip = {
    writeBlock,
    kStatusWriteAgain,  // verdict before the first read
    kStatusWriteAgain, kStatusProgramAgain, kRegProgram, kProgramCommand, kProgramUs,
    kRegStatus,  // the verdict is written back where it was read
    kRegLock,          kLockCommand,
};

// Failed transfers are reported and the sequence runs on.
const Operation kUpdate = {
    false,  // no programming
    false,
    "AdjustVcomData_inx525 get i2cStatus[0] 0x",
    "\n\n",
    "INX525 Vcom i2cStatus reset again\n\n",
    "INX Vcom read i2cStatus sucess\n\n",
    {},
    {},
    nullptr,
    {},
};

const Operation kSave = {
    true,  // program, write the verdict back, lock
    false,
    "SaveVcomData_inx525 INX read i2cStatus[0] [0x",
    "]\n\n",
    "INX525 Vcom i2cStatus reset again\n\n",
    "INX Vcom read i2cStatus sucess\n\n",
    {log::kError, false, nullptr},  // a failed program command goes unreported
    {log::kError, false, "INX save Vcom write i2cstatus error\n\n"},
    "INX save Vcom sucess\n\n",
    {log::kError, false, "INX save Vcom lock error\n\n"},
};

}  // namespace

int VCOMICDriver::inx525_unlock()
{
    return steps::run(*this, steps::sequence(kUnlock), nullptr, VCOM_SITE);
}

int VCOMICDriver::inx525_calc_vcom(unsigned char* block, unsigned char value)
{
    // An unreadable select counts as 0: VCOM2 is not moved on a guess.
    unsigned char select = 0;
    unsigned char selectRead = 0;
    if (regio::readReg(*this, kRegVcomSelect, &selectRead) == 0) {
        select = selectRead;
        VCOM_INFO("VCOM Sel: %d\n\n", select);
    }
    usleep(kReadSettleUs);

    unsigned char current[kBlockSize] = {};
    const int ret = readNumBytes(vcomAddr, regio::kSubAddrBytes, kRegBlock, current, kBlockSize);
    if (ret == 0) {
        VCOM_INFO("Initial VCOM1: 0x%X\n\n", current[kBlockVcom1]);
        VCOM_INFO("Initial VCOM2: 0x%X\n\n", current[kBlockVcom2]);
    } else {
        // Whatever a failed read left behind is not the chip's block.
        std::memset(current, 0, sizeof current);
    }
    usleep(kReadSettleUs);

    VCOM_INFO("vcomVal: 0x%X\n\n", value);
    VCOM_INFO("vcomSel: 0x%X\n\n", select);
    std::memcpy(block, current, kBlockSize);
    block[kBlockVcom1] = value;
    if (select == kSelectVcom2Follows) {
        block[kBlockVcom2] =
            static_cast<unsigned char>(current[kBlockVcom2] - current[kBlockVcom1] + value);
    }
    block[kBlockCrc] = inx525_calc_crc(kCrcSeed, block, kBlockCrc);
    return ret;
}

int VCOMICDriver::IC_INX_IN525_Read(unsigned short* value)
{
    inx525_pass_through();
    unsigned char vcom = 0;
    const int ret = regio::readReg(*this, kRegVcom1, &vcom);
    usleep(kReadSettleUs);
    if (ret != 0) {
        VCOM_ERR("read VcomINX read failed \n\n");
        return ret;
    }
    *value = vcom;
    VCOM_INFO("get VcomINX read OK bufVcomData[0] %d \n\n", vcom);
    return 0;
}

// The update reports the last attempt's verdict read; the save, its lock.
int VCOMICDriver::IC_INX_IN525_Updata(unsigned short* value)
{
    inx525_pass_through();
    const int ret =
        runAttempts(*this, VCOM_SITE, kChip, kUpdate, static_cast<unsigned char>(*value)).ret;
    VCOM_INFO("IC_INX_IN525_Updata Vcom INX programme OK.\n\n");
    return ret;
}

int VCOMICDriver::IC_INX_IN525_Save(unsigned short* value)
{
    inx525_pass_through();
    const int ret =
        runAttempts(*this, VCOM_SITE, kChip, kSave, static_cast<unsigned char>(*value)).ret;
    VCOM_INFO("IC_INX_IN525_Save Vcom INX programme OK.\n\n");
    return ret;
}

namespace {

ZE_VCOM_CHIP(kDescriptor) = {
    catalogue::chip::in525.typeIdx,           &VCOMICDriver::IC_INX_IN525_Read,
    &VCOMICDriver::IC_INX_IN525_Updata,       &VCOMICDriver::IC_INX_IN525_Save,
    "[DR_VCOM]VCOM IN525 read success .\n",   "[DR_VCOM]VCOM IN525 read fail .\n",
    "[DR_VCOM]VCOM IN525 Update success .\n", "[DR_VCOM]VCOM IN525 Update fail .\n",
    "[DR_VCOM] IN525 save success .\n",       "[DR_VCOM] IN525 save fail .\n",
};

}  // namespace
}  // namespace ic
}  // namespace ze
