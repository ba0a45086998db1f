// The upgrade library's face towards the application: its version, callbacks, protocol
// version, the handshake and the receiver operations chosen by protocol version.
#pragma once

#include "flashmate/chunks.h"
#include "flashmate/crc32.h"
#include "flashmate/errors.h"
#include "flashmate/messages.h"
#include "flashmate/serial.h"

#include <cstdint>

// Protocol generations: below 48 the legacy byte protocol, 48 and above the packet protocol.
inline constexpr int32_t ProtocolLegacy = 32;
inline constexpr int32_t ProtocolPacket = 48;

// "3.0.0e".
const char* UpgGetLibraryVersion();

// Stores the version for every later operation and hands the same value to the legacy
// protocol, which picks its dump form by it. Any value is accepted.
void UpgSetProtocolVersion(int32_t version);
// The library's protocol version (0 until set) and the legacy protocol's copy (32 until set).
int32_t UpgGetProtocolVersion();
int32_t UpgGetLegacyProtocolVersion();

// Finds a boot loader on the open port: 0 with 32 (banner echoed) or 48 (banner complemented)
// stored through version; 6 when cancel returned 1; 7 after 200 attempts. progress may be null
// (it sees attempts 0, 5, 10, ...); a null cancel never cancels.
int32_t UpgHandshake(int32_t* version, UpgProgressCallback progress, UpgCancelCallback cancel);

// The receiver operations. Each reads the protocol version afresh: below 48 (unsigned) the
// legacy protocol, else the packet protocol.

// The receiver's protocol version (0 when it reports none) and its chunk table.
int32_t UpgGetVersionAndChunks(int32_t* version, ChunkTable* table);
// Where the next download goes in the new image.
int32_t UpgSetAddress(uint32_t address);
// Keeps a chunk of the current flash in the new image: its id and size (0 for the user database).
int32_t UpgMoveChunk(uint32_t chunkId, uint32_t size);
// Downloads count bytes. The packet protocol may overwrite the start of data with the
// compressed stream, so the caller must not use it afterwards.
int32_t UpgTransfer(uint8_t* data, int32_t count, UpgProgressCallback progress, UpgCancelCallback cancel);
// Burns the assembled image; progress is a percentage of size bytes.
int32_t UpgBurn(int32_t size, UpgProgressCallback progress);
// Reads flash from offset (size 0 with offset 0: the whole flash) into buffer, never past
// capacity bytes; total receives the number of bytes delivered.
int32_t UpgDump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                UpgCancelCallback cancel, uint32_t offset, uint32_t size);
int32_t UpgReboot();
