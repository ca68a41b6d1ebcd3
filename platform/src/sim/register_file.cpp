#include <ze/sim/register_file.h>

namespace ze {
namespace sim {

RegisterFile::RegisterFile() = default;

int RegisterFile::write(const std::uint8_t* bytes, std::size_t count)
{
    // An address-only write phase (e.g. a probe) is acknowledged and changes nothing.
    if (count == 0) return 0;
    pointer_ = bytes[0];
    for (std::size_t i = 1; i < count; ++i) regs_[pointer_++] = bytes[i];
    return 0;
}

int RegisterFile::read(std::uint8_t* out, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) out[i] = regs_[pointer_++];
    return 0;
}

}  // namespace sim
}  // namespace ze
