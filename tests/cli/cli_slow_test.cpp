// flashmate against a receiver that never answers: the handshake gives up after its 200
// attempts, which takes half a minute.
#include "subprocess.h"
#include "temp_dir.h"

#include "sim/receiver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

constexpr auto kHandshakeGivesUp = std::chrono::seconds(100);
constexpr int kExitNoReceiver = 4;
constexpr size_t kHandshakeAttempts = 200;

TEST(CliSlow, NoReceiverAnswering)
{
    sim::ReceiverConfig config;
    config.handshakeFaults.assign(kHandshakeAttempts, sim::HandshakeFault::Silence);
    sim::Receiver receiver(std::move(config));
    std::string error;
    ASSERT_TRUE(receiver.Start(&error)) << error;
    testsupport::TempDir dir;
    const std::string settings = dir.WriteText("Upgrade.ini", "[Config]\n");

    testsupport::Subprocess program({FLASHMATE_PATH, "--settings", settings, "--port", receiver.DevicePath(), "info"});
    EXPECT_EQ(program.Wait(kHandshakeGivesUp), kExitNoReceiver) << program.err;
    EXPECT_NE(program.err.find("Ресивер не подключен или выдает ошибку!"), std::string::npos) << program.err;
    EXPECT_EQ(receiver.HandshakesAnswered(), 0);
    receiver.Stop();
}

}  // namespace
