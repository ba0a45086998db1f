#include "receiver_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::HandshakeFault;
using testsupport::Capture;

using HandshakeTest = testsupport::ReceiverTest;

struct HandshakeCase {
    const char* name;
    int32_t receiverVersion;
    std::vector<HandshakeFault> faults;
    int32_t expectedVersion;
};

class HandshakeOutcome : public HandshakeTest, public ::testing::WithParamInterface<HandshakeCase> {};

TEST_P(HandshakeOutcome, DetectsTheGenerationAfterAnyRetries)
{
    const HandshakeCase& c = GetParam();
    StartReceiver({.protocolVersion = c.receiverVersion, .handshakeFaults = c.faults});
    int32_t version = -1;
    ASSERT_EQ(UpgHandshake(&version, nullptr, testsupport::NeverCancel), 0);
    EXPECT_EQ(version, c.expectedVersion);
    // One command line for every failed attempt, then the one that worked.
    const std::vector<std::string> commands = receiver_->Commands();
    ASSERT_EQ(commands.size(), c.faults.size() + 1);
    EXPECT_EQ(commands.back(), "comtest 18\r");
    EXPECT_EQ(receiver_->HandshakesAnswered(), 1);
    EXPECT_TRUE(Capture::messages.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Receivers, HandshakeOutcome,
    ::testing::Values(HandshakeCase{"legacy_echoes_the_banner", 32, {}, 32},
                      HandshakeCase{"packet_protocol_complements_it", 48, {}, 48},
                      HandshakeCase{"one_byte_off_is_retried", 48, {HandshakeFault::OneByteOff}, 48},
                      HandshakeCase{"seventeen_bytes_are_retried", 32, {HandshakeFault::ShortReply}, 32},
                      HandshakeCase{"noise_is_retried", 48, {HandshakeFault::Noise, HandshakeFault::Noise}, 48},
                      HandshakeCase{"silence_is_retried", 32, {HandshakeFault::Silence}, 32},
                      HandshakeCase{"wrong_echo_is_retried", 48, {HandshakeFault::WrongEcho}, 48}),
    testsupport::CaseName());

TEST_F(HandshakeTest, AWrongEchoIsFollowedByALoneCarriageReturn)
{
    StartReceiver({.protocolVersion = 48, .handshakeFaults = {HandshakeFault::WrongEcho}});
    int32_t version = 0;
    ASSERT_EQ(UpgHandshake(&version, nullptr, testsupport::NeverCancel), 0);
    EXPECT_EQ(receiver_->Commands().front(), "c\r");
}

TEST_F(HandshakeTest, CancelAtTheFirstCallSendsNothing)
{
    StartReceiver({.protocolVersion = 48});
    Capture::cancelAfterCalls = 0;
    int32_t version = 1234;
    EXPECT_EQ(UpgHandshake(&version, testsupport::CaptureProgress, testsupport::CancelAfter), UpgErrCancelled);
    EXPECT_EQ(version, 1234);
    EXPECT_TRUE(Capture::progress.empty());
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    EXPECT_TRUE(receiver_->ReceivedBytes().empty());
}

TEST_F(HandshakeTest, WithoutACancelCallbackItNeverCancels)
{
    StartReceiver({.protocolVersion = 32, .handshakeFaults = {HandshakeFault::ShortReply}});
    int32_t version = 0;
    EXPECT_EQ(UpgHandshake(&version, nullptr, nullptr), 0);
    EXPECT_EQ(version, 32);
}

TEST_F(HandshakeTest, ProgressSeesEveryFifthAttempt)
{
    StartReceiver({.protocolVersion = 32, .handshakeFaults = std::vector<HandshakeFault>(7, HandshakeFault::ShortReply)});
    int32_t version = 0;
    ASSERT_EQ(UpgHandshake(&version, testsupport::CaptureProgress, testsupport::NeverCancel), 0);
    EXPECT_EQ(Capture::progress, (std::vector<int32_t>{0, 5}));
}

TEST_F(HandshakeTest, CancelBetweenAttemptsStopsTheRetries)
{
    StartReceiver({.protocolVersion = 48, .handshakeFaults = std::vector<HandshakeFault>(50, HandshakeFault::Silence)});
    Capture::cancelAfterCalls = 3;
    int32_t version = 0;
    EXPECT_EQ(UpgHandshake(&version, nullptr, testsupport::CancelAfter), UpgErrCancelled);
    EXPECT_EQ(Capture::cancelCalls, 4);
    // The third attempt's closing carriage return may still be on its way.
    EXPECT_TRUE(Eventually([&] { return receiver_->Commands().size() == 3; }));
}

TEST(ProtocolVersion, StartsAtZeroWithTheLegacyCopyAt32)
{
    testsupport::ResetLibraryForTest();
    EXPECT_EQ(UpgGetProtocolVersion(), 0);
    EXPECT_EQ(UpgGetLegacyProtocolVersion(), 32);
    UpgSetProtocolVersion(47);
    EXPECT_EQ(UpgGetProtocolVersion(), 47);
    EXPECT_EQ(UpgGetLegacyProtocolVersion(), 47);
    EXPECT_STREQ(UpgGetLibraryVersion(), "3.0.0e");
}

}  // namespace
