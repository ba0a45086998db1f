// The legacy boot loader (versions below 48): echoed command lines, 'O'/'E' answers, raw
// CRC-checked blocks, burn reports and both dump forms.
//
// Generations by ReceiverConfig::protocolVersion: below 32 the dump is one byte stream ("dump");
// 32 sends packets whose headers carry no CRC ("dump OFFSET SIZE"); 33 to 47 add the header CRCs
// with the PC's 'G'/'H' answer, announce the version in the version reply, and send the total
// length only when the size asked for is 0.
//
// Faults (context.faults) act where the PC can notice them: a downloaded block is corrupted
// before its CRC check; dump headers, packets and the stream are corrupted, dropped, delayed or
// preceded by noise; a dump acknowledgement from the PC is lost. Command answers and burn
// reports stay clean, as neither carries a check the PC could catch a fault with.
#pragma once

#include "sim/receiver.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class LegacyDevice {
public:
    explicit LegacyDevice(DeviceContext& context) : context_(context) {}
    // A whole command line (echoed already, CR included) other than comtest.
    void OnLine(const std::string& line);

private:
    using Arguments = std::vector<std::string>;
    using Handler = void (LegacyDevice::*)(const Arguments& arguments);
    struct Command {
        const char* word;
        Handler handler;
    };
    static const Command kCommands[];

    void Version(const Arguments& arguments);
    void Address(const Arguments& arguments);
    void Move(const Arguments& arguments);
    void TransferRaw(const Arguments& arguments);
    void Burn(const Arguments& arguments);
    void Dump(const Arguments& arguments);
    void Reboot(const Arguments& arguments);

    void DumpStream();
    void DumpPackets(uint32_t offset, uint32_t total);
    // Sends packet `index` once the PC has asked for it; false when the PC went away.
    bool OfferPacket(uint32_t index, const uint8_t* data, uint32_t length, bool headerCrcs);
    enum class Ack { Taken, Refused, Gone };
    Ack ReadAcknowledgement(uint32_t index);

    void Answer(uint8_t letter);
    bool ReadExact(uint8_t* destination, size_t count, PtyLink::Clock::duration wait);
    // Skips bytes until `letter` arrives; false on time-out.
    bool WaitFor(uint8_t letter);
    int32_t Generation() const { return context_.config.protocolVersion; }

    DeviceContext& context_;
};

}  // namespace sim
