// A test whose device end is a script: a thread reads the PC's packets with the device side's
// own codec and answers each as the test says, so every byte of an exchange is in the test.
#pragma once

#include "capture.h"
#include "flashmate/serial.h"
#include "sim/pty_link.h"
#include "sim/wire.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

// Answers carry the id and sequence number of the packet they answer.
inline Bytes Reply(const sim::Packet& to, uint8_t status, uint32_t value)
{
    return sim::EncodeResponse(to.id, to.seq, status, value);
}

inline Bytes DataReply(const sim::Packet& to, uint32_t number, const Bytes& data)
{
    return sim::EncodeData(to.id, to.seq, number, data.data(), data.size());
}

// The same packet with one bit of its data CRC flipped: the PC sees error 31 at once, without
// waiting for a time-out.
inline Bytes Corrupted(Bytes packet)
{
    packet.back() ^= 0x01;
    return packet;
}

class ScriptedDeviceTest : public ::testing::Test {
protected:
    // Given the packet the PC just sent, what goes back (nothing: silence).
    using Script = std::function<std::vector<Bytes>(const sim::Packet&)>;

    void SetUp() override
    {
        ResetLibraryForTest();
        ASSERT_TRUE(device_.Open(nullptr));
        UpgMapPort(1, device_.SlavePath().c_str());
        ASSERT_EQ(UpgOpenPort(1, 115200, 2, 1), 0);
    }

    void TearDown() override
    {
        StopDevice();
        UpgClosePort();
    }

    void RunDevice(Script script)
    {
        thread_ = std::thread([this, script = std::move(script)] {
            for (;;) {
                sim::Packet packet;
                if (sim::ReadPacket(device_, packet, std::chrono::milliseconds(20)) != sim::ReadStatus::Ok) {
                    if (stopping_.load()) {
                        return;
                    }
                    continue;
                }
                {
                    std::lock_guard lock(mutex_);
                    packets_.push_back(packet);
                }
                for (const Bytes& answer : script(packet)) {
                    device_.Write(answer);
                }
            }
        });
    }

    // Lets the device read what the PC has sent so far, stops it and returns every packet it
    // read, in order.
    std::vector<sim::Packet> StopDevice()
    {
        stopping_.store(true);
        if (thread_.joinable()) {
            thread_.join();
        }
        std::lock_guard lock(mutex_);
        return packets_;
    }

    sim::PtyLink device_;

private:
    std::thread thread_;
    std::atomic<bool> stopping_{false};
    std::mutex mutex_;
    std::vector<sim::Packet> packets_;
};

}  // namespace testsupport
