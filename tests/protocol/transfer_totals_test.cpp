#include "capture.h"
#include "receiver_fixture.h"

#include "flashmate/transfer_totals.h"
#include "flashmate/upgrade.h"
#include "sim/image.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using testsupport::Capture;

struct Generation {
    std::string name;
    int32_t version;
};

class TransferTotalsTest : public testsupport::ReceiverTest, public ::testing::WithParamInterface<Generation> {
protected:
    void Connect()
    {
        sim::ReceiverConfig config;
        config.protocolVersion = GetParam().version;
        ASSERT_NO_FATAL_FAILURE(StartReceiver(std::move(config)));
        int32_t version = 0;
        ASSERT_EQ(UpgHandshake(&version, nullptr, testsupport::NeverCancel), 0);
        UpgSetProtocolVersion(GetParam().version);
        ASSERT_EQ(UpgSetAddress(0), 0);
    }
    bool PacketProtocol() const { return GetParam().version >= ProtocolPacket; }
};

TEST_P(TransferTotalsTest, DownloadsAndDumpsAddUpUntilReset)
{
    ASSERT_NO_FATAL_FAILURE(Connect());
    const std::vector<uint8_t> firmware = sim::FirmwareLikeBytes(0x8000, 3);
    std::vector<uint8_t> data = firmware;
    ASSERT_EQ(UpgTransfer(data.data(), static_cast<int32_t>(data.size()), testsupport::CaptureProgress,
                          testsupport::NeverCancel),
              0);
    UpgTransferTotals totals = UpgGetTransferTotals();
    EXPECT_EQ(totals.downloads, 1u);
    EXPECT_EQ(totals.downloadBytes, firmware.size());
    if (PacketProtocol()) {
        // What went on the line is what the transfer command announced.
        ASSERT_LT(totals.downloadLineBytes, firmware.size());
        const std::string announced =
            "transfer -z " + std::to_string(firmware.size()) + " " + std::to_string(totals.downloadLineBytes) + "\r";
        const std::vector<std::string> commands = receiver_->Commands();
        EXPECT_NE(std::find(commands.begin(), commands.end(), announced), commands.end());
    } else {
        EXPECT_EQ(totals.downloadLineBytes, firmware.size());
    }

    std::vector<uint8_t> buffer(0x10000);
    int32_t received = 0;
    ASSERT_EQ(UpgDump(buffer.data(), static_cast<uint32_t>(buffer.size()), &received, testsupport::CaptureProgress,
                      testsupport::NeverCancel, 0x10080, 0x1000),
              0);
    totals = UpgGetTransferTotals();
    EXPECT_EQ(totals.dumps, 1u);
    EXPECT_EQ(totals.dumpBytes, static_cast<uint64_t>(received));
    EXPECT_GT(received, 0);

    // A cancelled download moved nothing worth counting. It comes last: a legacy receiver
    // waits for the rest of its data and takes no command after it.
    Capture::cancelAfterCalls = 0;
    data = firmware;
    EXPECT_EQ(UpgTransfer(data.data(), static_cast<int32_t>(data.size()), testsupport::CaptureProgress,
                          testsupport::CancelAfter),
              UpgErrCancelled);
    EXPECT_EQ(UpgGetTransferTotals().downloads, 1u);
    EXPECT_EQ(UpgGetTransferTotals().downloadBytes, firmware.size());


    UpgResetTransferTotals();
    totals = UpgGetTransferTotals();
    EXPECT_EQ(totals.downloads + totals.downloadBytes + totals.downloadLineBytes + totals.dumps + totals.dumpBytes, 0u);
}

INSTANTIATE_TEST_SUITE_P(Generations, TransferTotalsTest,
                         ::testing::Values(Generation{"Packet48", 48}, Generation{"Legacy32", 32},
                                           Generation{"Legacy33", 33}),
                         testsupport::CaseName());

}  // namespace
