#include "flashmate/chunks.h"

#include "flashmate/bytes.h"

#include <cstring>
#include <utility>

ChunkTable ReceiverChunks{};

namespace {

struct TypeRow {
    int32_t type;
    uint32_t id;
};

// Compared by the top 16 bits, first match wins.
constexpr TypeRow kTypes[] = {
    {ChunkTypeBootLoader, 0xE3000010u},
    {ChunkTypeLogo, 0x02FD0200u},
    {ChunkTypeDefaultDb, 0x03FC0100u},
    {ChunkTypeUserDb, 0x04FB0100u},
};

constexpr uint32_t kRecordSize = ChunkHeaderSize;

// Copies a text up to and including its NUL; the rest of the field keeps what it held. A text
// that fills all 16 bytes without a NUL keeps 15 characters and gets one.
void CopyText(char* field, const uint8_t* source)
{
    size_t length = 0;
    while (length < ChunkTextSize - 1 && source[length] != 0) {
        ++length;
    }
    std::memcpy(field, source, length);
    field[length] = '\0';
}

size_t TextLength(const char* field)
{
    size_t length = 0;
    while (length < ChunkTextSize && field[length] != '\0') {
        ++length;
    }
    return length;
}

}  // namespace

int32_t ChunkTypeOf(uint32_t id)
{
    for (const TypeRow& row : kTypes) {
        if ((row.id >> 16) == (id >> 16)) {
            return row.type;
        }
    }
    return ChunkTypeOther;
}

uint32_t FlashSizeOfCode(uint8_t code)
{
    switch (code) {
    case 1: case 2: case 7: case 10:
        return 0x80000;
    case 3: case 4: case 8: case 9: case 11: case 13:
        return 0x100000;
    case 5: case 6: case 12: case 14: case 15: case 16:
        return 0x200000;
    default:
        return 0;
    }
}

uint32_t ChunkSize(const ChunkInfo& chunk)
{
    return chunk.nextOffset != 0 ? chunk.nextOffset : chunk.length + 16;
}

void ReadChunkHeader(const uint8_t* header, ChunkInfo* info)
{
    std::memset(info, 0xFF, sizeof *info);
    info->id = GetBe32(header + ChunkIdOffset);
    info->length = GetBe32(header + ChunkLengthOffset);
    info->nextOffset = GetBe32(header + ChunkNextOffsetOffset);
    info->crc = GetBe32(header + ChunkCrcOffset);
    CopyText(info->name, header + ChunkNameOffset);
    CopyText(info->version, header + ChunkVersionOffset);
    CopyText(info->time, header + ChunkTimeOffset);
    info->selected = 0;
    info->masked = 0;
}

int32_t ParseChunkTable(const uint8_t* reply, uint32_t length, ChunkTable* table)
{
    // Too short for even the two leading bytes: nothing to take but an empty table.
    if (length < 2) {
        table->count = 0;
        return 0;
    }
    table->flashSize = FlashSizeOfCode(reply[0]);
    table->flashAux = reply[1];
    uint32_t count = (length - 2) / kRecordSize;
    if (count > MaxChunks) {
        count = MaxChunks;
    }
    table->count = count;
    for (uint32_t k = 0; k < count; ++k) {
        ChunkInfo& chunk = table->chunks[k];
        ReadChunkHeader(reply + 2 + kRecordSize * k, &chunk);
        const int32_t type = ChunkTypeOf(chunk.id);
        if (type == ChunkTypeUserDb || type == ChunkTypeBootLoader) {
            chunk.crc = ChunkNoCrc;
        }
    }
    return 0;
}

void BuildChunkHeader(const ChunkInfo* info, uint8_t* destination128)
{
    std::memset(destination128, 0xFF, ChunkHeaderSize);
    PutBe32(destination128 + ChunkIdOffset, info->id);
    PutBe32(destination128 + ChunkLengthOffset, info->length);
    PutBe32(destination128 + ChunkNextOffsetOffset, info->nextOffset);
    PutBe32(destination128 + ChunkCrcOffset, info->crc);
    std::memcpy(destination128 + ChunkNameOffset, info->name, ChunkTextSize);
    std::memcpy(destination128 + ChunkVersionOffset, info->version, ChunkTextSize);
    std::memcpy(destination128 + ChunkTimeOffset, info->time, ChunkTextSize);
}

void StampBootLoaderInfo(const ChunkInfo* info, uint8_t* destination)
{
    PutBe32(destination + ChunkIdOffset, info->id);
    PutBe32(destination + ChunkLengthOffset, info->length);
    PutBe32(destination + ChunkNextOffsetOffset, info->nextOffset);
    PutBe32(destination + ChunkCrcOffset, info->crc);
    const std::pair<uint32_t, const char*> texts[] = {
        {ChunkNameOffset, info->name}, {ChunkVersionOffset, info->version}, {ChunkTimeOffset, info->time}};
    for (auto [offset, text] : texts) {
        // The text and its NUL, nothing more; a full field without a NUL is cut to fit one.
        const size_t length = TextLength(text) < ChunkTextSize ? TextLength(text) : ChunkTextSize - 1;
        std::memcpy(destination + offset, text, length);
        destination[offset + length] = 0;
    }
}

bool ChunkFlashRange(const ChunkTable* table, uint32_t index, uint32_t* offset, uint32_t* length)
{
    if (index >= table->count) {
        return false;
    }
    uint32_t start = 0;
    for (uint32_t k = 0; k < index; ++k) {
        start += ChunkSize(table->chunks[k]);
    }
    uint32_t size = ChunkSize(table->chunks[index]);
    if (table->chunks[index].id != BootLoaderChunkId) {
        // A chunk too small for its own header has no data to read; a length of 0 would ask
        // the receiver for its whole flash instead.
        if (size <= ChunkHeaderSize) {
            return false;
        }
        start += ChunkHeaderSize;
        size -= ChunkHeaderSize;
    }
    *offset = start;
    *length = size;
    return true;
}
