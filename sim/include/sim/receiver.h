// A simulated receiver: the boot loader's side of every exchange, on a pseudo-terminal.
//
// The boot loader reads command lines and echoes every byte. "comtest N\r" followed by N
// banner bytes is answered with the same bytes (legacy boot loader) or with their complements
// (packet-protocol boot loader, version 48 and above); from then on a packet-protocol boot
// loader also takes "HEAD" packets, while bytes outside packets are still read as line input,
// so a later handshake works on either generation.
#pragma once

#include "sim/faults.h"
#include "sim/flash.h"
#include "sim/pty_link.h"
#include "sim/wire.h"

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
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

// Faults on the line after the handshake, drawn from the receiver's seed so that a run can be
// repeated exactly. Each is a probability per packet, block or answer the device handles.
struct LineFaults {
    double corrupt = 0;           // flip a bit in what the device sends
    double drop = 0;              // lose what the PC sent, or the device's answer
    double delay = 0;             // answer after delayMs
    uint32_t delayMs = 0;
    double noise = 0;             // random bytes before an answer
    double lateDuplicateAck = 0;  // packet protocol: repeat an earlier acknowledgement later

    bool Any() const { return corrupt > 0 || drop > 0 || delay > 0 || noise > 0 || lateDuplicateAck > 0; }
};

// How the boot loader burns: progress reports of so many KiB at a time, spaced in time.
struct BurnBehaviour {
    uint32_t kibPerReport = 256;
    std::chrono::milliseconds reportInterval{1};
    bool fail = false;       // end with a failure report instead of finishing
    uint32_t busyEvery = 0;  // packet protocol: a busy response after every n reports (0: none)
    bool endWithDone = false;  // packet protocol: end with a done response instead of an 'F' report
};

struct ReceiverConfig {
    // What the handshake reveals: below 48 the banner is echoed, from 48 on complemented. Also
    // the version the boot loader reports, and for the legacy generations the dump form.
    int32_t protocolVersion = 48;
    // Whole flash contents; empty gives the sample 2 MiB layout (sim/image.h).
    std::vector<uint8_t> flash;
    // The first byte of the chunk-table answer (5: 2 MiB) and the byte after it.
    uint8_t flashSizeCode = 5;
    uint8_t flashAux = 0;
    LineFaults faults;
    BurnBehaviour burn;
    // Pacing of both directions; 0 runs as fast as the pty goes.
    uint32_t baudRate = 0;
    // Start bit, 8 data bits, parity, one stop bit.
    uint32_t bitsPerByte = 11;
    // Applied to the command lines received, one each, in order; then every line is answered.
    std::vector<HandshakeFault> handshakeFaults;
    uint64_t seed = 1;
};

class Proto3Device;
class LegacyDevice;

// What the generation-specific fronts share with the core.
struct DeviceContext {
    PtyLink& link;
    Flash& flash;
    const ReceiverConfig& config;
    std::mt19937_64& random;
    // Faults for answers (faults.Send) and for what arrives (faults.Drop and friends).
    FaultInjector& faults;
    // Adds a command to the record.
    std::function<void(const std::string&)> record;
    // False once the receiver is being stopped.
    std::function<bool()> running;
    // The boot loader restarts: back to reading command lines, waiting for a handshake.
    std::function<void()> reboot;
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
    // A copy of the flash as it is now (after the last burn).
    std::vector<uint8_t> FlashContents() const;
    // Line faults injected so far, to check that a run under faults met some.
    uint64_t FaultsInjected() const { return faults_.Injected(); }

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
    Flash flash_;
    std::thread thread_;
    std::atomic<bool> running_{false};
    std::mt19937_64 random_;

    Mode mode_ = Mode::Lines;
    std::string line_;
    HandshakeFault lineFault_ = HandshakeFault::None;
    std::deque<HandshakeFault> handshakeFaults_;
    std::atomic<int> handshakes_{0};

    FaultInjector faults_;
    DeviceContext context_;
    std::unique_ptr<Proto3Device> proto3_;
    std::unique_ptr<LegacyDevice> legacy_;

    mutable std::mutex recordMutex_;
    std::vector<std::string> commands_;
    std::vector<uint8_t> received_;
};

}  // namespace sim
