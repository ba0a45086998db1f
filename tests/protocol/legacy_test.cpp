// The legacy byte protocol against a scripted boot loader: version reply forms, command
// answers, the raw download with its resends, the burn reports and the reboot.
#include "legacy.h"
#include "byte_script.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::Be32;
using testsupport::Bytes;
using testsupport::Capture;
using testsupport::EchoLine;
using testsupport::Join;
using testsupport::ReadBytes;
using testsupport::WithCrc;

using LegacyTest = testsupport::ScriptedDeviceTest;

// A chunk-table reply: size code 5, auxiliary byte 7, then one 128-byte record per chunk.
Bytes TableReply(size_t chunks)
{
    Bytes table = {5, 7};
    for (size_t k = 0; k < chunks; ++k) {
        Bytes record(128, 0xFF);
        PutBe32(record.data(), 0x01FE0100u + static_cast<uint32_t>(k));
        PutBe32(record.data() + 4, 0x1000);
        PutBe32(record.data() + 8, 0x2000);
        std::memcpy(record.data() + 16, "CHUNK", 6);
        table.insert(table.end(), record.begin(), record.end());
    }
    return table;
}

Bytes Length16(size_t length)
{
    return {static_cast<uint8_t>(length >> 8), static_cast<uint8_t>(length)};
}

ChunkTable Untouched()
{
    ChunkTable table{};
    table.count = 99;
    return table;
}

struct VersionCase {
    const char* name;
    Bytes reply;
    int32_t result;
    int32_t version;
    uint32_t chunks;  // 99: the table was left alone
};

class VersionReply : public LegacyTest, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(VersionReply, GivesVersionAndTable)
{
    const VersionCase& c = GetParam();
    std::string line;
    Play([&](sim::PtyLink& link) {
        line = EchoLine(link);
        link.Write(c.reply);
    });
    int32_t version = -5;
    ChunkTable table = Untouched();
    EXPECT_EQ(LegacyGetVersionAndChunks(&version, &table), c.result);
    Finish();
    EXPECT_EQ(line, "version -r\r");
    EXPECT_EQ(version, c.version);
    EXPECT_EQ(table.count, c.chunks);
    if (c.result == 0 && c.chunks > 0) {
        EXPECT_EQ(table.chunks[0].id, 0x01FE0100u);
        EXPECT_EQ(table.flashAux, 7u);
    }
}

const Bytes kOneChunk = TableReply(1);
const Bytes kThreeChunks = TableReply(3);
const Bytes kFifteenChunks = [] {
    Bytes table = TableReply(15);
    table.resize(2048, 0xFF);
    return table;
}();
const Bytes kTooLong = [] {
    Bytes table = TableReply(15);
    table.resize(2049, 0xFF);
    return table;
}();

INSTANTIATE_TEST_SUITE_P(
    Legacy, VersionReply,
    ::testing::Values(
        VersionCase{"marker_b721_gives_33", Join({{0xB7, 0x21}, Length16(kOneChunk.size()), WithCrc(kOneChunk)}), 0, 33, 1},
        // 01 82 is no marker but the length: 386 bytes, three records.
        VersionCase{"no_marker_01_82_announces_three_chunks", Join({{0x01, 0x82}, WithCrc(kThreeChunks)}), 0, 0, 3},
        VersionCase{"table_of_exactly_2048_bytes", Join({{0x08, 0x00}, WithCrc(kFifteenChunks)}), 0, 0, 15},
        // B7 20 is below the first marker, so it announces 46880 bytes: more than the buffer.
        VersionCase{"b720_is_a_length_too_long_for_the_buffer", Join({{0xB7, 0x20}, Bytes(64, 0x55)}), 23, 0, 99},
        VersionCase{"table_of_2049_bytes_is_refused", Join({{0xB7, 0x2F}, Length16(kTooLong.size()), WithCrc(kTooLong)}), 23, 47, 99},
        VersionCase{"crc_mismatch_keeps_the_table_but_sets_the_version",
                    Join({{0xB7, 0x2F}, Length16(kOneChunk.size()), kOneChunk, Be32(0x12345678)}), 23, 47, 99},
        VersionCase{"nothing_after_the_marker", Bytes{0xB7, 0x21}, 8, 33, 99},
        VersionCase{"no_reply_leaves_the_version_alone", Bytes{}, 8, -5, 99}),
    testsupport::CaseName());

struct CommandCase {
    const char* name;
    std::function<int32_t()> call;
    const char* line;
    Bytes answer;
    int32_t result;
};

class CommandAnswer : public LegacyTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(CommandAnswer, IsTakenFromOneLetter)
{
    const CommandCase& c = GetParam();
    std::string line;
    Bytes afterAnswer;
    Play([&](sim::PtyLink& link) {
        line = EchoLine(link);
        link.Write(c.answer);
        // Whatever the PC sends after the answer (nothing is expected).
        uint8_t byte = 0;
        while (link.ReadExact(&byte, 1, std::chrono::milliseconds(200))) {
            afterAnswer.push_back(byte);
        }
    });
    EXPECT_EQ(c.call(), c.result);
    Finish();
    EXPECT_EQ(line, c.line);
    EXPECT_TRUE(afterAnswer.empty());
}

const uint8_t kTenBytes[10] = {};

INSTANTIATE_TEST_SUITE_P(
    Legacy, CommandAnswer,
    ::testing::Values(
        CommandCase{"address_accepted", [] { return LegacySetAddress(65536); }, "address 65536\r", {'O'}, 0},
        CommandCase{"address_refused", [] { return LegacySetAddress(0); }, "address 0\r", {'E'}, 10},
        CommandCase{"address_unanswered", [] { return LegacySetAddress(4294967295u); }, "address 4294967295\r", {}, 8},
        CommandCase{"move_accepted", [] { return LegacyMoveChunk(0x01FE0100u, 0); }, "move 33423616 0\r", {'O'}, 0},
        CommandCase{"move_any_other_letter_is_an_error", [] { return LegacyMoveChunk(0x04FB0100u, 0x3F0); },
                    "move 83558656 1008\r", {'X'}, 10},
        CommandCase{"transferraw_refused", [] { return LegacyTransferRaw(kTenBytes, 10, nullptr, nullptr); },
                    "transferraw 10\r", {'E'}, 10},
        CommandCase{"transferraw_of_nothing_sends_no_block", [] { return LegacyTransferRaw(kTenBytes, 0, nullptr, nullptr); },
                    "transferraw 0\r", {'O'}, 0},
        CommandCase{"burn_refused", [] { return LegacyBurn(1024, nullptr); }, "burn\r", {'E'}, 10},
        // The reboot waits for no answer: the boot loader restarts.
        CommandCase{"reboot_needs_no_answer", [] { return LegacyReboot(); }, "reboot\r", {}, 0}),
    testsupport::CaseName());

TEST_F(LegacyTest, AWrongEchoFailsTheCommandWith5)
{
    for (const auto& call : std::vector<std::function<int32_t()>>{[] { return LegacySetAddress(1); }, [] { return LegacyReboot(); }}) {
        Play([](sim::PtyLink& link) {
            uint8_t byte = 0;
            if (link.ReadExact(&byte, 1, testsupport::kScriptWait)) {
                byte ^= 0x20;
                link.Write(&byte, 1);
            }
        });
        EXPECT_EQ(call(), 5);
        Finish();
    }
}

TEST_F(LegacyTest, DownloadOf2500BytesGoesInThreeBlocksWithTheirCrcs)
{
    const Bytes data = testsupport::PatternBytes(2500, 1);
    std::string line;
    std::vector<Bytes> frames;
    Play([&](sim::PtyLink& link) {
        line = EchoLine(link);
        link.Write(Bytes{'O'});
        for (size_t size : {1024u, 1024u, 452u}) {
            frames.push_back(ReadBytes(link, size + 4));
            link.Write(Bytes{'O'});
        }
    });
    EXPECT_EQ(LegacyTransferRaw(data.data(), 2500, testsupport::CaptureProgress, testsupport::NeverCancel), 0);
    Finish();
    EXPECT_EQ(line, "transferraw 2500\r");
    ASSERT_EQ(frames.size(), 3u);
    size_t offset = 0;
    for (const Bytes& frame : frames) {
        ASSERT_GE(frame.size(), 4u);
        const Bytes block(data.begin() + static_cast<long>(offset), data.begin() + static_cast<long>(offset + frame.size() - 4));
        EXPECT_EQ(frame, WithCrc(block));
        offset += block.size();
    }
    EXPECT_EQ(offset, data.size());
    EXPECT_EQ(Capture::progress, (std::vector<int32_t>{40, 81, 100}));
}

struct ResendCase {
    const char* name;
    std::string answers;  // one letter per copy of the block the PC sends
    int cancelAfter;      // -1: never
    int32_t result;
    std::vector<int32_t> progress;
};

class BlockResend : public LegacyTest, public ::testing::WithParamInterface<ResendCase> {};

TEST_P(BlockResend, StopsAtTheRightCopy)
{
    const ResendCase& c = GetParam();
    const Bytes data = testsupport::PatternBytes(1024, 2);
    std::vector<Bytes> copies;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        link.Write(Bytes{'O'});
        for (char answer : c.answers) {
            copies.push_back(ReadBytes(link, 1028));
            link.Write(Bytes{static_cast<uint8_t>(answer)});
        }
    });
    Capture::cancelAfterCalls = c.cancelAfter;
    EXPECT_EQ(LegacyTransferRaw(data.data(), 1024, testsupport::CaptureProgress, testsupport::CancelAfter), c.result);
    Finish();
    ASSERT_EQ(copies.size(), c.answers.size());
    for (const Bytes& copy : copies) {
        EXPECT_EQ(copy, WithCrc(data));
    }
    EXPECT_EQ(Capture::progress, c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, BlockResend,
    ::testing::Values(ResendCase{"four_refusals_then_accepted", "EEEEO", -1, 0, {100}},
                      ResendCase{"fifth_refusal_gives_12", "EEEEE", -1, 12, {}},
                      ResendCase{"unknown_letter_gives_11", "X", -1, 11, {}},
                      ResendCase{"cancel_before_a_resend_gives_6", "E", 1, 6, {}}),
    testsupport::CaseName());

struct BurnCase {
    const char* name;
    int32_t size;
    std::string reports;
    int32_t result;
    std::vector<int32_t> progress;
};

class BurnReports : public LegacyTest, public ::testing::WithParamInterface<BurnCase> {};

TEST_P(BurnReports, BecomePercentages)
{
    const BurnCase& c = GetParam();
    std::string line;
    Play([&](sim::PtyLink& link) {
        line = EchoLine(link);
        link.Write(std::string("O") + c.reports);
    });
    EXPECT_EQ(LegacyBurn(c.size, testsupport::CaptureProgress), c.result);
    Finish();
    EXPECT_EQ(line, "burn\r");
    EXPECT_EQ(Capture::progress, c.progress);
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, BurnReports,
    ::testing::Values(
        BurnCase{"kib_0256_of_512_kib_is_50", 524288, "B0256\r\nF", 0, {50, 100}},
        BurnCase{"stray_bytes_are_skipped", 524288, std::string("xyz\0", 4) + "B0128\r\nqqB0384..F", 0, {25, 75, 100}},
        BurnCase{"blanks_sign_and_clamping", 524288, "B  64\r\nB-001\r\nB9999\r\nF", 0, {12, 0, 100, 100}},
        // Without a size there is no percentage to give; the burn still runs to its end.
        BurnCase{"size_0_reports_only_the_end", 0, "B0100\r\nF", 0, {100}},
        BurnCase{"negative_size_reports_only_the_end", -4096, "B0100\r\nF", 0, {100}},
        BurnCase{"failure_report_gives_13", 524288, "B0128\r\nEFLASHERR", 13, {25}},
        BurnCase{"failure_report_cut_short_gives_8", 524288, "EFLA", 8, {}},
        BurnCase{"progress_report_cut_short_gives_8", 524288, "B01", 8, {}}),
    testsupport::CaseName());

}  // namespace
