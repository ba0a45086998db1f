// Operations of the packet protocol (version 48 and above).
#pragma once

#include "flashmate/chunks.h"
#include "flashmate/messages.h"

#include <cstdint>

int32_t Proto3GetVersion(int32_t* version);
int32_t Proto3GetChunkTable(ChunkTable* table);
int32_t Proto3SetAddress(uint32_t address);
int32_t Proto3MoveChunk(uint32_t chunkId, uint32_t size);
int32_t Proto3Burn(int32_t size, UpgProgressCallback progress);
// Downloads count bytes, compressed when that pays; may overwrite the start of data.
int32_t Proto3Transfer(uint8_t* data, int32_t count, UpgProgressCallback progress, UpgCancelCallback cancel);
// Reads a stretch of flash into buffer, never past capacity bytes.
int32_t Proto3Dump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                   UpgCancelCallback cancel, uint32_t offset, uint32_t size);
int32_t Proto3Reboot();
