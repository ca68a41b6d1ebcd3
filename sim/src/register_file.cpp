#include <ze/sim/register_file.h>

#include <algorithm>

#include "models/state_io.h"

namespace ze {
namespace sim {

RegisterFile::RegisterFile() = default;

int RegisterFile::write(const std::uint8_t* bytes, std::size_t count)
{
    if (count == 0) return 0;
    const std::uint8_t* data = bytes + 1;
    const std::size_t dataCount = count - 1;
    if (const int status = checkWrite(bytes[0], data, dataCount)) return status;
    pointer_ = bytes[0];
    for (std::size_t i = 0; i < dataCount; ++i, ++pointer_) {
        if (const int status = store(pointer_, data[i])) return status;
    }
    return 0;
}

int RegisterFile::read(std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i, ++pointer_) {
        if (const int status = load(pointer_, &out[i])) return status;
    }
    return 0;
}

int RegisterFile::checkWrite(std::uint8_t, const std::uint8_t*, std::size_t)
{
    return 0;
}

int RegisterFile::store(std::uint8_t address, std::uint8_t value)
{
    regs_[address] = value;
    return 0;
}

int RegisterFile::load(std::uint8_t address, std::uint8_t* value)
{
    *value = regs_[address];
    return 0;
}

RegisterChip::RegisterChip(std::uint8_t nvmFirst, std::uint8_t nvmCount)
    : nvmFirst_(nvmFirst), nvmCount_(nvmCount)
{
}

ModelState RegisterChip::state() const
{
    return {{"regs", detail::bytesOf(regs_)}, {"nvm", detail::bytesOf(nvm_)}};
}

bool RegisterChip::restore(const ModelState& state)
{
    if (!detail::fits<sizeof(Registers)>(state, "regs") ||
        !detail::fits<sizeof(Registers)>(state, "nvm")) {
        return false;
    }
    detail::take(state, "regs", &regs_);
    detail::take(state, "nvm", &nvm_);
    return true;
}

void RegisterChip::powerCycle()
{
    reloadNvm();
    pointer_ = 0;
}

void RegisterChip::programNvm()
{
    std::copy_n(regs_.begin() + nvmFirst_, nvmCount_, nvm_.begin() + nvmFirst_);
}

void RegisterChip::reloadNvm()
{
    std::copy_n(nvm_.begin() + nvmFirst_, nvmCount_, regs_.begin() + nvmFirst_);
}

}  // namespace sim
}  // namespace ze
