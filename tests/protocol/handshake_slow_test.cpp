#include "receiver_fixture.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using sim::HandshakeFault;
using testsupport::Capture;

using HandshakeGiveUp = testsupport::ReceiverTest;

// Nobody answers: 200 attempts of a 100 ms pause and a 50 ms echo wait, then 7.
TEST_F(HandshakeGiveUp, GivesUpAfter200Attempts)
{
    StartReceiver({.protocolVersion = 48, .handshakeFaults = std::vector<HandshakeFault>(400, HandshakeFault::Silence)});
    int32_t version = 99;
    EXPECT_EQ(UpgHandshake(&version, testsupport::CaptureProgress, testsupport::NeverCancel), UpgErrNoReceiver);
    EXPECT_EQ(version, 99);
    ASSERT_EQ(Capture::progress.size(), 40u);
    EXPECT_EQ(Capture::progress.back(), 195);
    EXPECT_TRUE(Eventually([&] { return receiver_->Commands().size() == 200; }));
}

}  // namespace
