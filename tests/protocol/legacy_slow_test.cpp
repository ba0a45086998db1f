// Legacy cases that take their time: slow lines, a silent burn, and a dump on a line that
// corrupts a third of everything.
#include "legacy.h"
#include "legacy_faulty_line.h"
#include "legacy_flash.h"
#include "receiver_fixture.h"
#include "byte_script.h"

#include "sim/image.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

using testsupport::FaultCase;
using testsupport::LegacyDumpOnAFaultyLine;

TEST_P(LegacyDumpOnAFaultyLine, EndsWithTheExactFlashOrAnError)
{
    DumpEveryRun();
}

// Without header CRCs, a flipped bit in a header's index would put good data in the wrong
// place; only the PC's order rule keeps that from ending as a success.
INSTANTIATE_TEST_SUITE_P(
    HeavyCorruption, LegacyDumpOnAFaultyLine,
    ::testing::Values(FaultCase{"packets_32", 32, {.corrupt = 0.3, .drop = 0.01, .delay = 0.04, .delayMs = 30, .noise = 0.04}, 10}),
    testsupport::CaseName());

using LegacySilentBurn = testsupport::ScriptedDeviceTest;

TEST_F(LegacySilentBurn, ThirtySecondsWithoutAReportGive8)
{
    Play([](sim::PtyLink& link) {
        testsupport::EchoLine(link);
        link.Write(std::string("OB0001\r\n"));
    });
    EXPECT_EQ(LegacyBurn(4096, testsupport::CaptureProgress), 8);
    EXPECT_EQ(testsupport::Capture::progress, (std::vector<int32_t>{25}));
}

// A flash small enough to cross a slow line in seconds: a boot loader and a user database.
std::vector<uint8_t> TinyFlash(uint64_t seed)
{
    std::vector<uint8_t> flash = sim::BuildImage({
        {testsupport::SmallFlash::kBootId, "BOOT", "BL 1.05", "2008-01-10", sim::FirmwareLikeBytes(0x200, seed), 0x400, false},
        {testsupport::SmallFlash::kUserDbId, "USERDB", "1.0", "2008-01-20", sim::FirmwareLikeBytes(0x100, seed + 1), 0, false},
    });
    flash.resize(0x800, 0xFF);
    return flash;
}

class LegacySlowLine : public testsupport::ReceiverTest {
protected:
    // The handshake, then the version and chunk table as the connect job asks for them.
    void Connect(int32_t* version, ChunkTable* table)
    {
        int32_t found = 0;
        ASSERT_EQ(UpgHandshake(&found, nullptr, testsupport::NeverCancel), 0);
        UpgSetProtocolVersion(found);
        ASSERT_EQ(LegacyGetVersionAndChunks(version, table), 0);
    }
};

// At 1200 baud a 1024-byte packet takes over 9 s to arrive: the waits chosen for fast lines
// must stretch to it.
TEST_F(LegacySlowLine, WritesAndReadsBackAt1200Baud)
{
    const std::vector<uint8_t> old = TinyFlash(1);
    StartReceiver({.protocolVersion = 33, .flash = old, .baudRate = 1200}, 1200, 2);
    int32_t version = 0;
    ChunkTable table{};
    ASSERT_NO_FATAL_FAILURE(Connect(&version, &table));
    ASSERT_EQ(version, 33);
    UpgSetProtocolVersion(version);

    const std::vector<uint8_t> fresh = TinyFlash(2);
    const auto imageSize = static_cast<int32_t>(0x400 + 128 + 0x100);
    ASSERT_EQ(LegacySetAddress(0), 0);
    ASSERT_EQ(LegacyTransferRaw(fresh.data(), imageSize, nullptr, testsupport::NeverCancel), 0);
    ASSERT_EQ(LegacyBurn(imageSize, nullptr), 0);
    std::vector<uint8_t> buffer(0x800);
    int32_t total = 0;
    ASSERT_EQ(LegacyDump(buffer.data(), static_cast<uint32_t>(buffer.size()), &total, nullptr,
                         testsupport::NeverCancel, 0, 0),
              0);
    EXPECT_EQ(testsupport::Difference(buffer, fresh), "");
}

// At 110 baud a byte takes 100 ms: the version reply's 100 ms waits cover less than the bytes.
TEST_F(LegacySlowLine, ReadsTheVersionReplyAt110Baud)
{
    StartReceiver({.protocolVersion = 47, .flash = TinyFlash(3), .baudRate = 110}, 110, 2);
    int32_t version = 0;
    ChunkTable table{};
    ASSERT_NO_FATAL_FAILURE(Connect(&version, &table));
    EXPECT_EQ(version, 47);
    EXPECT_EQ(table.count, 2u);
}

}  // namespace
