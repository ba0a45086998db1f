// The device end of a pseudo-terminal: the PC side opens the slave path like any serial port.
//
// Optional pacing models a real line at a baud rate: bytes the device writes become visible to
// the PC only when their last bit would have crossed the line, and bytes the PC writes reach the
// device only at their wire time. Both directions are timed independently (full duplex).
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <string>
#include <vector>

namespace sim {

class PtyLink {
public:
    using Clock = std::chrono::steady_clock;

    PtyLink() = default;
    ~PtyLink();
    PtyLink(const PtyLink&) = delete;
    PtyLink& operator=(const PtyLink&) = delete;

    // Creates the pty pair in raw mode; the slave stays open on our side too, so the PC may
    // close and reopen it without the link hanging up.
    bool Open(std::string* error);
    void Close();
    const std::string& SlavePath() const { return slavePath_; }
    // The master's descriptor; terminal ioctls on it act on the slave's settings.
    int MasterFd() const { return master_; }

    // 0 switches pacing off. bitsPerByte counts start, data, parity and stop bits.
    void SetPacing(uint32_t baudRate, uint32_t bitsPerByte);
    Clock::duration ByteTime() const { return byteTime_; }

    // Device to PC. False when the link was interrupted or closed.
    bool Write(const uint8_t* data, size_t count);
    bool Write(const std::vector<uint8_t>& data) { return Write(data.data(), data.size()); }
    bool Write(const std::string& text) { return Write(reinterpret_cast<const uint8_t*>(text.data()), text.size()); }

    // PC to device: up to maximum bytes, waiting up to timeout for the first one. 0 on time-out
    // or interruption.
    size_t Read(uint8_t* destination, size_t maximum, Clock::duration timeout);
    // Exactly count bytes within timeout; on failure the bytes read so far are lost.
    bool ReadExact(uint8_t* destination, size_t count, Clock::duration timeout);
    // Drops what the PC sent and the device has not read.
    void DiscardInput();

    // Wakes a blocked Read or Write; every later call returns at once until Resume().
    void Interrupt();
    void Resume();
    bool Interrupted() const { return interrupted_.load(); }

    // Bytes that crossed the line each way, for efficiency measurements.
    uint64_t BytesToPc() const { return bytesToPc_.load(); }
    uint64_t BytesFromPc() const { return bytesFromPc_.load(); }

private:
    struct Arrival {
        std::vector<uint8_t> bytes;
        size_t consumed = 0;
        Clock::time_point firstDue;  // when bytes[0] has fully arrived
    };

    bool PullFromMaster(Clock::time_point until);
    Clock::time_point DueTime(const Arrival& arrival, size_t index) const;

    int master_ = -1;
    int slaveHold_ = -1;
    int wakeRead_ = -1;
    int wakeWrite_ = -1;
    std::string slavePath_;
    std::atomic<bool> interrupted_{false};
    Clock::duration byteTime_{0};
    Clock::time_point txFree_{};
    Clock::time_point rxFree_{};
    std::deque<Arrival> pending_;
    std::atomic<uint64_t> bytesToPc_{0};
    std::atomic<uint64_t> bytesFromPc_{0};
};

}  // namespace sim
