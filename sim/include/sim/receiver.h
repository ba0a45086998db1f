// A simulated receiver: the boot loader's side of every exchange, on a pseudo-terminal.
//
// The boot loader reads command lines and echoes every byte. "comtest N\r" followed by N
// banner bytes is answered with the same bytes (legacy boot loader) or with their complements
// (packet-protocol boot loader, version 48 and above); from then on a packet-protocol boot
// loader also takes "HEAD" packets, while bytes outside packets are still read as line input,
// so a later handshake works on either generation.
#pragma once

#include "sim/pty_link.h"
#include "sim/wire.h"

#include <atomic>
#include <cstdint>
#include <deque>
#include <mutex>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace sim {

// Misbehaviour for one command line of the handshake.
enum class HandshakeFault {
    None,
    Silence,     // echo nothing, answer nothing
    WrongEcho,   // echo the line's first byte wrongly
    ShortReply,  // answer the banner with one byte too few
    OneByteOff,  // answer the banner with one byte changed
    Noise,       // answer the banner with random bytes
};

struct ReceiverConfig {
    // What the handshake reveals: below 48 the banner is echoed, from 48 on complemented.
    int32_t protocolVersion = 48;
    // Pacing of both directions; 0 runs as fast as the pty goes.
    uint32_t baudRate = 0;
    // Start bit, 8 data bits, parity, one stop bit.
    uint32_t bitsPerByte = 11;
    // Applied to the command lines received, one each, in order; then every line is answered.
    std::vector<HandshakeFault> handshakeFaults;
    uint64_t seed = 1;
};

class Receiver {
public:
    explicit Receiver(ReceiverConfig config = {});
    ~Receiver();
    Receiver(const Receiver&) = delete;
    Receiver& operator=(const Receiver&) = delete;

    bool Start(std::string* error = nullptr);
    void Stop();
    const std::string& DevicePath() const { return link_.SlavePath(); }
    PtyLink& Link() { return link_; }

    // Command lines as received (CR included) and the texts of command packets, in order.
    std::vector<std::string> Commands() const;
    // Every byte the device read, in order.
    std::vector<uint8_t> ReceivedBytes() const;
    int HandshakesAnswered() const { return handshakes_.load(); }

private:
    enum class Mode { Lines, Packets };

    void Run();
    void OnLineByte(uint8_t byte);
    void OnLine(const std::string& line);
    void AnswerComtest(size_t bannerLength, HandshakeFault fault);
    void OnPacket(const Packet& packet);
    void Record(const std::string& command);
    void Write(const std::vector<uint8_t>& bytes) { link_.Write(bytes); }

    ReceiverConfig config_;
    PtyLink link_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mt19937_64 random_;

    Mode mode_ = Mode::Lines;
    std::string line_;
    HandshakeFault lineFault_ = HandshakeFault::None;
    std::deque<HandshakeFault> faults_;
    std::atomic<int> handshakes_{0};

    mutable std::mutex recordMutex_;
    std::vector<std::string> commands_;
    std::vector<uint8_t> received_;
};

}  // namespace sim
