// The packet-protocol boot loader (version 48 and above): commands, transfers, burn and dumps
// in "HEAD" packets.
#pragma once

#include "sim/receiver.h"

namespace sim {

class Proto3Device {
public:
    explicit Proto3Device(DeviceContext& context) : context_(context) {}
    // A packet that arrived outside any exchange the device is running.
    void OnPacket(const Packet& packet);

private:
    DeviceContext& context_;
};

}  // namespace sim
