#include "proto3.h"
#include "scripted_device.h"

#include "flashmate/bytes.h"
#include "flashmate/errors.h"
#include "sim/image.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::Capture;
using testsupport::Corrupted;
using testsupport::DataReply;
using testsupport::Reply;

using BulkTest = testsupport::ScriptedDeviceTest;


// An answer in a script: "ok" (the number asked about), "ok:N", "done", "error:N", "corrupt"
// (an acknowledgement with a bad CRC), "stray" (an answer under another id), "silence".
Bytes Answer(const sim::Packet& to, const std::string& token)
{
    if (token == "ok") {
        return Reply(to, sim::wire::Ok, to.Number());
    }
    if (token.rfind("ok:", 0) == 0) {
        return Reply(to, sim::wire::Ok, static_cast<uint32_t>(std::stoul(token.substr(3))));
    }
    if (token == "done") {
        return Reply(to, sim::wire::Done, 0);
    }
    if (token.rfind("error:", 0) == 0) {
        return Reply(to, sim::wire::Error, static_cast<uint32_t>(std::stoul(token.substr(6))));
    }
    if (token == "corrupt") {
        return Corrupted(Reply(to, sim::wire::Ok, to.Number()));
    }
    if (token == "stray") {
        return sim::EncodeResponse(to.id + 1, 0, sim::wire::Ok, to.Number());
    }
    return {};
}

// What the PC sent after the command, one word per packet: D<number>:<data bytes> for data,
// R<number> for a request, A for the abort response.
std::string Describe(const std::vector<sim::Packet>& packets, uint32_t commandId)
{
    std::string text;
    for (size_t i = 1; i < packets.size(); ++i) {
        const sim::Packet& packet = packets[i];
        EXPECT_EQ(packet.id, commandId) << "packet " << i;
        if (!text.empty()) {
            text += ' ';
        }
        switch (packet.type) {
        case sim::wire::Data:
            text += "D" + std::to_string(packet.Number()) + ":" + std::to_string(packet.payload.size() - 4);
            break;
        case sim::wire::Request: text += "R" + std::to_string(packet.Number()); break;
        case sim::wire::Response:
            text += packet.payload == Bytes{4, 0, 0, 0, 0} ? "A" : "?";
            break;
        default: text += "?"; break;
        }
    }
    return text;
}

const std::string kDownloadWarning = "\r\n->Warning:download packet:";
const std::string kDumpWarning = "\r\n->Warning:dump packet:";

// ---- download ----

struct TransferCase {
    const char* name;
    size_t size;
    std::map<int, std::string> answers;  // by index of the packet after the command; "ok" otherwise
    std::string packets;
    int32_t result;
    std::vector<int32_t> progress;
    std::string log;
    int cancelAfter = -1;
};

class TransferTest : public BulkTest, public ::testing::WithParamInterface<TransferCase> {};

TEST_P(TransferTest, StopAndWait)
{
    const TransferCase& c = GetParam();
    // Random bytes do not compress, so they travel as they are.
    const Bytes data = sim::RandomBytes(c.size, 1);
    std::map<uint32_t, Bytes> received;
    int index = -1;
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        if (packet.type == sim::wire::Command) {
            return {Reply(packet, sim::wire::Ok, 0)};
        }
        ++index;
        const auto it = c.answers.find(index);
        if (packet.type == sim::wire::Data) {
            received[packet.Number()] = Bytes(packet.payload.begin() + 4, packet.payload.end());
        }
        return {Answer(packet, it == c.answers.end() ? "ok" : it->second)};
    });
    Capture::cancelAfterCalls = c.cancelAfter;
    Bytes buffer = data;
    EXPECT_EQ(Proto3Transfer(buffer.data(), static_cast<int32_t>(buffer.size()), testsupport::CaptureProgress,
                             testsupport::CancelAfter),
              c.result);
    const auto packets = StopDevice();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].Text(), "transfer " + std::to_string(c.size) + "\r");
    EXPECT_EQ(Describe(packets, packets[0].id), c.packets);
    EXPECT_EQ(Capture::progress, c.progress);
    EXPECT_EQ(Capture::Log(), c.log);
    for (const auto& message : Capture::messages) {
        if (message.text.rfind("\r\n->Error:", 0) != 0) {
            EXPECT_EQ(message.level, 2u) << message.text;
        }
    }
    // The data packets, each as last sent, are the data in order (their sizes are above).
    Bytes joined;
    for (const auto& [number, bytes] : received) {
        joined.insert(joined.end(), bytes.begin(), bytes.end());
    }
    ASSERT_LE(joined.size(), data.size());
    EXPECT_TRUE(std::equal(joined.begin(), joined.end(), data.begin()));
}

const std::string kBadCrc = "\r\n->Error:Ошибка проверки пакета данных CRC!";

INSTANTIATE_TEST_SUITE_P(
    Scripts, TransferTest,
    ::testing::Values(
        TransferCase{"plain_2500_bytes", 2500, {}, "D1:1024 D2:1024 D3:452", 0, {40, 81, 100}, ""},
        TransferCase{"nothing_to_send", 0, {}, "", 0, {}, ""},
        TransferCase{"done_ends_it_early", 2500, {{0, "done"}}, "D1:1024", 0, {100}, ""},
        // A lost acknowledgement: ask about the packet instead of sending it again.
        TransferCase{"lost_ack_asks_first", 2500, {{1, "corrupt"}}, "D1:1024 D2:1024 R2 D3:452", 0, {40, 81, 100},
                     kBadCrc},
        TransferCase{"receiver_lacks_the_packet", 2500, {{1, "corrupt"}, {2, "ok:1"}},
                     "D1:1024 D2:1024 R2 D2:1024 D3:452", 0, {40, 81, 100}, kBadCrc},
        // A stale acknowledgement is no failure: the packet just goes out again.
        TransferCase{"stale_ack_resends_the_data", 2500, {{1, "ok:1"}}, "D1:1024 D2:1024 D2:1024 D3:452", 0,
                     {40, 81, 100}, ""},
        TransferCase{"small_error_is_retried", 2500, {{0, "error:5"}}, "D1:1024 R1 D2:1024 D3:452", 0, {40, 81, 100},
                     ""},
        TransferCase{"receiver_error_ends_it", 2500, {{1, "error:65540"}}, "D1:1024 D2:1024", 65540, {40}, ""},
        TransferCase{"wrong_id_is_a_failure", 1024, {{0, "stray"}}, "D1:1024 R1", 0, {100}, ""},
        TransferCase{"third_failure_warns_then_dot_then_ok", 2500,
                     {{1, "error:5"}, {2, "error:5"}, {3, "error:5"}, {4, "error:5"}},
                     "D1:1024 D2:1024 R2 R2 R2 R2 D3:452", 0, {40, 81, 100}, kDownloadWarning + "2 Error! Retry..OK"},
        // One or two failures stay counted across successes: the third warns however late.
        TransferCase{"failures_add_up_across_successes", 4096, {{0, "error:5"}, {2, "error:5"}, {4, "error:5"}},
                     "D1:1024 R1 D2:1024 R2 D3:1024 R3 D4:1024", 0, {25, 50, 75, 100},
                     kDownloadWarning + "3 Error! Retry.OK"},
        TransferCase{"cancel_sends_the_abort", 2500, {}, "D1:1024 A", UpgErrCancelled, {40}, "", 1}),
    testsupport::CaseName());

TEST_F(BulkTest, CompressibleDataTravelsCompressedWithBothCounts)
{
    const Bytes data = sim::FirmwareLikeBytes(20000, 4);
    Bytes received;
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        if (packet.type == sim::wire::Data) {
            received.insert(received.end(), packet.payload.begin() + 4, packet.payload.end());
        }
        return {Reply(packet, sim::wire::Ok, packet.type == sim::wire::Command ? 0 : packet.Number())};
    });
    Bytes buffer = data;
    ASSERT_EQ(Proto3Transfer(buffer.data(), static_cast<int32_t>(buffer.size()), testsupport::CaptureProgress,
                             testsupport::NeverCancel),
              0);
    const auto packets = StopDevice();
    ASSERT_LT(received.size(), data.size());
    EXPECT_EQ(packets[0].Text(), "transfer -z 20000 " + std::to_string(received.size()) + "\r");
    EXPECT_EQ(received[0], 0x6C);
    EXPECT_TRUE(std::equal(received.begin(), received.end(), buffer.begin())) << "the stream sent is the buffer's start";
    EXPECT_EQ(Capture::progress.back(), 100);
}

TEST_F(BulkTest, ANegativeCountSendsNothing)
{
    RunDevice([](const sim::Packet& packet) -> std::vector<Bytes> { return {Reply(packet, sim::wire::Ok, 0)}; });
    uint8_t byte = 0;
    EXPECT_EQ(Proto3Transfer(&byte, -1, testsupport::CaptureProgress, testsupport::NeverCancel), UpgErrGeneric);
    EXPECT_TRUE(StopDevice().empty());
}

// ---- dump ----

uint8_t Pattern(size_t offset)
{
    return static_cast<uint8_t>(offset * 7 + 3);
}

struct DumpCase {
    const char* name;
    uint32_t total;                      // announced in packet 0
    std::vector<uint32_t> sizes;         // data bytes of packets 1, 2, ...; 0xFFFF... none
    std::map<int, std::string> answers;  // by index of the request; "data" otherwise
    uint32_t capacity;
    std::string requests;
    int32_t result;
    int32_t totalOut;
    std::vector<int32_t> progress;
    std::string log;
    int cancelAfter = -1;
};

class DumpTest : public BulkTest, public ::testing::WithParamInterface<DumpCase> {};

// Besides the tokens of Answer: "data" (the packet asked for), "number1" (packet 1 when 0 was
// asked for), "short" (a data packet of 2 bytes), "total4" (packet 0 without its total),
// "blank" (the packet asked for, sent blank).
TEST_P(DumpTest, RequestsStoresAndRefuses)
{
    const DumpCase& c = GetParam();
    int index = -1;
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        if (packet.type == sim::wire::Command) {
            return {Reply(packet, sim::wire::Ok, 0)};
        }
        if (packet.type != sim::wire::Request) {
            return {};
        }
        ++index;
        const auto it = c.answers.find(index);
        const std::string token = it == c.answers.end() ? "data" : it->second;
        const uint32_t k = packet.Number();
        if (token == "number1" || (token == "data" && k == 0)) {
            Bytes total(4);
            PutBe32(total.data(), c.total);
            return {DataReply(packet, token == "number1" ? 1 : 0, total)};
        }
        if (token == "short") {
            return {sim::EncodePacket(sim::wire::Data, packet.id, packet.seq, {0, 0})};
        }
        if (token == "total4") {
            return {DataReply(packet, 0, {})};
        }
        if (token == "data" || token == "blank") {
            size_t offset = 0;
            for (uint32_t i = 1; i < k; ++i) {
                offset += c.sizes[i - 1];
            }
            const uint32_t size = c.sizes[k - 1];
            if (token == "blank") {
                return {sim::EncodeBlankData(packet.id, packet.seq, k, size + 4)};
            }
            Bytes data(size);
            for (size_t i = 0; i < size; ++i) {
                data[i] = Pattern(offset + i);
            }
            return {DataReply(packet, k, data)};
        }
        return {Answer(packet, token)};
    });
    Capture::cancelAfterCalls = c.cancelAfter;
    // Room behind the capacity shows that nothing is written past it.
    Bytes buffer(c.capacity + 64, 0xA5);
    int32_t total = -1;
    EXPECT_EQ(Proto3Dump(buffer.data(), c.capacity, &total, testsupport::CaptureProgress, testsupport::CancelAfter,
                         0x10000, 3000),
              c.result);
    const auto packets = StopDevice();
    ASSERT_FALSE(packets.empty());
    EXPECT_EQ(packets[0].Text(), "dump 65536 3000\r");
    EXPECT_EQ(Describe(packets, packets[0].id), c.requests);
    EXPECT_EQ(total, c.totalOut);
    EXPECT_EQ(Capture::progress, c.progress);
    EXPECT_EQ(Capture::Log(), c.log);
    for (size_t i = c.capacity; i < buffer.size(); ++i) {
        ASSERT_EQ(buffer[i], 0xA5) << "written past the capacity at " << i;
    }
    if (c.result == 0) {
        for (size_t i = 0; i < static_cast<size_t>(total); ++i) {
            const bool blank = c.answers.count(2) != 0 && c.answers.at(2) == "blank" && i >= c.sizes[0];
            ASSERT_EQ(buffer[i], blank ? 0xFF : Pattern(i)) << i;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Scripts, DumpTest,
    ::testing::Values(
        DumpCase{"three_thousand_bytes", 3000, {2040, 960}, {}, 0x800000, "R0 R1 R2", 0, 3000, {68, 100}, ""},
        DumpCase{"blank_packets_arrive_expanded", 3000, {2040, 960}, {{2, "blank"}}, 0x800000, "R0 R1 R2", 0, 3000,
                 {68, 100}, ""},
        DumpCase{"packet_1_before_0_is_a_failure", 3000, {2040, 960}, {{0, "number1"}}, 0x800000, "R0 R0 R1 R2", 0,
                 3000, {68, 100}, ""},
        DumpCase{"done_before_the_end", 3000, {2040, 960}, {{2, "done"}}, 0x800000, "R0 R1 R2",
                 UpgErrNotAllDataRead, 3000, {68}, ""},
        DumpCase{"receiver_error_is_returned", 3000, {2040, 960}, {{1, "error:65538"}}, 0x800000, "R0 R1", 65538,
                 3000, {}, ""},
        // A receiver that delivers more than it announced: kept (the buffer has room), and the
        // progress stops at 100.
        DumpCase{"more_than_announced", 3000, {2040, 2040}, {}, 0x800000, "R0 R1 R2", 0, 3000, {68, 100}, ""},
        DumpCase{"total_0_is_a_generic_error", 0, {}, {}, 0x800000, "R0", UpgErrGeneric, 0, {}, ""},
        DumpCase{"short_packets_are_retried", 3000, {2040, 960}, {{0, "total4"}, {2, "short"}}, 0x800000,
                 "R0 R0 R1 R1 R2", 0, 3000, {68, 100}, ""},
        DumpCase{"third_failure_warns_then_dot_then_ok", 3000, {2040, 960},
                 {{1, "corrupt"}, {2, "stray"}, {3, "short"}, {4, "ok"}}, 0x800000, "R0 R1 R1 R1 R1 R1 R2", 0,
                 3000, {68, 100}, kBadCrc + kDumpWarning + "1 Error! Retry..OK"},
        // Refusals stop the receiver too and write nothing past the buffer.
        DumpCase{"total_beyond_the_buffer", 3000, {2040, 960}, {}, 2999, "R0 A", UpgErrDumpLength, 0, {}, ""},
        DumpCase{"packet_beyond_the_buffer", 3000, {2040, 2040}, {}, 3000, "R0 R1 R2 A", UpgErrDumpLength, 3000, {68},
                 ""},
        DumpCase{"cancel_sends_the_abort", 3000, {2040, 960}, {}, 0x800000, "R0 R1 A", UpgErrCancelled, 3000, {68},
                 "", 2}),
    testsupport::CaseName());

}  // namespace
