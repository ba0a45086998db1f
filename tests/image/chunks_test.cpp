#include "flashmate/bytes.h"
#include "flashmate/chunks.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// One 128-byte record as a receiver sends it.
Bytes Record(uint32_t id, uint32_t length, uint32_t nextOffset, uint32_t crc, const std::string& name,
             const std::string& version = "1.0", const std::string& time = "2008")
{
    Bytes record(128, 0xEE);
    PutBe32(&record[0], id);
    PutBe32(&record[4], length);
    PutBe32(&record[8], nextOffset);
    PutBe32(&record[12], crc);
    auto put = [&](size_t offset, const std::string& text) {
        std::memset(&record[offset], 0, 16);
        std::memcpy(&record[offset], text.data(), std::min<size_t>(text.size(), 16));
    };
    put(16, name);
    put(32, version);
    put(48, time);
    return record;
}

Bytes Reply(uint8_t code, const std::vector<Bytes>& records, size_t extra = 0)
{
    Bytes reply{code, 0x5A};
    for (const Bytes& r : records) {
        reply.insert(reply.end(), r.begin(), r.end());
    }
    reply.resize(reply.size() + extra, 0x33);
    return reply;
}

ChunkTable Parse(const Bytes& reply)
{
    ChunkTable table;
    std::memset(&table, 0, sizeof table);
    EXPECT_EQ(ParseChunkTable(reply.data(), static_cast<uint32_t>(reply.size()), &table), 0);
    return table;
}

TEST(ChunkTable, CountsWholeRecordsOnly)
{
    const Bytes one = Record(0x01FE0100, 0x100, 0x200, 0x1234, "main");
    struct Case {
        size_t length;
        uint32_t count;
    } cases[] = {{130, 1}, {129, 0}, {2 + 128 * 3 + 50, 3}, {2, 0}, {1, 0}, {0, 0}};
    const Bytes reply = Reply(5, {one, one, one}, 50);
    for (const Case& c : cases) {
        ChunkTable table;
        std::memset(&table, 0, sizeof table);
        ParseChunkTable(reply.data(), static_cast<uint32_t>(c.length), &table);
        EXPECT_EQ(table.count, c.count) << c.length;
    }
}

TEST(ChunkTable, FlashSizeCodes)
{
    const std::pair<uint8_t, uint32_t> cases[] = {{0, 0},        {17, 0},       {255, 0},      {16, 0x200000},
                                                  {7, 0x80000},  {1, 0x80000},  {13, 0x100000}, {3, 0x100000},
                                                  {5, 0x200000}, {10, 0x80000}, {12, 0x200000}};
    for (auto [code, size] : cases) {
        const ChunkTable table = Parse(Reply(code, {}));
        EXPECT_EQ(table.flashSize, size) << int(code);
        EXPECT_EQ(table.flashAux, 0x5Au);
    }
}

TEST(ChunkTable, RecordsAreReadWithTheirTextsAndForcedCrcs)
{
    const ChunkTable table = Parse(Reply(5, {
        Record(0xE3000010, 0xFFF0, 0x10000, 0x11111111, "boot", "BL-1.2"),
        Record(0x03FC0100, 0x1F0, 0x200, 0x22222222, "defaultdb"),
        Record(0x04FB0100, 0x3F0, 0, 0x33333333, "userdb"),
    }));
    ASSERT_EQ(table.count, 3u);
    EXPECT_EQ(table.chunks[0].crc, ChunkNoCrc);
    EXPECT_EQ(table.chunks[1].crc, 0x22222222u);
    EXPECT_EQ(table.chunks[2].crc, ChunkNoCrc);
    EXPECT_EQ(table.chunks[0].nextOffset, 0x10000u);
    EXPECT_EQ(table.chunks[0].length, 0xFFF0u);
    EXPECT_STREQ(table.chunks[0].version, "BL-1.2");
    for (const ChunkInfo& chunk : table.chunks) {
        if (&chunk - table.chunks >= 3) {
            break;
        }
        EXPECT_EQ(chunk.selected, 0u);
        EXPECT_EQ(chunk.masked, 0u);
    }
}

TEST(ChunkTable, TextFieldsKeepTheirNulThenFF)
{
    const ChunkTable table = Parse(Reply(5, {Record(0x01FE0100, 0, 0x400, 0, "EIGHTCHR")}));
    const char* name = table.chunks[0].name;
    EXPECT_EQ(std::string(name, 8), "EIGHTCHR");
    EXPECT_EQ(name[8], '\0');
    for (int i = 9; i < 16; ++i) {
        EXPECT_EQ(static_cast<uint8_t>(name[i]), 0xFF) << i;
    }
    uint8_t header[128];
    BuildChunkHeader(&table.chunks[0], header);
    EXPECT_EQ(std::memcmp(header + 16, name, 16), 0);
    for (int i = 64; i < 128; ++i) {
        ASSERT_EQ(header[i], 0xFF);
    }
    EXPECT_EQ(GetBe32(header + 0), 0x01FE0100u);
    EXPECT_EQ(GetBe32(header + 8), 0x400u);
}

TEST(ChunkTable, ATextWithoutNulIsCutAt15Characters)
{
    const ChunkTable table = Parse(Reply(5, {Record(0x01FE0100, 0, 0x400, 0, "SIXTEENCHARSLONG")}));
    EXPECT_STREQ(table.chunks[0].name, "SIXTEENCHARSLON");
}

TEST(ChunkTable, MoreThanSixteenRecordsKeepTheFirstSixteen)
{
    std::vector<Bytes> records;
    for (uint32_t i = 0; i < 20; ++i) {
        records.push_back(Record(0x01FE0000 + i, 0, 0x400, 0, "c" + std::to_string(i)));
    }
    struct {
        ChunkTable table;
        uint8_t canary[256];
    } guarded;
    std::memset(&guarded, 0xA5, sizeof guarded);
    const Bytes reply = Reply(5, records);
    ParseChunkTable(reply.data(), static_cast<uint32_t>(reply.size()), &guarded.table);
    EXPECT_EQ(guarded.table.count, 16u);
    EXPECT_EQ(guarded.table.chunks[15].id, 0x01FE000Fu);
    for (uint8_t b : guarded.canary) {
        ASSERT_EQ(b, 0xA5);
    }
}

TEST(ChunkTypes, ByTheTopSixteenBits)
{
    const std::pair<uint32_t, int32_t> cases[] = {
        {0xE3000010, ChunkTypeBootLoader}, {0xE3001234, ChunkTypeBootLoader}, {0x02FD0200, ChunkTypeLogo},
        {0x02FD0300, ChunkTypeLogo},        {0x03FC0100, ChunkTypeDefaultDb},  {0x04FB0100, ChunkTypeUserDb},
        {0x01FE0100, ChunkTypeOther},       {0, ChunkTypeOther}};
    for (auto [id, type] : cases) {
        EXPECT_EQ(ChunkTypeOf(id), type) << std::hex << id;
    }
}

TEST(ChunkFlashRange, CoversEachChunksDataWithoutItsHeaderButTheBootLoaders)
{
    const ChunkTable table = Parse(Reply(5, {
        Record(0xE3000010, 0, 0x10000, 0, "boot"),
        Record(0x01FE0100, 0, 0x180000, 0, "main"),
        Record(0x04FB0100, 0x1F0, 0, 0, "userdb"),
    }));
    struct Case {
        uint32_t index;
        bool ok;
        uint32_t offset;
        uint32_t length;
    } cases[] = {{0, true, 0, 0x10000}, {1, true, 0x10080, 0x17FF80}, {2, true, 0x190080, 0x180}, {3, false, 7, 7}};
    for (const Case& c : cases) {
        uint32_t offset = 7;
        uint32_t length = 7;
        EXPECT_EQ(ChunkFlashRange(&table, c.index, &offset, &length), c.ok) << c.index;
        EXPECT_EQ(offset, c.offset) << c.index;
        EXPECT_EQ(length, c.length) << c.index;
    }
}

TEST(ChunkFlashRange, AChunkTooSmallForItsHeaderHasNoRange)
{
    const ChunkTable table = Parse(Reply(5, {Record(0x01FE0100, 0x20, 0, 0, "tiny")}));
    uint32_t offset = 7;
    uint32_t length = 7;
    EXPECT_FALSE(ChunkFlashRange(&table, 0, &offset, &length));
    EXPECT_EQ(length, 7u);
}

TEST(StampBootLoaderInfo, WritesNumbersAndTextsUpToTheirNulOnly)
{
    ChunkInfo info;
    std::memset(&info, 0xFF, sizeof info);
    info.id = BootLoaderChunkId;
    info.length = 0xFFF0;
    info.nextOffset = 0x10000;
    info.crc = ChunkNoCrc;
    std::strcpy(info.name, "boot");
    std::strcpy(info.version, "BL-2");
    std::strcpy(info.time, "t");
    Bytes data(256, 0xAB);
    StampBootLoaderInfo(&info, data.data());
    EXPECT_EQ(GetBe32(&data[0]), BootLoaderChunkId);
    EXPECT_EQ(GetBe32(&data[12]), ChunkNoCrc);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&data[16])), "boot");
    EXPECT_EQ(data[21], 0xAB) << "bytes after the NUL stay as they were";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(&data[32])), "BL-2");
    EXPECT_EQ(data[50], 0xAB);
    EXPECT_EQ(data[64], 0xAB);
}

}  // namespace
