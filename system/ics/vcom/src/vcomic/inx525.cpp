#include <unistd.h>

#include <cstring>

#include "VCOMICdriver.h"
#include "inx_common.h"
#include "reg_io.h"
#include "vcom_log.h"

namespace ze {
namespace ic {

using namespace inx;

namespace {

// IN525 registers.
constexpr unsigned char kRegVcomSelect = 0x35;
constexpr unsigned char kRegBlock = 0x3A;  // 8-byte VCOM block, 0x3A..0x41
constexpr unsigned char kRegVcom1 = 0x3D;
constexpr unsigned char kRegProgram = 0x46;
constexpr unsigned char kRegLock = 0x48;
constexpr unsigned char kRegStatus = 0x4A;

// VCOM block layout; the CRC covers the bytes before it.
constexpr unsigned int kBlockSize = 8;
constexpr unsigned int kBlockVcom1 = 3;
constexpr unsigned int kBlockVcom2 = 6;
constexpr unsigned int kBlockCrc = 7;

// VCOM select 1: VCOM2 keeps its distance to VCOM1.
constexpr unsigned char kSelectVcom2Follows = 1;

constexpr unsigned char kProgramCommand = 0x80;
constexpr unsigned char kLockCommand = 0x80;

// Status after a block write. Anything else: the block was taken.
constexpr unsigned char kStatusWriteAgain = 0x95;
constexpr unsigned char kStatusProgramAgain = 0x9D;  // save: program, then write again

constexpr int kWriteAttempts = 5;

constexpr useconds_t kReadSettleUs = 15000;
constexpr useconds_t kBlockWriteSettleUs = 70000;
constexpr useconds_t kProgramUs = 500000;
constexpr useconds_t kFinishSettleUs = 20000;

struct Attempt {
    bool written;  // false: the block could not be read, nothing was written
    int ret;       // the status read's result, or the failed block read's
};

// Unlock, compose the block over the chip's current one, write it and read
// the chip's verdict into `status`. A block that could not be read is never
// written: the attempt is abandoned there and still counts as one of the
// five, so the next one unlocks and reads afresh.
Attempt writeBlock(const log::Site& site, VCOMICDriver& driver, unsigned char vcom,
                   unsigned char* status)
{
    driver.inx525_unlock();
    unsigned char block[kBlockSize] = {};
    const int composed = driver.inx525_calc_vcom(block, vcom);
    if (composed != 0) {
        VCOM_INFO_AT(site, "inx525_calc_vcom error\n\n");
        return {false, composed};
    }
    VCOM_INFO_AT(site, "Optimized VCOM1: 0x%X\n\n", block[kBlockVcom1]);
    VCOM_INFO_AT(site, "Optimized VCOM2: 0x%X\n\n", block[kBlockVcom2]);
    VCOM_INFO_AT(site, "CRC: 0x%X\n\n", block[kBlockCrc]);
    if (driver.writeNumBytes(driver.vcomAddr, regio::kSubAddrBytes, kRegBlock, block, kBlockSize) !=
        0) {
        VCOM_ERR_AT(site, "INX Vcom write data command error\n\n");
    }
    usleep(kBlockWriteSettleUs);
    unsigned char answer = 0;
    const int ret = regio::readReg(driver, kRegStatus, &answer);
    if (ret == 0) {
        *status = answer;
    } else {
        VCOM_ERR_AT(site, "INX Vcom read i2cStatus0 error\n\n");
    }
    return {true, ret};
}

}  // namespace

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

int VCOMICDriver::IC_INX_IN525_Updata(unsigned short* value)
{
    inx525_pass_through();
    const unsigned char vcom = static_cast<unsigned char>(*value);
    // Until the chip has answered, its verdict is "write again": a failed
    // first status read repeats the attempt instead of passing for success.
    unsigned char status = kStatusWriteAgain;
    // The last attempt's status read, or the block read that abandoned it.
    int ret = 0;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const Attempt done = writeBlock(VCOM_SITE, *this, vcom, &status);
        ret = done.ret;
        if (!done.written) continue;
        VCOM_INFO("AdjustVcomData_inx525 get i2cStatus[0] 0x%x\n\n", status);
        if (status != kStatusWriteAgain) {
            VCOM_INFO("INX Vcom read i2cStatus sucess\n\n");
            break;
        }
        VCOM_INFO("INX525 Vcom i2cStatus reset again\n\n");
    }
    usleep(kFinishSettleUs);
    VCOM_INFO("IC_INX_IN525_Updata Vcom INX programme OK.\n\n");
    return ret;
}

int VCOMICDriver::IC_INX_IN525_Save(unsigned short* value)
{
    inx525_pass_through();
    const unsigned char vcom = static_cast<unsigned char>(*value);
    // As in the update: no block is programmed on a verdict never read.
    unsigned char status = kStatusWriteAgain;
    for (int attempt = 0; attempt < kWriteAttempts; ++attempt) {
        const Attempt done = writeBlock(VCOM_SITE, *this, vcom, &status);
        if (!done.written) continue;
        VCOM_INFO("SaveVcomData_inx525 INX read i2cStatus[0] [0x%x]\n\n", status);
        if (status == kStatusWriteAgain) {
            VCOM_INFO("INX525 Vcom i2cStatus reset again\n\n");
            continue;
        }
        VCOM_INFO("INX Vcom read i2cStatus sucess\n\n");
        regio::writeReg(*this, kRegProgram, kProgramCommand);
        usleep(kProgramUs);
        if (regio::writeReg(*this, kRegStatus, status) != 0) {
            VCOM_ERR("INX save Vcom write i2cstatus error\n\n");
        }
        if (status == kStatusProgramAgain) continue;
        VCOM_INFO("INX save Vcom sucess\n\n");
        break;
    }
    const int ret = regio::writeReg(*this, kRegLock, kLockCommand);
    if (ret != 0) {
        VCOM_ERR("INX save Vcom lock error\n\n");
    }
    usleep(kFinishSettleUs);
    VCOM_INFO("IC_INX_IN525_Save Vcom INX programme OK.\n\n");
    return ret;
}

}  // namespace ic
}  // namespace ze
