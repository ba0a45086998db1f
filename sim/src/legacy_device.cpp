#include "legacy_device.h"

namespace sim {

void LegacyDevice::OnLine(const std::string& line)
{
    // A command this boot loader does not know is refused.
    (void)line;
    context_.link.Write(std::string("E"));
}

}  // namespace sim
