// The packet-protocol boot loader (version 48 and above): commands, transfers, burn and dumps
// in "HEAD" packets.
#pragma once

#include "sim/receiver.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

class Proto3Device {
public:
    explicit Proto3Device(DeviceContext& context) : context_(context) {}
    // A packet that arrived in packet mode.
    void OnPacket(const Packet& packet);

private:
    using Words = std::vector<std::string>;
    using Handler = void (Proto3Device::*)(const Packet&, const Words&);
    struct CommandRow {
        const char* word;
        Handler handler;
    };
    static const CommandRow kCommands[];

    // A download in progress, or the last one (for answers that got lost on the way).
    struct Download {
        uint32_t id = 0;
        bool open = false;            // accepting data packets
        bool compressed = false;
        uint32_t size = 0;            // bytes once unpacked
        uint32_t onWire = 0;          // bytes that travel
        std::vector<uint8_t> bytes;
        uint32_t lastNumber = 0;      // highest data packet stored
        uint32_t failure = 0;         // receiver code it ended with, 0 when none
    };
    struct Dump {
        uint32_t id = 0;
        bool open = false;
        uint32_t offset = 0;
        uint32_t total = 0;
    };

    void OnCommand(const Packet& packet);
    void OnData(const Packet& packet);
    void OnRequest(const Packet& packet);
    void OnResponse(const Packet& packet);

    void Version(const Packet& packet, const Words& words);
    void Chunk(const Packet& packet, const Words& words);
    void Address(const Packet& packet, const Words& words);
    void Move(const Packet& packet, const Words& words);
    void Transfer(const Packet& packet, const Words& words);
    void Burn(const Packet& packet, const Words& words);
    void DumpCommand(const Packet& packet, const Words& words);
    void Reboot(const Packet& packet, const Words& words);

    // The answer to the command just executed; a repeat of the command (same id and text, as
    // the PC sends when an answer got lost) gets it again instead of running it twice.
    void AnswerCommand(const Packet& command, uint8_t type, std::vector<uint8_t> payload);
    void RespondToCommand(const Packet& command, uint8_t status, uint32_t value);
    // Answers outside a command: acknowledgements, dump data.
    void Send(std::vector<uint8_t> bytes);
    void Acknowledge(const Packet& packet, uint32_t number);
    void Respond(const Packet& packet, uint8_t status, uint32_t value);
    void FinishDownload(const Packet& last);
    // Burn reports go out without line faults: a lost last report costs the PC its minute-long
    // give-up wait, which the tests of that path cover on their own.
    void Report(uint32_t id, uint8_t seq, uint32_t number, const std::string& text);
    // Waits between burn reports, answering a repeated burn command with busy.
    void ListenWhileBurning(uint32_t burnId, std::chrono::milliseconds interval);

    DeviceContext& context_;
    bool haveLast_ = false;
    uint32_t lastId_ = 0;
    std::string lastText_;
    uint8_t lastType_ = 0;
    std::vector<uint8_t> lastPayload_;
    Download download_;
    Dump dump_;
    std::vector<uint8_t> lateAck_;
};

}  // namespace sim
