// The legacy protocol end to end against the simulated receiver of each legacy generation: write
// chunk by chunk, burn, read back, and dumps on a faulty line.
#include "legacy.h"
#include "legacy_faulty_line.h"
#include "legacy_flash.h"
#include "receiver_fixture.h"

#include "sim/image.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

namespace {

using testsupport::Capture;

struct GenerationCase {
    const char* name;
    int32_t version;
    int32_t reported;  // what the version reply says (0: no marker)
};

class LegacyReceiver : public testsupport::ReceiverTest, public ::testing::WithParamInterface<GenerationCase> {
protected:
    // Handshake, then the version reply; the library then speaks the receiver's generation.
    void Connect(ChunkTable* table)
    {
        int32_t found = 0;
        ASSERT_EQ(UpgHandshake(&found, nullptr, testsupport::NeverCancel), 0);
        ASSERT_EQ(found, ProtocolLegacy);
        UpgSetProtocolVersion(found);
        int32_t reported = -1;
        ASSERT_EQ(LegacyGetVersionAndChunks(&reported, table), 0);
        EXPECT_EQ(reported, GetParam().reported);
        UpgSetProtocolVersion(GetParam().version);
    }
};

TEST_P(LegacyReceiver, WritesBurnsAndReadsBackTheSameFlash)
{
    const testsupport::SmallFlash old(1);
    StartReceiver({.protocolVersion = GetParam().version, .flash = old.bytes, .burn = {.kibPerReport = 4}});
    ChunkTable table{};
    Connect(&table);
    ASSERT_EQ(table.count, 3u);
    EXPECT_EQ(table.chunks[1].id, testsupport::SmallFlash::kMainId);

    // New boot loader and user database; the main code is kept by a move.
    const testsupport::SmallFlash fresh(2);
    std::vector<uint8_t> expected = fresh.bytes;
    const std::vector<uint8_t> kept = old.Chunk(1);
    std::copy(kept.begin(), kept.end(), expected.begin() + fresh.offsets[1]);
    ASSERT_EQ(LegacySetAddress(0), 0);
    const std::vector<uint8_t> boot = fresh.Chunk(0);
    ASSERT_EQ(LegacyTransferRaw(boot.data(), static_cast<int32_t>(boot.size()), testsupport::CaptureProgress,
                                testsupport::NeverCancel),
              0);
    ASSERT_EQ(LegacyMoveChunk(testsupport::SmallFlash::kMainId, 0), 0);
    const std::vector<uint8_t> userDb = fresh.Chunk(2);
    ASSERT_EQ(LegacyTransferRaw(userDb.data(), static_cast<int32_t>(userDb.size()), testsupport::CaptureProgress,
                                testsupport::NeverCancel),
              0);
    const auto imageSize = static_cast<int32_t>(fresh.offsets[2] + userDb.size());
    Capture::progress.clear();
    ASSERT_EQ(LegacyBurn(imageSize, testsupport::CaptureProgress), 0);
    ASSERT_FALSE(Capture::progress.empty());
    EXPECT_TRUE(std::is_sorted(Capture::progress.begin(), Capture::progress.end()));
    EXPECT_EQ(Capture::progress.back(), 100);
    EXPECT_EQ(testsupport::Difference(receiver_->FlashContents(), expected), "");

    std::vector<uint8_t> buffer(0x10000);
    int32_t total = 0;
    Capture::progress.clear();
    ASSERT_EQ(LegacyDump(buffer.data(), static_cast<uint32_t>(buffer.size()), &total, testsupport::CaptureProgress,
                         testsupport::NeverCancel, 0, 0),
              0);
    ASSERT_EQ(total, static_cast<int32_t>(expected.size()));
    EXPECT_EQ(testsupport::Difference(buffer, expected), "");
    EXPECT_EQ(Capture::progress.back(), 100);

    // One chunk's range; a stream receiver sends its whole flash instead.
    uint32_t offset = 0;
    uint32_t length = 0;
    ASSERT_TRUE(ChunkFlashRange(&table, 1, &offset, &length));
    std::fill(buffer.begin(), buffer.end(), 0);
    ASSERT_EQ(LegacyDump(buffer.data(), static_cast<uint32_t>(buffer.size()), &total, nullptr,
                         testsupport::NeverCancel, offset, length),
              0);
    const bool stream = GetParam().version < 32;
    const auto first = expected.begin() + (stream ? 0 : offset);
    ASSERT_EQ(total, static_cast<int32_t>(stream ? expected.size() : length));
    EXPECT_EQ(testsupport::Difference(buffer, std::vector<uint8_t>(first, first + total)), "");

    const std::vector<std::string> commands = receiver_->Commands();
    EXPECT_EQ(std::count(commands.begin(), commands.end(), "burn\r"), 1);
}

INSTANTIATE_TEST_SUITE_P(Generations, LegacyReceiver,
                         ::testing::Values(GenerationCase{"stream_dump_16", 16, 0},
                                           GenerationCase{"packets_without_header_crcs_32", 32, 0},
                                           GenerationCase{"packets_with_header_crcs_33", 33, 33}),
                         testsupport::CaseName());

using LegacyReceiverTest = testsupport::ReceiverTest;

TEST_F(LegacyReceiverTest, DownloadResendsBlocksCorruptedOnTheWay)
{
    const testsupport::SmallFlash old(3);
    StartReceiver({.protocolVersion = 33, .flash = old.bytes, .faults = {.corrupt = 0.15}, .seed = 5});
    int32_t found = 0;
    ASSERT_EQ(UpgHandshake(&found, nullptr, testsupport::NeverCancel), 0);
    UpgSetProtocolVersion(33);
    const testsupport::SmallFlash fresh(4);
    ASSERT_EQ(LegacySetAddress(0), 0);
    ASSERT_EQ(LegacyTransferRaw(fresh.bytes.data(), static_cast<int32_t>(fresh.bytes.size()), nullptr,
                                testsupport::NeverCancel),
              0);
    ASSERT_EQ(LegacyBurn(static_cast<int32_t>(fresh.bytes.size()), nullptr), 0);
    receiver_->Stop();
    EXPECT_GT(receiver_->FaultsInjected(), 0u);
    EXPECT_EQ(testsupport::Difference(receiver_->FlashContents(), fresh.bytes), "");
}

using testsupport::FaultCase;
using testsupport::LegacyDumpOnAFaultyLine;

TEST_P(LegacyDumpOnAFaultyLine, EndsWithTheExactFlashOrAnError)
{
    DumpEveryRun();
}

INSTANTIATE_TEST_SUITE_P(
    Generations, LegacyDumpOnAFaultyLine,
    ::testing::Values(
        FaultCase{"stream_16", 16, {.corrupt = 0.2, .drop = 0.1, .delay = 0.2, .delayMs = 30, .noise = 0.2}, 8},
        FaultCase{"packets_32", 32, {.corrupt = 0.06, .drop = 0.03, .delay = 0.04, .delayMs = 30, .noise = 0.04}, 10},
        FaultCase{"packets_33", 33, {.corrupt = 0.06, .drop = 0.03, .delay = 0.04, .delayMs = 30, .noise = 0.04}, 10}),
    testsupport::CaseName());

}  // namespace
