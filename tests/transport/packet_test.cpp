#include "capture.h"
#include "flashmate/bytes.h"
#include "flashmate/crc32.h"
#include "flashmate/errors.h"
#include "flashmate/packet.h"
#include "flashmate/serial.h"
#include "sim/pty_link.h"
#include "sim/wire.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace std::chrono_literals;
using testsupport::Capture;
using Bytes = std::vector<uint8_t>;

Bytes operator+(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes Text(const std::string& text)
{
    return Bytes(text.begin(), text.end());
}

class PacketTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        testsupport::ResetLibraryForTest();
        ASSERT_TRUE(device_.Open(nullptr));
        UpgMapPort(1, device_.SlavePath().c_str());
        ASSERT_EQ(UpgOpenPort(1, 115200, 2, 1), 0);
    }
    void TearDown() override { UpgClosePort(); }

    // What the PC put on the line, decoded by the device side's own reader.
    sim::Packet DeviceReads()
    {
        sim::Packet packet;
        EXPECT_EQ(sim::ReadPacket(device_, packet, 1s), sim::ReadStatus::Ok);
        return packet;
    }

    sim::PtyLink device_;
};

TEST_F(PacketTest, CommandPacketWireBytes)
{
    CurrentPacketId = 0x01020304;
    CurrentPacketSeq = 7;
    ASSERT_EQ(SendCommandPacket("version\r", 1), 0);

    Bytes expected = Text("HEAD") + Bytes{0, 0, 0x01, 0x02, 0x03, 0x04, 8, 0, 0, 0, 8};
    uint8_t crc[4];
    PutBe32(crc, Crc32Compute(Crc32Start, expected.data() + 4, 11));
    expected = expected + Bytes(crc, crc + 4) + Text("version\r");
    PutBe32(crc, Crc32Compute(Crc32Start, "version\r", 8));
    expected = expected + Bytes(crc, crc + 4);

    Bytes got(expected.size());
    ASSERT_TRUE(device_.ReadExact(got.data(), got.size(), 1s));
    EXPECT_EQ(got, expected);
}

TEST_F(PacketTest, EmptyPayloadIs23BytesWithCrcOfNothing)
{
    UpgPacket packet{};
    packet.type = PacketCommand;
    ASSERT_EQ(SendPacket(&packet), 0);
    Bytes got(23);
    ASSERT_TRUE(device_.ReadExact(got.data(), got.size(), 1s));
    EXPECT_EQ(GetBe32(&got[19]), 0xFFFFFFFFu);
    uint8_t extra;
    EXPECT_EQ(device_.Read(&extra, 1, 20ms), 0u);
}

TEST_F(PacketTest, CountersOpenContinueAndWrap)
{
    struct Step {
        std::function<int32_t()> send;
        uint8_t type;
        uint32_t id;
        uint8_t seq;
    };
    const Step steps[] = {
        {[] { return SendCommandPacket("version\r", 0); }, PacketCommand, 1, 0},
        {[] { return SendCommandPacket("chunk\r", 0); }, PacketCommand, 2, 0},
        {[] { return SendCommandPacket("chunk\r", 1); }, PacketCommand, 2, 1},
        {[] { return SendDataPacket(9, "ab", 2); }, PacketData, 2, 1},
        {[] { return SendRequestPacket(3); }, PacketRequest, 2, 1},
        {[] { return SendResponsePacket(StatusAbort, 0); }, PacketResponse, 2, 1},
    };
    for (const Step& step : steps) {
        ASSERT_EQ(step.send(), 0);
        const sim::Packet packet = DeviceReads();
        EXPECT_EQ(packet.type, step.type);
        EXPECT_EQ(packet.id, step.id);
        EXPECT_EQ(packet.seq, step.seq);
        EXPECT_EQ(packet.flag, 0);
    }
    // The payloads of the last three, as the receiver sees them.
    CurrentPacketSeq = 255;
    ASSERT_EQ(SendCommandPacket("burn\r", 1), 0);
    EXPECT_EQ(DeviceReads().seq, 0);
    EXPECT_EQ(CurrentPacketId, 2u);
}

TEST_F(PacketTest, PayloadsOfDataRequestAndResponse)
{
    ASSERT_EQ(SendDataPacket(0x11223344, "xyz", 3), 0);
    EXPECT_EQ(DeviceReads().payload, (Bytes{0x11, 0x22, 0x33, 0x44, 'x', 'y', 'z'}));
    ASSERT_EQ(SendRequestPacket(5), 0);
    EXPECT_EQ(DeviceReads().payload, (Bytes{0, 0, 0, 5}));
    ASSERT_EQ(SendResponsePacket(StatusAbort, 0), 0);
    EXPECT_EQ(DeviceReads().payload, (Bytes{4, 0, 0, 0, 0}));
}

// A header the receiver might send, with a chosen declared length and a valid header CRC.
Bytes Header(uint8_t type, uint8_t flag, uint32_t length)
{
    Bytes header = Text("HEAD") + Bytes{type, flag, 0, 0, 0, 1, 0, 0, 0, 0, 0};
    PutBe32(&header[11], length);
    uint8_t crc[4];
    PutBe32(crc, Crc32Compute(Crc32Start, &header[4], 11));
    return header + Bytes(crc, crc + 4);
}

struct ReceiveCase {
    const char* name;
    Bytes input;
    int32_t result;
    const char* message;  // the error line sent, or nullptr for none
};

class ReceiveTest : public PacketTest, public ::testing::WithParamInterface<ReceiveCase> {};

TEST_P(ReceiveTest, FindsChecksAndRejects)
{
    const ReceiveCase& c = GetParam();
    ASSERT_TRUE(device_.Write(c.input));
    struct {
        UpgPacket packet;
        uint8_t canary[64];
    } guarded;
    std::memset(&guarded, 0xA5, sizeof guarded);

    EXPECT_EQ(ReceivePacket(&guarded.packet, 150), c.result);
    for (uint8_t b : guarded.canary) {
        ASSERT_EQ(b, 0xA5) << "written beyond the payload area";
    }
    if (c.message == nullptr) {
        EXPECT_TRUE(Capture::messages.empty()) << Capture::Log();
    } else {
        ASSERT_EQ(Capture::messages.size(), 1u);
        EXPECT_EQ(Capture::messages[0].level, 0u);
        EXPECT_EQ(Capture::messages[0].text, std::string("\r\n->Error:") + c.message);
    }
    if (c.result == 0) {
        EXPECT_EQ(guarded.packet.type, PacketResponse);
        EXPECT_EQ(guarded.packet.length, 5u);
        EXPECT_EQ(guarded.packet.payload[0], StatusDone);
        EXPECT_EQ(guarded.packet.payload[5], 0) << "the record is zero beyond its length";
    }
}

const Bytes kGood = sim::EncodeResponse(1, 0, 3, 0x10);

Bytes WithByteFlipped(Bytes bytes, size_t index)
{
    bytes[index] ^= 0x40;
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Stream, ReceiveTest,
    ::testing::Values(
        ReceiveCase{"plain", kGood, 0, nullptr},
        ReceiveCase{"noise_before_marker", Text("\x01zzHEXHEA?") + kGood, 0, nullptr},
        ReceiveCase{"stray_H_before_marker", Text("H") + kGood, 0, nullptr},
        ReceiveCase{"noise_only", Text("garbage without a marker"), UpgErrNoPacket, nullptr},
        ReceiveCase{"header_incomplete", Text("HEAD\x03\x00\x00"), UpgErrPacketHeaderReceive,
                    "Ошибка получения заголовка пакета!"},
        ReceiveCase{"header_crc", WithByteFlipped(kGood, 17), UpgErrPacketHeaderCrc,
                    "Ошибка проверки заголовка пакета CRC!"},
        ReceiveCase{"payload_incomplete", Bytes(kGood.begin(), kGood.end() - 2), UpgErrPacketDataReceive,
                    "Ошибка получения пакета данных!"},
        ReceiveCase{"data_crc", WithByteFlipped(kGood, 20), UpgErrPacketDataCrc,
                    "Ошибка проверки пакета данных CRC!"},
        ReceiveCase{"declared_2045", Header(PacketData, 0, 2045) + Bytes(2049, 0x55), UpgErrPacketDataReceive,
                    "Ошибка получения пакета данных!"},
        ReceiveCase{"blank_declaring_3", Header(PacketData, 1, 3) + Bytes(8, 0), UpgErrPacketDataReceive,
                    "Ошибка получения пакета данных!"}),
    testsupport::CaseName());

TEST_F(PacketTest, AfterAHeaderCrcErrorTheRestIsSkippedAndTheNextPacketFound)
{
    const Bytes next = sim::EncodeData(1, 0, 6, reinterpret_cast<const uint8_t*>("later"), 5);
    ASSERT_TRUE(device_.Write(WithByteFlipped(kGood, 16) + next));
    UpgPacket packet;
    EXPECT_EQ(ReceivePacket(&packet, 500), UpgErrPacketHeaderCrc);
    ASSERT_EQ(ReceivePacket(&packet, 500), 0);
    EXPECT_EQ(packet.type, PacketData);
    EXPECT_EQ(packet.length, 9u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(packet.payload + 4), 5), "later");
}

TEST_F(PacketTest, BlankDataPacketIsExpanded)
{
    const Bytes blank = sim::EncodeBlankData(1, 0, 3, 1028);
    ASSERT_EQ(blank.size(), 27u);
    ASSERT_TRUE(device_.Write(blank));
    UpgPacket packet;
    ASSERT_EQ(ReceivePacket(&packet, 500), 0);
    EXPECT_EQ(packet.type, PacketData);
    EXPECT_NE(packet.flag, 0);
    EXPECT_EQ(packet.length, 1028u);
    EXPECT_EQ(GetBe32(packet.payload), 3u);
    for (uint32_t i = 4; i < 1028; ++i) {
        ASSERT_EQ(packet.payload[i], 0xFF) << i;
    }
    EXPECT_EQ(packet.payload[1028], 0);
}

// The waits inside a packet must cover the wire time at slow rates, where a byte takes longer
// than the marker wait and a payload longer than the fixed header and payload waits.
TEST_F(PacketTest, PacketsArriveWholeAtLowRates)
{
    for (uint32_t rate : {2400u, 300u}) {
        SCOPED_TRACE(rate);
        ASSERT_EQ(UpgOpenPort(1, static_cast<int32_t>(rate), 2, 1), 0);
        device_.SetPacing(rate, 11);
        Bytes data(rate == 300 ? 12 : 100);
        for (size_t i = 0; i < data.size(); ++i) {
            data[i] = static_cast<uint8_t>(i * 7);
        }
        std::thread sender([&] { device_.Write(sim::EncodeData(1, 0, 1, data.data(), data.size())); });
        UpgPacket packet;
        const int32_t result = ReceivePacket(&packet, 200);
        sender.join();
        ASSERT_EQ(result, 0) << testsupport::Capture::Log();
        EXPECT_EQ(packet.length, data.size() + 4);
        EXPECT_EQ(Bytes(packet.payload + 4, packet.payload + packet.length), data);
    }
}

}  // namespace
