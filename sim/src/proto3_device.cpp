#include "proto3_device.h"

namespace sim {

namespace {
constexpr uint32_t kUnknownCommand = 0x10000;  // the boot loader's "command line check error"
}

void Proto3Device::OnPacket(const Packet& packet)
{
    if (packet.type != wire::Command) {
        return;
    }
    context_.record(packet.Text());
    context_.link.Write(EncodeResponse(packet.id, packet.seq, wire::Error, kUnknownCommand));
}

}  // namespace sim
