// The legacy dumps against a scripted boot loader: the byte stream, the packet forms by version,
// header CRCs, blank packets, refused packets, repeats, and the caller's buffer as a hard limit.
#include "legacy.h"
#include "byte_script.h"

#include <gtest/gtest.h>

#include <algorithm>
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

using LegacyDumpTest = testsupport::ScriptedDeviceTest;

constexpr uint8_t kGuard = 0xA5;

// The caller's buffer, with guard bytes behind its capacity that must stay untouched.
struct DumpBuffer {
    explicit DumpBuffer(uint32_t size) : capacity(size), bytes(size + 64, kGuard) {}
    Bytes Data(int32_t total) const { return Bytes(bytes.begin(), bytes.begin() + total); }
    bool GuardIntact() const
    {
        return std::all_of(bytes.begin() + capacity, bytes.end(), [](uint8_t b) { return b == kGuard; });
    }
    uint32_t capacity;
    Bytes bytes;
};

// ---- Stream dump (versions below 32) ----

struct StreamCase {
    const char* name;
    uint32_t announced;
    size_t sent;  // data bytes the device sends (those of the announced total, or fewer)
    enum Crc { Good, Bad, None } crc;
    uint32_t capacity;
    int cancelAfter;
    int32_t result;
    bool expectGo;  // the PC asks for the data with 'O'
};

class StreamDump : public LegacyDumpTest, public ::testing::WithParamInterface<StreamCase> {};

TEST_P(StreamDump, EndsAsTheBytesDemand)
{
    const StreamCase& c = GetParam();
    const Bytes data = testsupport::PatternBytes(c.sent, 3);
    bool gotGo = false;
    Play([&](sim::PtyLink& link) {
        if (EchoLine(link) != "dump\r") {
            return;
        }
        link.Write(Be32(c.announced));
        uint8_t go = 0;
        if (!link.ReadExact(&go, 1, std::chrono::milliseconds(500)) || go != 'O') {
            return;
        }
        gotGo = true;
        link.Write(data);
        if (c.crc != StreamCase::None) {
            link.Write(Be32(testsupport::Crc(data) ^ (c.crc == StreamCase::Bad ? 1u : 0u)));
        }
    });
    DumpBuffer buffer(c.capacity);
    Capture::cancelAfterCalls = c.cancelAfter;
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpStream(buffer.bytes.data(), buffer.capacity, &total, nullptr, testsupport::CancelAfter), c.result);
    Finish();
    EXPECT_EQ(gotGo, c.expectGo);
    EXPECT_EQ(static_cast<uint32_t>(total), c.announced);
    EXPECT_TRUE(buffer.GuardIntact());
    if (c.result == 0) {
        EXPECT_EQ(buffer.Data(total), data);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, StreamDump,
    ::testing::Values(
        StreamCase{"checked_by_its_crc", 700, 700, StreamCase::Good, 4096, -1, 0, true},
        StreamCase{"without_crc_accepted_after_a_second", 700, 700, StreamCase::None, 4096, -1, 0, true},
        StreamCase{"bad_crc_gives_23", 700, 700, StreamCase::Bad, 4096, -1, 23, true},
        StreamCase{"filling_the_buffer_exactly", 700, 700, StreamCase::Good, 700, -1, 0, true},
        // Refused before the 'O', so the boot loader never starts sending.
        StreamCase{"total_beyond_the_buffer_gives_14", 701, 0, StreamCase::Good, 700, -1, 14, false},
        StreamCase{"negative_total_gives_14", 0x80000000u, 0, StreamCase::Good, 4096, -1, 14, false},
        StreamCase{"data_cut_short_gives_8", 700, 300, StreamCase::None, 4096, -1, 8, true},
        StreamCase{"cancel_before_a_byte_gives_6", 700, 700, StreamCase::Good, 4096, 10, 6, true}),
    testsupport::CaseName());

TEST_F(LegacyDumpTest, StreamProgressComesEvery1024BytesAndAtTheLast)
{
    const Bytes data = testsupport::PatternBytes(3000, 4);
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        link.Write(Be32(3000));
        ReadBytes(link, 1);
        link.Write(WithCrc(data));
    });
    DumpBuffer buffer(0x10000);
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpStream(buffer.bytes.data(), buffer.capacity, &total, testsupport::CaptureProgress,
                               testsupport::NeverCancel),
              0);
    // After bytes 1, 1025, 2049 and 3000.
    EXPECT_EQ(Capture::progress, (std::vector<int32_t>{0, 34, 68, 100}));
    EXPECT_EQ(buffer.Data(total), data);
}

// ---- Packet dump (32 and above) ----

// Serves packets on the boot loader's side, checking every letter and acknowledgement the PC
// sends; what went wrong is collected in `faults`.
struct PacketServer {
    sim::PtyLink& link;
    bool headerCrcs;
    std::vector<std::string>& faults;

    static uint32_t LittleEndianCrc(uint32_t value)
    {
        uint8_t bytes[4];
        PutLe32(bytes, value);
        return Crc32Compute(Crc32Start, bytes, 4);
    }

    static Bytes HeaderBytes(bool crcs, uint32_t index, uint32_t length)
    {
        Bytes header = Join({Be32(index), Be32(length)});
        if (crcs) {
            header = Join({header, Be32(LittleEndianCrc(index)), Be32(LittleEndianCrc(length))});
        }
        return header;
    }

    Bytes Header(uint32_t index, uint32_t length) const { return HeaderBytes(headerCrcs, index, length); }

    static Bytes Blank() { return WithCrc(Bytes{'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K'}); }

    bool Expect(uint8_t letter, const char* what)
    {
        const Bytes got = ReadBytes(link, 1);
        if (got != Bytes{letter}) {
            faults.push_back(std::string("expected ") + what);
            return false;
        }
        return true;
    }

    // One turn: the PC's 'H', the header, its 'G' where headers carry CRCs, the body.
    bool Offer(const Bytes& header, const Bytes& body)
    {
        if (!Expect('H', "H")) {
            return false;
        }
        link.Write(header);
        if (headerCrcs && !Expect('G', "G")) {
            return false;
        }
        link.Write(body);
        return true;
    }

    // The PC's 9-byte acknowledgement: its letter, or 0 when it is malformed or missing.
    uint8_t Acknowledgement(uint32_t index)
    {
        const Bytes ack = ReadBytes(link, 9);
        if (ack.size() != 9 || GetBe32(ack.data() + 1) != index || GetBe32(ack.data() + 5) != Crc32Compute(Crc32Start, ack.data(), 5)) {
            faults.push_back("malformed acknowledgement for packet " + std::to_string(index));
            return 0;
        }
        return ack[0];
    }

    // Offers packet `index` of data and returns the PC's verdict.
    uint8_t Serve(const Bytes& data, uint32_t index)
    {
        const size_t start = index * 1024u;
        const size_t length = std::min<size_t>(1024, data.size() - start);
        const Bytes slice(data.begin() + static_cast<long>(start), data.begin() + static_cast<long>(start + length));
        const bool blank = std::all_of(slice.begin(), slice.end(), [](uint8_t b) { return b == 0xFF; });
        if (!Offer(Header(index, static_cast<uint32_t>(length)), blank ? Blank() : WithCrc(slice))) {
            return 0;
        }
        return Acknowledgement(index);
    }

    void ServeAll(const Bytes& data)
    {
        for (uint32_t index = 0; index * 1024u < data.size(); ++index) {
            if (Serve(data, index) != 'O') {
                faults.push_back("packet " + std::to_string(index) + " refused");
                return;
            }
        }
    }
};

struct FormCase {
    const char* name;
    int32_t version;
    uint32_t offset;
    uint32_t size;
    const char* line;
    bool announcesTotal;
    uint32_t total;
};

class DumpForm : public LegacyDumpTest, public ::testing::WithParamInterface<FormCase> {};

TEST_P(DumpForm, FollowsTheLegacyVersion)
{
    const FormCase& c = GetParam();
    UpgSetProtocolVersion(c.version);
    Bytes data = testsupport::PatternBytes(c.total, 5);
    std::fill(data.begin() + 1024, data.begin() + 2048, 0xFF);
    std::string line;
    std::vector<std::string> faults;
    Play([&](sim::PtyLink& link) {
        line = EchoLine(link);
        if (c.version < 32) {
            link.Write(Be32(c.total));
            ReadBytes(link, 1);
            link.Write(WithCrc(data));
            return;
        }
        if (c.announcesTotal) {
            link.Write(Be32(c.total));
        }
        PacketServer{link, c.version >= 33, faults}.ServeAll(data);
    });
    DumpBuffer buffer(0x20000);
    int32_t total = 0;
    EXPECT_EQ(LegacyDump(buffer.bytes.data(), buffer.capacity, &total, testsupport::CaptureProgress,
                         testsupport::NeverCancel, c.offset, c.size),
              0);
    Finish();
    EXPECT_EQ(line, c.line);
    EXPECT_TRUE(faults.empty()) << faults.front();
    ASSERT_EQ(total, static_cast<int32_t>(c.total));
    EXPECT_EQ(buffer.Data(total), data);
    EXPECT_EQ(Capture::progress.back(), 100);
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, DumpForm,
    ::testing::Values(
        // Below 32 a chunk's range is not sent: the whole flash comes as one stream.
        FormCase{"v16_streams_the_whole_flash", 16, 0x10080, 0x2000, "dump\r", true, 0x3000},
        FormCase{"v32_always_reads_the_total", 32, 0x10080, 0x2000, "dump 65664 8192\r", true, 0x2000},
        FormCase{"v33_with_a_size_reads_no_total", 33, 0, 65536, "dump 0 65536\r", false, 65536},
        FormCase{"v33_with_size_0_reads_the_total", 33, 0, 0, "dump 0 0\r", true, 3000},
        FormCase{"v47_like_33", 47, 4096, 2500, "dump 4096 2500\r", false, 2500}),
    testsupport::CaseName());

struct HeaderCase {
    const char* name;
    Bytes header;  // what arrives instead of packet 1's header
};

class RefusedHeader : public LegacyDumpTest, public ::testing::WithParamInterface<HeaderCase> {};

// The PC answers a bad header with 'H', and its next turn asks with 'H' again.
TEST_P(RefusedHeader, IsAskedForAgainWithTwoHs)
{
    UpgSetProtocolVersion(33);
    const Bytes data = testsupport::PatternBytes(2048, 6);
    std::vector<std::string> faults;
    Bytes afterBadHeader;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        PacketServer server{link, true, faults};
        server.Serve(data, 0);
        server.Expect('H', "H");
        link.Write(GetParam().header);
        afterBadHeader = ReadBytes(link, 2);
        link.Write(server.Header(1, 1024));
        server.Expect('G', "G after the good header");
        link.Write(WithCrc(Bytes(data.begin() + 1024, data.end())));
        server.Acknowledgement(1);
    });
    DumpBuffer buffer(2048);
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpPackets(buffer.bytes.data(), buffer.capacity, &total, testsupport::CaptureProgress,
                                testsupport::NeverCancel, 0, 2048),
              0);
    Finish();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(afterBadHeader, (Bytes{'H', 'H'}));
    EXPECT_EQ(buffer.Data(total), data);
    EXPECT_EQ(Capture::progress, (std::vector<int32_t>{50, 100}));
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, RefusedHeader,
    ::testing::Values(
        // The index CRC taken over 00 00 00 01 instead of 01 00 00 00.
        HeaderCase{"index_crc_over_big_endian_bytes",
                   Join({Be32(1), Be32(1024), Be32(testsupport::Crc(Be32(1))), Be32(PacketServer::LittleEndianCrc(1024))})},
        HeaderCase{"wrong_length_crc", Join({Be32(1), Be32(1024), Be32(PacketServer::LittleEndianCrc(1)),
                                             Be32(PacketServer::LittleEndianCrc(1024) ^ 1)})},
        // The good header's tail is left over after the first 16 bytes; it must not be read as
        // the start of the next one.
        HeaderCase{"noise_before_the_header", Join({Bytes{0x13, 0x37, 0x42, 0x99, 0x5A}, PacketServer::HeaderBytes(true, 1, 1024)})}),
    testsupport::CaseName());

TEST_F(LegacyDumpTest, BlankPacketAtIndex3FillsBytes3072To4095)
{
    UpgSetProtocolVersion(33);
    Bytes data = testsupport::PatternBytes(5000, 7);
    std::fill(data.begin() + 3072, data.begin() + 4096, 0xFF);
    std::vector<std::string> faults;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        PacketServer{link, true, faults}.ServeAll(data);
    });
    DumpBuffer buffer(8192);
    std::fill(buffer.bytes.begin(), buffer.bytes.begin() + 8192, 0);
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpPackets(buffer.bytes.data(), buffer.capacity, &total, nullptr, testsupport::NeverCancel, 0, 5000), 0);
    Finish();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(buffer.Data(total), data);
}

// A refused first copy of packet 0, then both packets as they should be.
struct RefusedCase {
    const char* name;
    int32_t version;
    Bytes header;  // the bad copy's header (its CRCs, where the version has them, are right)
    Bytes body;
};

class RefusedPacket : public LegacyDumpTest, public ::testing::WithParamInterface<RefusedCase> {};

TEST_P(RefusedPacket, IsAnsweredWithEAndNothingIsStored)
{
    const RefusedCase& c = GetParam();
    UpgSetProtocolVersion(c.version);
    const Bytes data = testsupport::PatternBytes(2048, 8);
    std::vector<std::string> faults;
    uint8_t verdict = 0;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        if (c.version == 32) {
            link.Write(Be32(2048));
        }
        PacketServer server{link, c.version >= 33, faults};
        if (server.Offer(c.header, c.body)) {
            verdict = server.Acknowledgement(GetBe32(c.header.data()));
        }
        server.ServeAll(data);
    });
    // The buffer ends where the dump does: nothing may land behind it.
    DumpBuffer buffer(2048);
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpPackets(buffer.bytes.data(), buffer.capacity, &total, testsupport::CaptureProgress,
                                testsupport::NeverCancel, 0, 2048),
              0);
    Finish();
    EXPECT_EQ(verdict, 'E');
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(buffer.Data(total), data);
    EXPECT_TRUE(buffer.GuardIntact());
    // The refused copy was not counted.
    EXPECT_EQ(Capture::progress, (std::vector<int32_t>{50, 100}));
}

Bytes HeaderFor(int32_t version, uint32_t index, uint32_t length)
{
    return PacketServer::HeaderBytes(version >= 33, index, length);
}

Bytes Data(size_t count)
{
    return WithCrc(testsupport::PatternBytes(count, 9));
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, RefusedPacket,
    ::testing::Values(
        RefusedCase{"bad_data_crc", 33, HeaderFor(33, 0, 1024), Join({testsupport::PatternBytes(1024, 8), Be32(0)})},
        RefusedCase{"bad_data_crc_without_header_crcs", 32, HeaderFor(32, 0, 1024), Join({testsupport::PatternBytes(1024, 8), Be32(0)})},
        // The packet's tail is left over; it must not be read as the next header.
        RefusedCase{"noise_before_the_data_without_header_crcs", 32, HeaderFor(32, 0, 1024),
                    Join({Bytes{0x13, 0x37, 0x42, 0x99, 0x5A}, Data(1024)})},
        RefusedCase{"bad_blank_crc", 33, HeaderFor(33, 0, 1024), Bytes{'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K', 0, 0, 0, 0}},
        RefusedCase{"data_longer_than_1024", 33, HeaderFor(33, 0, 1025), Data(1025)},
        RefusedCase{"data_shorter_than_12", 33, HeaderFor(33, 0, 8), Data(8)},
        RefusedCase{"blank_longer_than_1024", 33, HeaderFor(33, 0, 1025), PacketServer::Blank()},
        RefusedCase{"blank_of_no_bytes", 32, HeaderFor(32, 0, 0), PacketServer::Blank()},
        RefusedCase{"data_past_the_buffer_end", 33, HeaderFor(33, 2, 1024), Data(1024)},
        RefusedCase{"blank_past_the_buffer_end", 33, HeaderFor(33, 2, 1024), PacketServer::Blank()},
        RefusedCase{"index_far_past_the_buffer_end", 33, HeaderFor(33, 0x00400000, 1024), Data(1024)},
        RefusedCase{"packet_missing", 33, HeaderFor(33, 0, 1024), Bytes{}}),
    testsupport::CaseName());

// Packets in the order the boot loader sends them, and the PC's verdict on each.
struct OrderCase {
    const char* name;
    int32_t version;
    std::vector<uint32_t> order;
    std::string verdicts;
};

class PacketOrder : public LegacyDumpTest, public ::testing::WithParamInterface<OrderCase> {};

TEST_P(PacketOrder, EveryByteIsCountedOnce)
{
    const OrderCase& c = GetParam();
    UpgSetProtocolVersion(c.version);
    const Bytes data = testsupport::PatternBytes(2048, 10);
    std::vector<std::string> faults;
    std::string verdicts;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        link.Write(Be32(2048));
        PacketServer server{link, c.version >= 33, faults};
        for (uint32_t index : c.order) {
            verdicts.push_back(static_cast<char>(server.Serve(data, index)));
        }
    });
    DumpBuffer buffer(2048);
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpPackets(buffer.bytes.data(), buffer.capacity, &total, nullptr, testsupport::NeverCancel, 0, 0), 0);
    Finish();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_EQ(verdicts, c.verdicts);
    EXPECT_EQ(buffer.Data(total), data);
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, PacketOrder,
    ::testing::Values(
        // The 'O' for packet 0 was lost, so the boot loader sends it again: counting it twice
        // would end the dump before packet 1.
        OrderCase{"repeat_after_a_lost_acknowledgement", 33, {0, 0, 1}, "OOO"},
        OrderCase{"repeat_without_header_crcs", 32, {0, 0, 1}, "OOO"},
        OrderCase{"any_order_with_header_crcs", 33, {1, 0}, "OO"},
        // Without a header CRC an index out of order may be a flipped bit: refused.
        OrderCase{"only_the_next_index_without_header_crcs", 32, {1, 0, 1}, "EOO"}),
    testsupport::CaseName());

struct TotalCase {
    const char* name;
    int32_t version;
    uint32_t size;
    Bytes announced;  // what the boot loader sends before the first 'H'
    uint32_t capacity;
    int32_t result;
    int32_t total;
};

class DumpTotal : public LegacyDumpTest, public ::testing::WithParamInterface<TotalCase> {};

TEST_P(DumpTotal, OutsideTheBufferIsRefused)
{
    const TotalCase& c = GetParam();
    UpgSetProtocolVersion(c.version);
    Bytes afterTotal;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        link.Write(c.announced);
        uint8_t byte = 0;
        while (link.ReadExact(&byte, 1, std::chrono::milliseconds(200))) {
            afterTotal.push_back(byte);
        }
    });
    DumpBuffer buffer(c.capacity);
    int32_t total = -1;
    EXPECT_EQ(LegacyDumpPackets(buffer.bytes.data(), buffer.capacity, &total, nullptr, testsupport::NeverCancel, 0, c.size),
              c.result);
    Finish();
    EXPECT_EQ(total, c.total);
    // No 'H': not a single packet was asked for.
    EXPECT_TRUE(afterTotal.empty());
    EXPECT_TRUE(buffer.GuardIntact());
}

INSTANTIATE_TEST_SUITE_P(
    Legacy, DumpTotal,
    ::testing::Values(TotalCase{"zero_total_is_an_empty_dump", 32, 0, Be32(0), 4096, 0, 0},
                      TotalCase{"negative_total_gives_14", 32, 0, Be32(0xFFFFFFF0u), 4096, 14, -16},
                      TotalCase{"total_beyond_the_buffer_gives_14", 32, 4096, Be32(4097), 4096, 14, 4097},
                      TotalCase{"size_beyond_the_buffer_gives_14", 33, 4097, {}, 4096, 14, 4097},
                      TotalCase{"size_above_2_gib_gives_14", 33, 0x80000000u, {}, 4096, 14, INT32_MIN},
                      TotalCase{"total_missing_gives_8", 33, 0, {0, 0}, 4096, 8, 0}),
    testsupport::CaseName());

TEST_F(LegacyDumpTest, CancelStopsBeforeTheNextRequest)
{
    UpgSetProtocolVersion(33);
    const Bytes data = testsupport::PatternBytes(3072, 11);
    std::vector<std::string> faults;
    Bytes afterFirst;
    Play([&](sim::PtyLink& link) {
        EchoLine(link);
        PacketServer{link, true, faults}.Serve(data, 0);
        uint8_t byte = 0;
        while (link.ReadExact(&byte, 1, std::chrono::milliseconds(200))) {
            afterFirst.push_back(byte);
        }
    });
    DumpBuffer buffer(4096);
    Capture::cancelAfterCalls = 1;
    int32_t total = 0;
    EXPECT_EQ(LegacyDumpPackets(buffer.bytes.data(), buffer.capacity, &total, nullptr, testsupport::CancelAfter, 0, 3072), 6);
    Finish();
    EXPECT_TRUE(faults.empty()) << faults.front();
    EXPECT_TRUE(afterFirst.empty());
}

}  // namespace
