#include "compression.h"
#include "exchange.h"
#include "proto3_session.h"

#include "flashmate/bytes.h"
#include "flashmate/packet.h"

#include "sim/image.h"

#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::Capture;
using Bytes = std::vector<uint8_t>;
using Proto3E2e = testsupport::Proto3Session;

constexpr uint32_t kFlashSize = 0x200000;


struct WholeFlashCase {
    const char* name;
    Bytes image;
    bool compressed;
};

class WholeFlash : public Proto3E2e, public ::testing::WithParamInterface<WholeFlashCase> {};

TEST_P(WholeFlash, WrittenBurnedAndReadBack)
{
    const WholeFlashCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    ASSERT_EQ(WriteFlash(c.image), 0) << Capture::Log();
    EXPECT_TRUE(receiver_->FlashContents() == c.image);
    const std::string transfer = LastTransferCommand();
    EXPECT_EQ(transfer.rfind(c.compressed ? "transfer -z 2097152 " : "transfer 2097152\r", 0), 0u) << transfer;
    EXPECT_EQ(Capture::progress.back(), 100);

    Bytes flash;
    ASSERT_EQ(ReadFlash(&flash), 0) << Capture::Log();
    EXPECT_TRUE(flash == c.image);
    EXPECT_EQ(Capture::Log(), "");
}

INSTANTIATE_TEST_SUITE_P(Images, WholeFlash,
                         ::testing::Values(WholeFlashCase{"incompressible_travels_plain", sim::RandomBytes(kFlashSize, 3), false},
                                           WholeFlashCase{"firmware_travels_compressed", sim::SampleFlash(7), true}),
                         testsupport::CaseName());

TEST_F(Proto3E2e, VersionAndChunkTable)
{
    ASSERT_NO_FATAL_FAILURE(Connect({.protocolVersion = 0x31, .flashSizeCode = 12, .flashAux = 9}));
    int32_t version = 0;
    ASSERT_EQ(Proto3GetVersion(&version), 0);
    EXPECT_EQ(version, 0x31);
    ChunkTable table{};
    ASSERT_EQ(Proto3GetChunkTable(&table), 0);
    EXPECT_EQ(table.flashSize, 0x200000u);
    EXPECT_EQ(table.flashAux, 9u);
    const auto layout = sim::SampleLayout(1);
    ASSERT_EQ(table.count, layout.size());
    for (size_t i = 0; i < layout.size(); ++i) {
        EXPECT_EQ(table.chunks[i].id, layout[i].id);
        EXPECT_EQ(table.chunks[i].nextOffset, layout[i].size);
        EXPECT_EQ(std::string(table.chunks[i].name), layout[i].name);
    }
    const auto commands = receiver_->Commands();
    EXPECT_EQ(std::vector<std::string>(commands.end() - 2, commands.end()),
              (std::vector<std::string>{"version\r", "chunk\r"}));
}

// The write job's way: keep every chunk by a move but one, which is sent anew.
TEST_F(Proto3E2e, MovesKeepChunksAroundANewOne)
{
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    ChunkTable table{};
    ASSERT_EQ(Proto3GetChunkTable(&table), 0);
    const Bytes before = receiver_->FlashContents();
    auto layout = sim::SampleLayout(1);
    layout[2].data = sim::FirmwareLikeBytes(layout[2].data.size(), 99);
    const Bytes newImage = sim::BuildImage(layout);
    uint32_t offset = 0;

    ASSERT_EQ(Proto3SetAddress(0), 0);
    for (uint32_t i = 0; i < table.count; ++i) {
        const ChunkInfo& chunk = table.chunks[i];
        const uint32_t size = ChunkSize(chunk);
        if (i == 2) {
            Bytes data(newImage.begin() + offset, newImage.begin() + offset + size);
            ASSERT_EQ(Proto3Transfer(data.data(), static_cast<int32_t>(size), testsupport::CaptureProgress,
                                     testsupport::NeverCancel),
                      0);
        } else {
            ASSERT_EQ(Proto3MoveChunk(chunk.id, chunk.id == UserDbChunkId ? 0 : chunk.nextOffset), 0);
        }
        offset += size;
    }
    ASSERT_EQ(Proto3Burn(static_cast<int32_t>(offset), testsupport::CaptureProgress), 0);
    Bytes expected = before;
    std::copy(newImage.begin(), newImage.end(), expected.begin());
    EXPECT_TRUE(receiver_->FlashContents() == expected);
    EXPECT_NE(expected, before);
    EXPECT_EQ(receiver_->Commands().back(), "burn\r");
}

struct RefusalCase {
    const char* name;
    std::function<int32_t()> operation;
    int32_t result;
};

class Refusals : public Proto3E2e, public ::testing::WithParamInterface<RefusalCase> {};

TEST_P(Refusals, TheReceiversOwnCodeComesBackAtOnce)
{
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    const size_t before = receiver_->Commands().size();
    EXPECT_EQ(GetParam().operation(), GetParam().result);
    EXPECT_EQ(receiver_->Commands().size(), before + 1) << "sent once, not retried";
    EXPECT_EQ(Capture::Log(), "");
}

int32_t DumpBeyondTheFlash()
{
    Bytes buffer(16);
    int32_t total = 0;
    return Proto3Dump(buffer.data(), 16, &total, testsupport::CaptureProgress, testsupport::NeverCancel,
                      kFlashSize - 8, 16);
}

int32_t TransferBeyondTheFlash()
{
    EXPECT_EQ(Proto3SetAddress(kFlashSize - 100), 0);
    Bytes data = sim::RandomBytes(101, 2);
    return Proto3Transfer(data.data(), 101, testsupport::CaptureProgress, testsupport::NeverCancel);
}

INSTANTIATE_TEST_SUITE_P(
    Commands, Refusals,
    ::testing::Values(RefusalCase{"move_of_an_unknown_chunk", [] { return Proto3MoveChunk(0x01020304, 0); }, 65539},
                      RefusalCase{"dump_beyond_the_flash", DumpBeyondTheFlash, 65537},
                      RefusalCase{"burn_with_nothing_assembled", [] { return Proto3Burn(100, nullptr); }, 65540},
                      RefusalCase{"address_beyond_the_flash", [] { return Proto3SetAddress(kFlashSize); }, 65537},
                      RefusalCase{"unknown_command", [] { return ExecuteCommand("erase all\r", 1000, nullptr); },
                                  65536}),
    testsupport::CaseName());

TEST_F(Proto3E2e, ATransferThatDoesNotFitIsRefusedBeforeItsData)
{
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    EXPECT_EQ(TransferBeyondTheFlash(), 65541);
    EXPECT_EQ(receiver_->Commands().back(), "transfer 101\r");
}

// A compressed download is unpacked strictly: the declared size, exactly, and nothing after.
struct StreamCase {
    const char* name;
    uint32_t declared;
    std::function<void(Bytes&)> tamper;
    uint32_t result;  // the answer to the last data packet
};

class CompressedStreams : public Proto3E2e, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(CompressedStreams, AreUnpackedStrictly)
{
    const StreamCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    const Bytes data(3000, 0x5A);
    Bytes stream = data;
    uint32_t count = 0;
    ASSERT_EQ(CompressForTransfer(stream.data(), static_cast<uint32_t>(data.size()), stream.data(), &count), 0);
    stream.resize(count);
    c.tamper(stream);

    ASSERT_EQ(Proto3SetAddress(0), 0);
    const std::string command =
        "transfer -z " + std::to_string(c.declared) + " " + std::to_string(stream.size()) + "\r";
    ASSERT_EQ(ExecuteCommand(command.c_str(), 1000, nullptr), 0);
    ASSERT_EQ(SendDataPacket(1, stream.data(), static_cast<uint32_t>(stream.size())), 0);
    UpgPacket answer;
    ASSERT_EQ(ReceivePacket(&answer, 1000), 0);
    ASSERT_EQ(answer.type, PacketResponse);
    if (c.result == 0) {
        EXPECT_EQ(answer.payload[0], StatusOk);
        ASSERT_EQ(Proto3Burn(3000, nullptr), 0);
        const Bytes flash = receiver_->FlashContents();
        EXPECT_TRUE(std::equal(data.begin(), data.end(), flash.begin()));
    } else {
        EXPECT_EQ(answer.payload[0], StatusError);
        EXPECT_EQ(GetBe32(answer.payload + 1), c.result);
        EXPECT_EQ(Proto3Burn(3000, nullptr), 65540) << "nothing was assembled";
    }
}

void SetSize(Bytes& stream, uint64_t size)
{
    for (int i = 0; i < 8; ++i) {
        stream[5 + i] = static_cast<uint8_t>(size >> (8 * i));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Streams, CompressedStreams,
    ::testing::Values(StreamCase{"intact", 3000, [](Bytes&) {}, 0},
                      StreamCase{"declared_larger_than_the_stream_gives", 3001,
                                 [](Bytes& s) { SetSize(s, 3001); }, 65540},
                      StreamCase{"declared_smaller_than_the_stream_gives", 2999,
                                 [](Bytes& s) { SetSize(s, 2999); }, 65540},
                      StreamCase{"header_disagrees_with_the_command", 3000, [](Bytes& s) { SetSize(s, 2000); }, 65540},
                      StreamCase{"unknown_size", 3000, [](Bytes& s) { SetSize(s, ~uint64_t{0}); }, 65540},
                      StreamCase{"bytes_after_the_stream", 3000, [](Bytes& s) { s.push_back(0); }, 65540}),
    testsupport::CaseName());

TEST_F(Proto3E2e, CancelledTransferAndDumpLeaveTheReceiverReady)
{
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    const Bytes image = sim::RandomBytes(256 * 1024, 8);
    ASSERT_EQ(Proto3SetAddress(0), 0);
    Bytes buffer = image;
    Capture::cancelAfterCalls = 10;
    EXPECT_EQ(Proto3Transfer(buffer.data(), static_cast<int32_t>(buffer.size()), testsupport::CaptureProgress,
                             testsupport::CancelAfter),
              UpgErrCancelled);
    EXPECT_EQ(Proto3Burn(100, nullptr), 65540) << "an aborted download assembles nothing";

    Capture::Reset();
    Capture::cancelAfterCalls = 5;
    Bytes dump(kDumpCapacity);
    int32_t total = 0;
    EXPECT_EQ(Proto3Dump(dump.data(), kDumpCapacity, &total, testsupport::CaptureProgress, testsupport::CancelAfter,
                         0, 0),
              UpgErrCancelled);

    Capture::Reset();
    ASSERT_EQ(WriteFlash(image), 0);
    Bytes flash;
    ASSERT_EQ(ReadFlash(&flash), 0);
    EXPECT_TRUE(std::equal(image.begin(), image.end(), flash.begin()));
}

struct BurnCase {
    const char* name;
    sim::BurnBehaviour burn;
    int32_t result;
    std::vector<int32_t> progress;
};

class Burns : public Proto3E2e, public ::testing::WithParamInterface<BurnCase> {};

TEST_P(Burns, FollowTheReceiversReports)
{
    const BurnCase& c = GetParam();
    ASSERT_NO_FATAL_FAILURE(Connect({.burn = c.burn}));
    const Bytes image = sim::RandomBytes(0x80000, 5);
    const int32_t result = WriteFlash(image);
    EXPECT_EQ(result, c.result);
    // Progress of the download first: 512 packets.
    ASSERT_GE(Capture::progress.size(), 512u);
    EXPECT_EQ(std::vector<int32_t>(Capture::progress.begin() + 512, Capture::progress.end()), c.progress);
    const Bytes flash = receiver_->FlashContents();
    EXPECT_EQ(std::equal(image.begin(), image.end(), flash.begin()), result == 0);
}

INSTANTIATE_TEST_SUITE_P(
    Behaviours, Burns,
    ::testing::Values(BurnCase{"f_report", {.kibPerReport = 128}, 0, {25, 50, 75, 100, 100}},
                      BurnCase{"done_response", {.kibPerReport = 256, .endWithDone = true}, 0, {50, 100, 100}},
                      BurnCase{"busy_between_reports", {.kibPerReport = 256, .busyEvery = 1}, 0, {50, 100, 100}},
                      BurnCase{"failure_report", {.kibPerReport = 256, .fail = true}, UpgErrBurnFailed, {50, 100}}),
    testsupport::CaseName());

TEST_F(Proto3E2e, RebootReturnsTheBootLoaderToItsHandshake)
{
    ASSERT_NO_FATAL_FAILURE(Connect({}));
    EXPECT_EQ(Proto3Reboot(), 0);
    EXPECT_EQ(receiver_->Commands().back(), "reboot\r");
    int32_t version = 0;
    ASSERT_EQ(UpgHandshake(&version, nullptr, testsupport::NeverCancel), 0);
    EXPECT_EQ(receiver_->HandshakesAnswered(), 2);
    EXPECT_EQ(Proto3GetVersion(&version), 0);
    EXPECT_EQ(version, 48);
}

// Under line faults the only acceptable ends are the exact data or a reported error.
struct FaultCase {
    const char* name;
    uint64_t seed;
    bool compressible;
};

class UnderFaults : public Proto3E2e, public ::testing::WithParamInterface<FaultCase> {};

TEST_P(UnderFaults, ExactDataOrAnError)
{
    const FaultCase& c = GetParam();
    constexpr size_t kSize = 64 * 1024;
    sim::ReceiverConfig config{.flash = sim::RandomBytes(kSize, c.seed + 100), .seed = c.seed};
    // Every lost packet costs a time-out of 1.5 or 2 s, so losses stay rare here; the slow
    // suite runs a whole flash.
    config.faults = {.corrupt = 0.03, .drop = 0.003, .delay = 0.03, .delayMs = 20, .noise = 0.03,
                     .lateDuplicateAck = 0.03};
    ASSERT_NO_FATAL_FAILURE(Connect(std::move(config)));
    const Bytes image = c.compressible ? sim::FirmwareLikeBytes(kSize, c.seed) : sim::RandomBytes(kSize, c.seed);

    const auto [written, read] = WriteAndReadBackJudged(image);
    EXPECT_GT(receiver_->FaultsInjected(), 0u);
    // These seeds get through; a change that turns them into errors deserves a look.
    EXPECT_EQ(written, 0) << Capture::Log();
    EXPECT_EQ(read, 0) << Capture::Log();
}

INSTANTIATE_TEST_SUITE_P(Seeds, UnderFaults,
                         ::testing::Values(FaultCase{"seed_1_plain", 1, false}, FaultCase{"seed_2_compressed", 2, true},
                                           FaultCase{"seed_3_plain", 3, false},
                                           FaultCase{"seed_4_compressed", 4, true}),
                         testsupport::CaseName());

}  // namespace
