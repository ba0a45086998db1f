// A device end played byte by byte: a pty whose slave is the library's port (COM1), and a
// thread that runs a script on the master, for exchanges whose exact bytes matter.
#pragma once

#include "capture.h"
#include "flashmate/bytes.h"
#include "flashmate/crc32.h"
#include "flashmate/upgrade.h"
#include "sim/pty_link.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace testsupport {

using Bytes = std::vector<uint8_t>;

inline constexpr auto kScriptWait = std::chrono::seconds(3);

// Reads one command line, echoing every byte as the boot loader does; the line keeps its CR.
// Empty when nothing came.
inline std::string EchoLine(sim::PtyLink& link)
{
    std::string line;
    uint8_t byte = 0;
    while (link.ReadExact(&byte, 1, kScriptWait)) {
        link.Write(&byte, 1);
        line.push_back(static_cast<char>(byte));
        if (byte == '\r') {
            break;
        }
    }
    return line;
}

inline Bytes ReadBytes(sim::PtyLink& link, size_t count)
{
    Bytes bytes(count);
    return link.ReadExact(bytes.data(), count, kScriptWait) ? bytes : Bytes{};
}

inline uint32_t Crc(const Bytes& bytes)
{
    return Crc32Compute(Crc32Start, bytes.data(), static_cast<int32_t>(bytes.size()));
}

inline Bytes Be32(uint32_t value)
{
    Bytes bytes(4);
    PutBe32(bytes.data(), value);
    return bytes;
}

inline Bytes Join(std::initializer_list<Bytes> parts)
{
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

// Bytes followed by their CRC, big-endian.
inline Bytes WithCrc(const Bytes& bytes)
{
    return Join({bytes, Be32(Crc(bytes))});
}

inline Bytes PatternBytes(size_t count, uint32_t seed)
{
    Bytes bytes(count);
    for (size_t i = 0; i < count; ++i) {
        bytes[i] = static_cast<uint8_t>((i * 131 + seed * 7 + (i >> 8)) & 0xFF);
    }
    return bytes;
}

class ScriptedDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ResetLibraryForTest();
        std::string error;
        ASSERT_TRUE(device_.Open(&error)) << error;
        UpgMapPort(1, device_.SlavePath().c_str());
        ASSERT_EQ(UpgOpenPort(1, 115200, 2, 1), 0);
    }

    void TearDown() override
    {
        Finish();
        UpgClosePort();
    }

    // Runs the device's part on its own thread.
    void Play(std::function<void(sim::PtyLink&)> script)
    {
        done_.store(false);
        thread_ = std::thread([this, script = std::move(script)] {
            script(device_);
            done_.store(true);
        });
    }

    // Lets the script read what the PC sent last, then stops it if it still waits for more.
    void Finish()
    {
        if (!thread_.joinable()) {
            return;
        }
        for (int i = 0; i < 200 && !done_.load(); ++i) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        device_.Interrupt();
        thread_.join();
        device_.Resume();
    }

    sim::PtyLink device_;
    std::thread thread_;
    std::atomic<bool> done_{false};
};

}  // namespace testsupport
