// The legacy boot loader (versions below 48): echoed command lines, 'O'/'E' answers, raw
// CRC-checked blocks, burn reports and both dump forms.
#pragma once

#include "sim/receiver.h"

#include <string>

namespace sim {

class LegacyDevice {
public:
    explicit LegacyDevice(DeviceContext& context) : context_(context) {}
    // A whole command line (echoed already, CR included) other than comtest.
    void OnLine(const std::string& line);

private:
    DeviceContext& context_;
};

}  // namespace sim
