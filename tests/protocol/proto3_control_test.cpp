#include "proto3.h"
#include "scripted_device.h"

#include "flashmate/bytes.h"
#include "flashmate/errors.h"
#include "sim/flash.h"
#include "sim/image.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::Capture;
using testsupport::DataReply;
using testsupport::Reply;

using ControlTest = testsupport::ScriptedDeviceTest;

// ---- version and chunk table ----

struct DataCommandCase {
    const char* name;
    std::vector<Bytes> answers;  // data payloads after the number field; empty: an error response
    uint32_t error;              // the error response's value
    int32_t result;
};

class VersionTest : public ControlTest, public ::testing::WithParamInterface<DataCommandCase> {};

TEST_P(VersionTest, ReadsBytesFourToSeven)
{
    const DataCommandCase& c = GetParam();
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        if (c.answers.empty()) {
            return {Reply(packet, sim::wire::Error, c.error)};
        }
        return {DataReply(packet, 0, c.answers.front())};
    });
    int32_t version = -7;
    EXPECT_EQ(Proto3GetVersion(&version), c.result);
    const auto packets = StopDevice();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].Text(), "version\r");
    if (c.result != 0) {
        EXPECT_EQ(version, -7) << "left untouched on failure";
    } else {
        Bytes field = c.answers.front();
        field.resize(4, 0);
        EXPECT_EQ(version, static_cast<int32_t>(GetBe32(field.data())));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, VersionTest,
    ::testing::Values(DataCommandCase{"protocol_3_0", {{0, 0, 0, 0x30}}, 0, 0},
                      // The answer buffer was zeroed, so what the receiver left out reads as 0.
                      DataCommandCase{"number_field_only_gives_0", {{}}, 0, 0},
                      DataCommandCase{"two_bytes_only", {{0x12, 0x34}}, 0, 0},
                      DataCommandCase{"receiver_error", {}, 65536, 65536}),
    testsupport::CaseName());

TEST_F(ControlTest, ChunkTableIsParsedFromByteFourOn)
{
    const sim::Flash flash(sim::SampleFlash(3));
    const Bytes reply = flash.TableReply(5, 0x42);
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> { return {DataReply(packet, 0, reply)}; });
    ChunkTable table{};
    ASSERT_EQ(Proto3GetChunkTable(&table), 0);
    EXPECT_EQ(StopDevice().front().Text(), "chunk\r");
    EXPECT_EQ(table.flashSize, 0x200000u);
    EXPECT_EQ(table.flashAux, 0x42u);
    const auto chunks = flash.Chunks();
    ASSERT_EQ(table.count, chunks.size());
    for (size_t i = 0; i < chunks.size(); ++i) {
        EXPECT_EQ(table.chunks[i].id, chunks[i].id);
    }
    EXPECT_STREQ(table.chunks[1].name, "MAINCODE");
}

struct ShortTableCase {
    const char* name;
    Bytes payload;  // the whole data payload, number field included
    int32_t result;
    uint32_t count;  // chunks in the table afterwards
};

class ShortTableTest : public ControlTest, public ::testing::WithParamInterface<ShortTableCase> {};

TEST_P(ShortTableTest, EmptyOrRefused)
{
    const ShortTableCase& c = GetParam();
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        return {sim::EncodePacket(sim::wire::Data, packet.id, packet.seq, c.payload)};
    });
    ChunkTable table{};
    table.count = 3;
    table.flashSize = 77;
    EXPECT_EQ(Proto3GetChunkTable(&table), c.result);
    EXPECT_EQ(table.count, c.count);
    if (c.result != 0) {
        EXPECT_EQ(table.flashSize, 77u) << "a refused answer leaves the table alone";
    }
}

INSTANTIATE_TEST_SUITE_P(
    Answers, ShortTableTest,
    ::testing::Values(ShortTableCase{"number_field_only_is_an_empty_table", {0, 0, 0, 0}, 0, 0},
                      // Shorter than the number field: broken, and the old table stays.
                      ShortTableCase{"two_bytes_are_refused", {0, 0}, UpgErrNotAllDataReceived, 3},
                      ShortTableCase{"nothing_is_refused", {}, UpgErrNotAllDataReceived, 3}),
    testsupport::CaseName());

// ---- address and move ----

TEST_F(ControlTest, AddressAndMoveFormatUnsignedNumbers)
{
    RunDevice([](const sim::Packet& packet) -> std::vector<Bytes> { return {Reply(packet, sim::wire::Ok, 0)}; });
    EXPECT_EQ(Proto3SetAddress(0x80000000u), 0);
    EXPECT_EQ(Proto3MoveChunk(UserDbChunkId, 0), 0);
    const auto packets = StopDevice();
    ASSERT_EQ(packets.size(), 2u);
    EXPECT_EQ(packets[0].Text(), "address 2147483648\r");
    EXPECT_EQ(packets[1].Text(), "move 83558656 0\r");
    EXPECT_NE(packets[0].id, packets[1].id);
}

TEST_F(ControlTest, MoveOfAnUnknownChunkReturnsTheReceiversCode)
{
    RunDevice([](const sim::Packet& packet) -> std::vector<Bytes> {
        return {Reply(packet, sim::wire::Error, 65539)};
    });
    EXPECT_EQ(Proto3MoveChunk(0x01020304, 5), 65539);
    EXPECT_EQ(StopDevice().size(), 1u);
    EXPECT_EQ(Capture::Log(), "");
}

// ---- burn ----

// What the device sends, one token per packet: "B0512" a progress report with these digits,
// "F" and "E" the end reports, "Z" a report with an unknown letter, "busy", "done", "error:N"
// responses, and "stray" a response under another id.
Bytes Token(const sim::Packet& burn, const std::string& token)
{
    if (token == "busy") {
        return Reply(burn, sim::wire::Busy, 0);
    }
    if (token == "done") {
        return Reply(burn, sim::wire::Done, 0);
    }
    if (token.rfind("error:", 0) == 0) {
        return Reply(burn, sim::wire::Error, static_cast<uint32_t>(std::stoul(token.substr(6))));
    }
    if (token == "stray") {
        return sim::EncodeResponse(burn.id + 1, 0, sim::wire::Done, 0);
    }
    return DataReply(burn, 1, Bytes(token.begin(), token.end()));
}

struct BurnCase {
    const char* name;
    int32_t size;
    std::vector<std::string> afterAck;  // sent right after the command's acknowledgement
    std::string requery;                // answer to the quiet repeat of "burn\r"; "" when none is expected
    int32_t result;
    std::vector<int32_t> progress;
};

class BurnTest : public ControlTest, public ::testing::WithParamInterface<BurnCase> {};

TEST_P(BurnTest, FollowsTheReports)
{
    const BurnCase& c = GetParam();
    int commands = 0;
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        if (commands++ > 0) {
            return {Token(packet, c.requery.empty() ? "done" : c.requery)};
        }
        std::vector<Bytes> answers{Reply(packet, sim::wire::Ok, 0)};
        for (const std::string& token : c.afterAck) {
            answers.push_back(Token(packet, token));
        }
        return answers;
    });
    EXPECT_EQ(Proto3Burn(c.size, testsupport::CaptureProgress), c.result);
    EXPECT_EQ(Capture::progress, c.progress);
    const auto packets = StopDevice();
    ASSERT_EQ(packets.size(), c.requery.empty() ? 1u : 2u);
    for (uint8_t i = 0; i < packets.size(); ++i) {
        EXPECT_EQ(packets[i].Text(), "burn\r");
        EXPECT_EQ(packets[i].id, packets[0].id) << "the repeat continues the burn's id";
        EXPECT_EQ(packets[i].seq, i);
    }
    EXPECT_EQ(Capture::Log(), "");
}

const std::vector<std::string> kFiveStray(5, "stray");
const std::vector<std::string> kFourStray(4, "stray");

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

INSTANTIATE_TEST_SUITE_P(
    Reports, BurnTest,
    ::testing::Values(
        BurnCase{"kib_reports_then_f", 1048576, {"B0512", "B1024", "F"}, "", 0, {50, 100, 100}},
        BurnCase{"ended_by_done", 1048576, {"B0256", "done"}, "", 0, {25, 100}},
        BurnCase{"beyond_the_size_is_100", 1048576, {"B2000", "F"}, "", 0, {100, 100}},
        BurnCase{"negative_digits_give_0", 1048576, {"B-123", "F"}, "", 0, {0, 100}},
        BurnCase{"only_four_digits_count", 2468 * 1024, {"B12345", "F"}, "", 0, {50, 100}},
        BurnCase{"leading_blanks_are_skipped", 1024 * 100, {"B  25", "F"}, "", 0, {25, 100}},
        // No percentage without a size; the end still reports 100.
        BurnCase{"size_0_gives_no_percentage", 0, {"B0512", "F"}, "", 0, {100}},
        BurnCase{"negative_size_gives_no_percentage", -4096, {"B0512", "B1024", "done"}, "", 0, {100}},
        BurnCase{"e_report_fails_with_13", 1048576, {"B0256", "E"}, "", UpgErrBurnFailed, {25}},
        BurnCase{"receiver_error_is_returned", 1048576, {"error:65540"}, "", 65540, {}},
        BurnCase{"error_0_returns_0_without_100", 1048576, {"error:0"}, "", 0, {}},
        BurnCase{"busy_resets_the_count", 1048576,
                 Join(Join(Join({"busy"}, kFourStray), {"busy"}), Join(kFourStray, {"F"})), "", 0, {100}},
        BurnCase{"five_unusable_ask_again", 1048576, kFiveStray, "done", 0, {100}},
        BurnCase{"four_after_a_report_ask_again", 1048576, Join({"B0512"}, kFourStray), "done", 0, {50, 100}},
        BurnCase{"unknown_letters_are_unusable", 1048576, std::vector<std::string>(5, "Z"), "busy", 0, {100}},
        BurnCase{"the_answer_to_asking_again_decides", 1048576, kFiveStray, "error:65540", 65540, {}}),
    testsupport::CaseName());

TEST_F(ControlTest, RebootIsOneCommand)
{
    RunDevice([](const sim::Packet& packet) -> std::vector<Bytes> { return {Reply(packet, sim::wire::Ok, 0)}; });
    EXPECT_EQ(Proto3Reboot(), 0);
    const auto packets = StopDevice();
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0].Text(), "reboot\r");
}

}  // namespace
