#include "VCOMICdriver.h"

#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <utility>

#include <qel/soc.h>
#include <tvconfig/configutil.h>

#include "chip_ops.h"
#include "vcom_log.h"

// Bounds of the chip descriptors' section, set by the linker.
extern "C" {
extern const ze::ic::ChipOps __start_ze_vcom_chips[] __attribute__((visibility("hidden")));
extern const ze::ic::ChipOps __stop_ze_vcom_chips[] __attribute__((visibility("hidden")));
}

namespace ze {
namespace ic {
namespace {

using log::kTag;

// Board configuration.
constexpr const char* kBoardIniPath = "/obdata/model/config/board.ini";
constexpr const char* kVcomSection = "[VCOM]";
constexpr int kIniValueSize = 256;

// Transport.
constexpr useconds_t kTransferPauseUs = 1000;

// I2C switch: a fixed GPIO, not the chips' programming GPIO.
constexpr unsigned int kI2cSwitchGpio = 0;
constexpr unsigned char kI2cSwitchPresent = 1;

// Free-run setting in force before the VCOM pattern went on; one per process.
int savedFreerunVfreq = 0;

// strtoul with base 0, pinned to 32 bits whatever the width of unsigned long:
// a minus sign negates modulo 2^32 and a magnitude beyond 32 bits saturates.
std::uint32_t parseConfigNumber(const char* text)
{
    const char* p = text;
    while (std::isspace(static_cast<unsigned char>(*p))) ++p;
    bool negative = false;
    if (*p == '+' || *p == '-') {
        negative = *p == '-';
        ++p;
        if (std::isspace(static_cast<unsigned char>(*p)) || *p == '+' || *p == '-') return 0;
    }
    errno = 0;
    const unsigned long long magnitude = std::strtoull(p, nullptr, 0);
    if (errno == ERANGE || magnitude > UINT32_MAX) return UINT32_MAX;
    const std::uint32_t value = static_cast<std::uint32_t>(magnitude);
    return negative ? static_cast<std::uint32_t>(0u - value) : value;
}

// One key of the "[VCOM]" section: where it goes and what it is without the file.
struct ConfigKey {
    const char* name;
    std::uint32_t defaultValue;
    bool requiredForSuccess;
    // Stores the value in its field; returns the stored value as printed.
    int (*store)(VCOMICDriver& driver, std::uint32_t value);
};

// clang-format off
const ConfigKey kConfigKeys[] = {
    {"TypeIdx", 1, true,
     [](VCOMICDriver& d, std::uint32_t v) { return d.typeIdx = static_cast<int>(v); }},
    {"I2cBus", 1, true,
     [](VCOMICDriver& d, std::uint32_t v) { return int{d.i2cBus = static_cast<unsigned char>(v)}; }},
    {"VcomAddr", 0xE8, true,
     [](VCOMICDriver& d, std::uint32_t v) { return int{d.vcomAddr = static_cast<unsigned char>(v)}; }},
    {"GpioAddr", 0xA8, true,
     [](VCOMICDriver& d, std::uint32_t v) { return int{d.gpioAddr = static_cast<unsigned char>(v)}; }},
    {"GpioStatus", 1, true,
     [](VCOMICDriver& d, std::uint32_t v) { return static_cast<int>(d.gpioStatus = v); }},
    {"LdmFlag", 0, true,
     [](VCOMICDriver& d, std::uint32_t v) { return int{d.ldmFlag = static_cast<unsigned char>(v)}; }},
    {"I2cSwitchType", 0, false,
     [](VCOMICDriver& d, std::uint32_t v) {
         return int{d.i2cSwitchType = static_cast<unsigned char>(v)};
     }},
};
// clang-format on

I2cTarget makeTarget(unsigned char devAddr, unsigned char regAddrCount, unsigned int subAddr)
{
    I2cTarget target;
    std::memset(&target, 0, sizeof target);
    target.devAddr = devAddr;
    target.subAddrLen = regAddrCount;
    target.subAddr = static_cast<unsigned char>(subAddr & 0xFFu);
    return target;
}

// Update and save differ only in the routine, the outcome messages, and
// whether an unsupported chip is reported.
struct WriteOperation {
    ChipRoutine ChipOps::*routine;
    const char* ChipOps::*ok;
    const char* ChipOps::*fail;
    bool reportUnsupported;
};

constexpr WriteOperation kUpdate = {&ChipOps::update, &ChipOps::updateOk, &ChipOps::updateFail,
                                    false};
constexpr WriteOperation kSave = {&ChipOps::save, &ChipOps::saveOk, &ChipOps::saveFail, true};

int runWriteOperation(VCOMICDriver& driver, unsigned short value, const WriteOperation& op,
                      const log::Site& at)
{
    if (driver.configLoaded == 0) {
        VCOM_ERR_AT(at, "[vcom][error] get data separation error !\n");
        return 0;
    }
    // The routine gets a copy: what it does to the value does not reach the caller.
    unsigned short vcom = value;
    int ret = -1;
    driver.Set_I2c_Switch(1);
    if (const ChipOps* chip = findChip(driver.typeIdx)) {
        ret = (driver.*(chip->*op.routine))(&vcom);
        if (ret == 0) {
            VCOM_INFO_AT(at, "%s", chip->*op.ok);
        } else {
            VCOM_ERR_AT(at, "%s", chip->*op.fail);
        }
    } else if (op.reportUnsupported) {
        VCOM_INFO_AT(at, "[DR_VCOM]Please choice the vcom IC.\n");
    }
    driver.Set_I2c_Switch(0);
    return ret;
}

// A read parses the board file again first, and reports a chip it does not
// know rather than failing it.
int runRead(VCOMICDriver& driver, unsigned short* value, const log::Site& at)
{
    const int parsed = driver.Get_Vcom_DataSeparation();
    if (parsed != 0) {
        VCOM_ERR_AT(at, "[vcom][INIT] get data separation error,error code is %d!\n", parsed);
    }
    int ret = -ENODEV;
    driver.Set_I2c_Switch(1);
    if (const ChipOps* chip = findChip(driver.typeIdx)) {
        ret = (driver.*(chip->read))(value);
        if (ret == 0) {
            VCOM_INFO_AT(at, "%s", chip->readOk);
        } else {
            VCOM_ERR_AT(at, "%s", chip->readFail);
        }
    } else {
        VCOM_INFO_AT(at, "[DR_VCOM]Please choice the vcom IC.\n");
    }
    driver.Set_I2c_Switch(0);
    return ret;
}

enum class Direction { Write, Read };

// Every chip register access: a 1 ms pause, then one SoC call on the
// driver's bus. A failure is reported with all its arguments, in the name of
// writeNumBytes or readNumBytes.
int transfer(const VCOMICDriver& driver, Direction direction, unsigned char u8devAddr,
             unsigned char regAddrCount, unsigned int u32SubAddr, unsigned char* pBuf,
             unsigned int length, const log::Site& at)
{
    if (pBuf == nullptr) {
        VCOM_ERR_AT(at, "[%s] pBuf is null!!\n", kTag);
        return -1;
    }
    I2cTarget target = makeTarget(u8devAddr, regAddrCount, u32SubAddr);
    unsigned int flags = 0;
    usleep(kTransferPauseUs);
    const unsigned char bus = driver.i2cBus;
    if (direction == Direction::Write) {
        const int ret = QEL_I2CWrite(bus, &target, pBuf, length, &flags);
        if (ret != 0) {
            VCOM_ERR_AT(at, "[%s] I2C write fail, u8devAddr = 0x%0x.\n", kTag, u8devAddr);
            VCOM_ERR_AT(at, "[%s] I2C write fail, iic_bus = 0x%0x.\n", kTag, bus);
            VCOM_ERR_AT(at, "[%s] I2C write fail, u32SubAddr = 0x%0x.\n", kTag, u32SubAddr);
            VCOM_ERR_AT(at, "[%s] I2C write fail, regAddrCount = 0x%0x.\n", kTag, regAddrCount);
            VCOM_ERR_AT(at, "[%s] I2C write fail, value = 0x%0x.\n", kTag, pBuf[0]);
            VCOM_ERR_AT(at, "[%s] QEL_I2CWrite fail, ret = %d.\n", kTag, ret);
        }
        return ret;
    }
    const int ret = QEL_I2CRead(bus, &target, length, pBuf, &flags);
    if (ret != 0) {
        VCOM_ERR_AT(at, "[%s] I2C read fail u8devAddr = 0x%0x.\n", kTag, u8devAddr);
        VCOM_ERR_AT(at, "[%s] I2C read fail, iic_bus = 0x%0x.\n", kTag, bus);
        VCOM_ERR_AT(at, "[%s] I2C read fail, u32SubAddr = 0x%0x.\n", kTag, u32SubAddr);
        VCOM_ERR_AT(at, "[%s] I2C read fail, regAddrCount = 0x%0x.\n", kTag, regAddrCount);
        VCOM_ERR_AT(at, "[%s] QEL_I2CRead fail, ret = %d.\n", kTag, ret);
    }
    return ret;
}

}  // namespace

const ChipOps* findChip(int typeIdx)
{
    for (const ChipOps* chip = __start_ze_vcom_chips; chip != __stop_ze_vcom_chips; ++chip) {
        if (chip->typeIdx == typeIdx) return chip;
    }
    return nullptr;
}

VCOMICDriver::VCOMICDriver(int id, boost::shared_ptr<ze::hal::IIC> i2cDriver)
    : typeIdx(0),
      driverId(id),
      i2cBus(0),
      vcomAddr(0),
      gpioAddr(0),
      gpioStatus(0),
      ldmFlag(0),
      i2cSwitchType(0),
      configLoaded(0),
      iic(std::move(i2cDriver))
{
}

VCOMICDriver::~VCOMICDriver() = default;

void VCOMICDriver::reserved1() {}

void VCOMICDriver::reserved2() {}

int VCOMICDriver::init()
{
    const int ret = VCOMIC_init();
    if (ret == 0) {
        VCOM_INFO("Succeed to triggering initialization of VCOMIC driver!\n");
        return 0;
    }
    VCOM_ERR("Fail to triggering initialization of VCOMIC driver,error code is %d!\n", ret);
    return ret;
}

int VCOMICDriver::VCOMIC_init()
{
    // A missing key leaves its default; the bus is opened regardless.
    Get_Vcom_DataSeparation();
    const int ret = QEL_I2COpen(i2cBus, QEL_I2C_MODE_DEFAULT);
    if (ret != 0) {
        VCOM_ERR("[%s] QEL_I2COpen %d failed!\n", kTag, i2cBus);
    }
    return ret;
}

int VCOMICDriver::Get_Vcom_DataSeparation()
{
    configLoaded = 0;
    char value[kIniValueSize];
    std::memset(value, 0, sizeof value);
    int result = 0;
    for (const ConfigKey& key : kConfigKeys) {
        const int found = tvConfig::ConfigUtil::instance()->getIniValue(
            kBoardIniPath, kVcomSection, key.name, value, kIniValueSize);
        if (found != 0) {
            const int stored = key.store(*this, parseConfigNumber(value));
            VCOM_INFO("[vcom][%s] is '%d' !\n\n", key.name, stored);
        } else {
            key.store(*this, key.defaultValue);
            VCOM_ERR("[vcom][%s] get data separation error !\n", key.name);
            if (key.requiredForSuccess) result = -1;
        }
    }
    configLoaded = 1;
    return result;
}

int VCOMICDriver::writeNumBytes(unsigned char u8devAddr, unsigned char regAddrCount,
                                unsigned int u32SubAddr, unsigned char* pBuf, unsigned int length)
{
    return transfer(*this, Direction::Write, u8devAddr, regAddrCount, u32SubAddr, pBuf, length,
                    VCOM_SITE);
}

int VCOMICDriver::readNumBytes(unsigned char u8devAddr, unsigned char regAddrCount,
                               unsigned int u32SubAddr, unsigned char* pBuf, unsigned int length)
{
    return transfer(*this, Direction::Read, u8devAddr, regAddrCount, u32SubAddr, pBuf, length,
                    VCOM_SITE);
}

int VCOMICDriver::Set_I2c_Switch(unsigned char on)
{
    if (i2cSwitchType != kI2cSwitchPresent) return 0;
    const int ret = QEL_GPIOSetValue(kI2cSwitchGpio, on != 0 ? 1u : 0u);
    if (ret != 0) {
        VCOM_ERR("[DR_VCOM]setGpio fail.\n");
    }
    return ret;
}

int VCOMICDriver::readVcom(unsigned short* value)
{
    return runRead(*this, value, VCOM_SITE);
}

unsigned short VCOMICDriver::u1DrvReadVcom()
{
    unsigned short value = 0;
    runRead(*this, &value, VCOM_SITE);
    return value;
}

int VCOMICDriver::u1DrvUpdataVcom(unsigned short value)
{
    return runWriteOperation(*this, value, kUpdate, VCOM_SITE);
}

int VCOMICDriver::u1DrvSaveVcom(unsigned short value)
{
    return runWriteOperation(*this, value, kSave, VCOM_SITE);
}

int VCOMICDriver::Get_Vcom_bmp(const char* /*name*/, unsigned char patternOn)
{
    if (patternOn != 0) {
        QEL_DisplayGetFreerunVfreq(&savedFreerunVfreq);
        if (QEL_DisplaySetFreerunVfreq(QEL_FREERUN_VFREQ_60HZ) != 0) {
            VCOM_ERR("[DR_VCOM] Set Freerun Vfreq 60Hz Fail\n\n");
        }
        VCOM_INFO("[DR_VCOM] Set Vcom Pattern 1, Get Freerun Vfreq %d\n\n", savedFreerunVfreq);
    } else {
        VCOM_INFO("[DR_VCOM] Set Vcom Pattern 0, Set Freerun Vfreq %d\n\n", savedFreerunVfreq);
        if (QEL_DisplaySetFreerunVfreq(savedFreerunVfreq) != 0) {
            VCOM_ERR("[DR_VCOM] Set Freerun Vfreq %d Fail\n\n", savedFreerunVfreq);
        }
    }
    return 1;
}

}  // namespace ic
}  // namespace ze
