#pragma once
// One I2C bus reached through its i2c-dev node.

#include <cstdint>
#include <string>

#include <qel/soc.h>
#include <ze/platform/linux_backend.h>

union i2c_smbus_data;

namespace ze {
namespace platform {
namespace hw {

// Transfers go as I2C_RDWR messages when the adapter is a full I2C master,
// otherwise as the SMBus transaction that puts the same bytes on the wire.
// Not thread-safe.
class I2cBus {
public:
    I2cBus(SystemCalls& calls, unsigned int number);
    ~I2cBus();
    I2cBus(const I2cBus&) = delete;
    I2cBus& operator=(const I2cBus&) = delete;

    // Opens the node and reads what the adapter supports; a no-op once open.
    int open();
    int write(const I2cTarget& target, const std::uint8_t* data, unsigned int length);
    int read(const I2cTarget& target, std::uint8_t* buffer, unsigned int length);
    // The transaction the last write or read handed to the kernel: "I2C_RDWR"
    // or the SMBus call ("smbus-write-byte-data", ...); "" when none was.
    const char* lastTransaction() const { return transaction_; }

private:
    struct Transfer;

    int transfer(const Transfer& t);
    int transferI2c(const Transfer& t);
    int transferSmbus(const Transfer& t);
    int smbusRead(const Transfer& t);
    int smbusWrite(const Transfer& t);
    int smbusAccess(const Transfer& t, std::uint8_t readWrite, std::uint8_t command,
                    std::uint32_t size, i2c_smbus_data* data, unsigned long function,
                    const char* transaction);
    int selectDevice(const Transfer& t);
    bool supports(unsigned long function) const { return (functions_ & function) == function; }
    int fail(const Transfer& t, int status, const char* hint) const;

    SystemCalls& calls_;
    const unsigned int number_;
    const std::string path_;
    int fd_ = -1;
    unsigned long functions_ = 0;  // I2C_FUNC_* of the adapter
    int selected_ = -1;            // 7-bit address last set with I2C_SLAVE
    const char* transaction_ = "";
};

}  // namespace hw
}  // namespace platform
}  // namespace ze
