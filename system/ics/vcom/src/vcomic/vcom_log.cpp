#include "vcom_log.h"

namespace ze {
namespace ic {
namespace log {

bool enabled(std::uint32_t level)
{
    const DebugLevelDescriptor descriptor = {(kCategory << 16) | level, 0, 0};
    return qorDebugCheckLevelGetFrameAndChunk(&descriptor) != 0;
}

}  // namespace log
}  // namespace ic
}  // namespace ze
