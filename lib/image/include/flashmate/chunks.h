// Flash chunks: the 128-byte chunk header, the receiver's chunk table and its records.
//
// Chunk header (numbers big-endian):
//   0 id | 4 length (bytes from offset 16: the other 112 header bytes plus the data)
//   8 nextOffset (distance to the next chunk; 0 marks the last) | 12 crc (CRC-32 over the
//   length bytes from offset 16, or "NCRC") | 16 name | 32 version | 48 time (texts, NUL-
//   terminated, 16 bytes each) | 64 reserved (0xFF)
// Chunks follow one another without gaps from offset 0. The boot loader's header fields are
// part of its data; every other chunk's data starts 128 bytes after its start.
#pragma once

#include <cstdint>

inline constexpr uint32_t BootLoaderChunkId = 0xE3000010u;
inline constexpr uint32_t UserDbChunkId = 0x04FB0100u;
// "NCRC": the chunk has no CRC to check.
inline constexpr uint32_t ChunkNoCrc = 0x4E435243u;
inline constexpr uint32_t ChunkHeaderSize = 128;
inline constexpr uint32_t ChunkTextSize = 16;
inline constexpr uint32_t MaxChunks = 16;

// Header field offsets.
inline constexpr uint32_t ChunkIdOffset = 0;
inline constexpr uint32_t ChunkLengthOffset = 4;
inline constexpr uint32_t ChunkNextOffsetOffset = 8;
inline constexpr uint32_t ChunkCrcOffset = 12;
inline constexpr uint32_t ChunkNameOffset = 16;
inline constexpr uint32_t ChunkVersionOffset = 32;
inline constexpr uint32_t ChunkTimeOffset = 48;
// The header bytes the length and the CRC start from.
inline constexpr uint32_t ChunkCrcStart = 16;

enum ChunkType : int32_t {
    ChunkTypeOther = 0,
    ChunkTypeBootLoader = 1,  // 0xE300....
    ChunkTypeLogo = 2,        // 0x02FD....
    ChunkTypeDefaultDb = 3,   // 0x03FC....
    ChunkTypeUserDb = 4,      // 0x04FB....
};

struct ChunkInfo {
    uint32_t id;
    uint32_t length;
    uint32_t nextOffset;
    uint32_t crc;          // NCRC for boot-loader and user-database chunks of a receiver table
    char name[ChunkTextSize];     // text and its NUL; 0xFF after it
    char version[ChunkTextSize];
    char time[ChunkTextSize];
    uint32_t selected;     // the write job sends this chunk (1) or keeps it by a move (0)
    uint32_t masked;       // listed in ChunkMask: no row on the select page
};

struct ChunkTable {
    uint32_t flashSize;    // bytes, from the reply's flash-size code (0: unknown code)
    uint32_t flashAux;     // the reply's second byte, unchanged
    uint32_t count;
    ChunkInfo chunks[MaxChunks];
};

// The receiver's table, as the last successful connect read it.
extern ChunkTable ReceiverChunks;

// By the top 16 bits of the id.
int32_t ChunkTypeOf(uint32_t id);

// Flash size in bytes for a flash-size code; 0 for codes without one.
uint32_t FlashSizeOfCode(uint8_t code);

// A chunk's full size in flash, header included: nextOffset, or length + 16 for the last.
uint32_t ChunkSize(const ChunkInfo& chunk);

// The record of a 128-byte chunk header (bytes 0..63 used), its texts read as in a receiver
// table; selected and masked 0.
void ReadChunkHeader(const uint8_t* header, ChunkInfo* info);

// Receiver table reply: flash-size code, auxiliary byte, then one 128-byte header per chunk
// (bytes 0..63 used). Keeps at most 16 chunks; a text without a NUL in its 16 bytes is cut at
// 15 characters. Always 0.
int32_t ParseChunkTable(const uint8_t* reply, uint32_t length, ChunkTable* table);

// The 128-byte header for raw chunk data: the record's numbers and texts, 0xFF elsewhere.
void BuildChunkHeader(const ChunkInfo* info, uint8_t* destination128);

// Raw boot-loader data carries its header fields inside: writes the numbers and each text up to
// its NUL over the data's first 64 bytes, leaving every other byte as it was.
void StampBootLoaderInfo(const ChunkInfo* info, uint8_t* destination);

// The flash range holding chunk index's data (the boot loader's whole chunk, any other
// chunk's data without its header). False, with the outputs untouched, past the table's end or
// for a chunk too small to hold data behind its header.
bool ChunkFlashRange(const ChunkTable* table, uint32_t index, uint32_t* offset, uint32_t* length);
