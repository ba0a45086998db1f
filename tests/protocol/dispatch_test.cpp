// The library's face picks the protocol by the version set at connect time.
#include "receiver_fixture.h"
#include "scripted_device.h"

#include "flashmate/upgrade.h"
#include "sim/pty_link.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

struct RouteCase {
    const char* name;
    int32_t libraryVersion;  // as set after the handshake (0: never set)
    int32_t receiverVersion; // a boot loader that answers only the expected protocol
};

class DispatchRoute : public testsupport::ReceiverTest, public ::testing::WithParamInterface<RouteCase> {};

// Each receiver answers only its own generation's commands, so a call that went down the other
// path would fail.
TEST_P(DispatchRoute, TakesThePathOfTheVersion)
{
    const RouteCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(StartReceiver({.protocolVersion = c.receiverVersion}));
    int32_t found = 0;
    ASSERT_EQ(UpgHandshake(&found, nullptr, testsupport::NeverCancel), 0);
    if (c.libraryVersion != 0) {
        UpgSetProtocolVersion(c.libraryVersion);
    }
    ChunkTable table;
    std::memset(&table, 0, sizeof table);
    int32_t version = -1;
    EXPECT_EQ(UpgGetVersionAndChunks(&version, &table), 0) << testsupport::Capture::Log();
    EXPECT_EQ(table.count, 5u);
    EXPECT_EQ(UpgSetAddress(0x10000), 0);
    EXPECT_EQ(receiver_->Commands().back(), "address 65536\r");
}

INSTANTIATE_TEST_SUITE_P(Versions, DispatchRoute,
                         ::testing::Values(RouteCase{"never_set_is_legacy", 0, 32},
                                           RouteCase{"v47_is_legacy", 47, 47},
                                           RouteCase{"v48_is_packet", 48, 48},
                                           RouteCase{"v49_is_packet", 49, 49},
                                           RouteCase{"v0x31_is_packet", 0x31, 0x31}),
                         testsupport::CaseName());

using DispatchScripted = testsupport::ScriptedDeviceTest;

TEST_F(DispatchScripted, AFailedVersionQueryAsksForNoTableAndLeavesItAlone)
{
    UpgSetProtocolVersion(48);
    RunDevice([](const sim::Packet& packet) {
        return std::vector<testsupport::Bytes>{testsupport::Reply(packet, sim::wire::Error, 0x10001)};
    });
    ChunkTable table;
    std::memset(&table, 0x5C, sizeof table);
    int32_t version = 7;
    EXPECT_EQ(UpgGetVersionAndChunks(&version, &table), 0x10001);
    EXPECT_EQ(version, 7);
    EXPECT_EQ(table.count, 0x5C5C5C5Cu);
    const std::vector<sim::Packet> packets = StopDevice();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].Text(), "version\r");
}

TEST(DispatchReboot, ALegacyReceiverThatDoesNotEchoGives5)
{
    testsupport::ResetLibraryForTest();
    sim::PtyLink silent;
    ASSERT_TRUE(silent.Open(nullptr));
    UpgMapPort(1, silent.SlavePath().c_str());
    ASSERT_EQ(UpgOpenPort(1, 115200, 2, 1), 0);
    UpgSetProtocolVersion(32);
    EXPECT_EQ(UpgReboot(), UpgErrCommandSend);
    uint8_t sent[8];
    EXPECT_EQ(silent.Read(sent, sizeof sent, std::chrono::milliseconds(100)), 1u) << "stops at the first byte";
    EXPECT_EQ(sent[0], 'r');
    UpgClosePort();
}

}  // namespace
