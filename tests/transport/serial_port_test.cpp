#include "flashmate/errors.h"
#include "flashmate/serial.h"
#include "sim/pty_link.h"

#include <asm/termbits.h>
#include <sys/ioctl.h>

#include <gtest/gtest.h>

#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;

class SerialPortTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(device_.Open(&error)) << error;
        ASSERT_TRUE(port_.OpenDevice(device_.SlavePath(), 115200, 0, 1));
    }

    // Bytes the device end sends, readable by the port once this returns.
    void DeviceSends(const std::string& text)
    {
        ASSERT_TRUE(device_.Write(text));
        ASSERT_TRUE(port_.WaitForInput(1000));
        // A pty may hand over a write in pieces; give the rest a moment to land.
        for (int i = 0; i < 100 && port_.InputQueued() < static_cast<int32_t>(text.size()); ++i) {
            std::this_thread::sleep_for(1ms);
        }
    }

    std::string ReadAll()
    {
        char buffer[256];
        const int32_t n = port_.Read(buffer, sizeof buffer);
        return std::string(buffer, static_cast<size_t>(n));
    }

    sim::PtyLink device_;
    SerialPort port_;
};

TEST_F(SerialPortTest, ReadExactTimeoutReadsNothingAndLeavesBytesQueued)
{
    DeviceSends("abc");
    char buffer[8] = {};
    EXPECT_FALSE(port_.ReadExact(buffer, 5, 30));
    EXPECT_EQ(port_.InputQueued(), 3);
    EXPECT_EQ(ReadAll(), "abc");
}

TEST_F(SerialPortTest, ReadExactWaitsForBytesStillOnTheirWay)
{
    std::thread late([&] {
        std::this_thread::sleep_for(20ms);
        device_.Write(std::string("hello"));
    });
    char buffer[8] = {};
    EXPECT_TRUE(port_.ReadExact(buffer, 5, 2000));
    late.join();
    EXPECT_EQ(std::string(buffer, 5), "hello");
}

TEST_F(SerialPortTest, ReadExactWithZeroTimeoutSucceedsOnlyForZeroBytes)
{
    DeviceSends("xy");
    char buffer[4];
    EXPECT_TRUE(port_.ReadExact(buffer, 0, 0));
    EXPECT_FALSE(port_.ReadExact(buffer, 1, 0));
    EXPECT_EQ(port_.InputQueued(), 2);
}

TEST_F(SerialPortTest, ReadTakesAtMostItsMaximum)
{
    DeviceSends("0123456789");
    char buffer[4];
    EXPECT_EQ(port_.Read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "0123");
    EXPECT_EQ(port_.InputQueued(), 6);
    EXPECT_EQ(ReadAll(), "456789");
    EXPECT_EQ(port_.Read(buffer, 4), 0);
}

TEST_F(SerialPortTest, PurgeDropsQueuedInput)
{
    DeviceSends("stale");
    EXPECT_TRUE(port_.Purge());
    EXPECT_EQ(port_.InputQueued(), 0);
}

TEST_F(SerialPortTest, WriteReachesTheDevice)
{
    EXPECT_EQ(port_.Write("ping", 4), 4);
    uint8_t got[4];
    ASSERT_TRUE(device_.ReadExact(got, 4, 1s));
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), 4), "ping");
}

TEST_F(SerialPortTest, OpenOnAnOpenPortClosesItFirst)
{
    sim::PtyLink other;
    ASSERT_TRUE(other.Open(nullptr));
    ASSERT_TRUE(port_.OpenDevice(other.SlavePath(), 9600, 0, 1));
    // The first device is free again: another opener gets it.
    SerialPort second;
    EXPECT_TRUE(second.OpenDevice(device_.SlavePath(), 9600, 0, 1));
}

TEST_F(SerialPortTest, ASecondOpenerOfTheSameDeviceIsTurnedAwayAsBusy)
{
    SerialPort second;
    EXPECT_FALSE(second.OpenDevice(device_.SlavePath(), 115200, 0, 1));
    EXPECT_EQ(second.LastFailure(), PortFailure::Busy);
    EXPECT_NE(second.LastFailureText().find("busy"), std::string::npos);
}

TEST_F(SerialPortTest, ClosedPortReadsAndWritesNothing)
{
    EXPECT_TRUE(port_.Close());
    EXPECT_TRUE(port_.Close());
    char buffer[4];
    EXPECT_EQ(port_.Write("x", 1), 0);
    EXPECT_EQ(port_.Read(buffer, 4), 0);
    EXPECT_EQ(port_.InputQueued(), 0);
    EXPECT_FALSE(port_.ReadExact(buffer, 1, 10));
    EXPECT_FALSE(port_.PurgeReceive());
    EXPECT_FALSE(port_.Purge());
}

TEST_F(SerialPortTest, WireTimeFollowsTheFrame)
{
    // 115200 baud, no parity, one stop bit: 10 bits a byte.
    EXPECT_EQ(port_.WireTimeMs(1152), 100u);
    ASSERT_TRUE(port_.OpenDevice(device_.SlavePath(), 2400, 2, 1));
    // 11 bits a byte with parity: 24 bytes take 110 ms.
    EXPECT_EQ(port_.WireTimeMs(24), 110u);
}

// Every rate the connect page offers, every parity code and both stop-bit forms reach the
// driver. A pty drops PARENB but keeps the rest, so the open still succeeds.
TEST_F(SerialPortTest, LineSettingsReachTheDriver)
{
    const int32_t rates[] = {110, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400, 56000, 57600, 115200};
    struct Parity {
        int32_t code;
        bool odd;
        bool stick;
    };
    const Parity parities[] = {{0, false, false}, {1, true, false}, {2, false, false}, {3, true, true}, {4, false, true}};
    for (int32_t rate : rates) {
        for (const Parity& parity : parities) {
            for (int32_t stop : {0, 1, 2}) {
                SCOPED_TRACE(testing::Message() << rate << " baud, parity " << parity.code << ", stop " << stop);
                ASSERT_TRUE(port_.OpenDevice(device_.SlavePath(), rate, parity.code, stop));
                termios2 tio{};
                ASSERT_EQ(ioctl(device_.MasterFd(), TCGETS2, &tio), 0);
                EXPECT_EQ(tio.c_ospeed, static_cast<speed_t>(rate));
                EXPECT_EQ((tio.c_cflag & CSIZE), static_cast<tcflag_t>(CS8));
                EXPECT_EQ((tio.c_cflag & PARODD) != 0, parity.odd);
                EXPECT_EQ((tio.c_cflag & CMSPAR) != 0, parity.stick);
                EXPECT_EQ((tio.c_cflag & CSTOPB) != 0, stop != 1);
                EXPECT_EQ(tio.c_lflag & (ECHO | ICANON), 0u);
            }
        }
    }
}

TEST(SerialPortOpen, FailuresSayWhy)
{
    SerialPort port;
    EXPECT_FALSE(port.OpenDevice("/dev/flashmate-no-such-port", 115200, 0, 1));
    EXPECT_EQ(port.LastFailure(), PortFailure::NoDevice);
    EXPECT_NE(port.LastFailureText().find("no such device"), std::string::npos);

    EXPECT_FALSE(port.OpenDevice("/dev/null", 115200, 0, 1));
    EXPECT_EQ(port.LastFailure(), PortFailure::NotSerial);

    sim::PtyLink device;
    ASSERT_TRUE(device.Open(nullptr));
    EXPECT_FALSE(port.OpenDevice(device.SlavePath(), 0, 0, 1));
    EXPECT_EQ(port.LastFailure(), PortFailure::Settings);
    EXPECT_FALSE(port.OpenDevice(device.SlavePath(), 9600, 5, 1));
    EXPECT_TRUE(port.OpenDevice(device.SlavePath(), 9600, 4, 1));
    EXPECT_EQ(port.LastFailure(), PortFailure::None);
}

TEST(PortFunctions, NumbersMapToDevices)
{
    UpgClearPortMap();
    EXPECT_EQ(UpgPortDevicePath(1), "/dev/ttyS0");
    EXPECT_EQ(UpgPortDevicePath(32), "/dev/ttyS31");
    EXPECT_EQ(UpgPortDevicePath(0), "");
    UpgMapPort(3, "/dev/ttyUSB0");
    EXPECT_EQ(UpgPortDevicePath(3), "/dev/ttyUSB0");
    UpgMapPort(3, "");
    EXPECT_EQ(UpgPortDevicePath(3), "/dev/ttyS2");

    UpgMapPort(7, "/dev/flashmate-no-such-port");
    EXPECT_EQ(UpgOpenPort(7, 115200, 2, 1), UpgErrOpenPort);
    EXPECT_EQ(UpgPortFailure(), PortFailure::NoDevice);
    EXPECT_NE(UpgPortFailureText().find("/dev/flashmate-no-such-port"), std::string::npos);
    EXPECT_EQ(UpgOpenPort(0, 115200, 2, 1), UpgErrOpenPort);
    UpgClearPortMap();
}

// Long enough that a busy machine never turns a late echo into a missing one; the missing-echo
// case waits it out once.
constexpr uint32_t kEchoWait = 500;

// The boot loader's echo, played by a thread: answers each byte with whatever `reply` says.
class EchoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(device_.Open(nullptr));
        UpgMapPort(9, device_.SlavePath().c_str());
        ASSERT_EQ(UpgOpenPort(9, 115200, 0, 1), 0);
    }
    void TearDown() override
    {
        device_.Interrupt();
        if (echo_.joinable()) {
            echo_.join();
        }
        UpgClosePort();
        UpgClearPortMap();
    }
    // reply(index, byte) returns the echo, or -1 for none.
    template <typename Reply>
    void Echo(Reply reply)
    {
        echo_ = std::thread([this, reply] {
            uint8_t byte;
            for (int index = 0; device_.Read(&byte, 1, 2s) == 1; ++index) {
                {
                    std::lock_guard lock(mutex_);
                    received_.push_back(byte);
                }
                const int echo = reply(index, byte);
                if (echo >= 0) {
                    device_.Write(std::vector<uint8_t>{static_cast<uint8_t>(echo)});
                }
            }
        });
    }
    // What the device got, once `count` bytes are in (or a second has passed).
    std::string Received(size_t count)
    {
        for (int i = 0; i < 200; ++i) {
            {
                std::lock_guard lock(mutex_);
                if (received_.size() >= count) {
                    break;
                }
            }
            std::this_thread::sleep_for(5ms);
        }
        device_.Interrupt();
        echo_.join();
        return std::string(received_.begin(), received_.end());
    }

    sim::PtyLink device_;
    std::thread echo_;
    std::mutex mutex_;
    std::vector<uint8_t> received_;
};

TEST_F(EchoTest, EveryByteEchoedIsSuccess)
{
    Echo([](int, uint8_t b) { return int(b); });
    EXPECT_EQ(UpgWriteEchoed("comtest 18\r", 11, kEchoWait), 0);
    EXPECT_EQ(Received(11), "comtest 18\r");
}

TEST_F(EchoTest, StopsAtTheFirstWrongEcho)
{
    Echo([](int index, uint8_t b) { return index == 3 ? 'X' : int(b); });
    EXPECT_EQ(UpgWriteEchoed("version\r", 8, kEchoWait), UpgErrEchoMismatch);
    EXPECT_EQ(Received(4), "vers");
}

TEST_F(EchoTest, StopsAtTheFirstMissingEcho)
{
    Echo([](int index, uint8_t b) { return index == 2 ? -1 : int(b); });
    EXPECT_EQ(UpgWriteEchoed("burn\r", 5, kEchoWait), UpgErrRead);
    EXPECT_EQ(Received(3), "bur");
}

TEST_F(EchoTest, NothingToSendIsSuccess)
{
    Echo([](int, uint8_t b) { return int(b); });
    EXPECT_EQ(UpgWriteEchoed("x", 0, kEchoWait), 0);
    EXPECT_EQ(UpgWriteByte(13), 1);
    EXPECT_EQ(Received(1), "\r");
}

}  // namespace
