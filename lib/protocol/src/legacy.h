// Operations of the legacy byte protocol (versions below 48).
#pragma once

#include "flashmate/chunks.h"
#include "flashmate/messages.h"

#include <cstdint>

int32_t LegacyGetVersionAndChunks(int32_t* version, ChunkTable* table);
int32_t LegacySetAddress(uint32_t address);
int32_t LegacyMoveChunk(uint32_t chunkId, uint32_t size);
int32_t LegacyTransferRaw(const uint8_t* data, int32_t count, UpgProgressCallback progress, UpgCancelCallback cancel);
int32_t LegacyBurn(int32_t size, UpgProgressCallback progress);
// Dump form by the legacy protocol's version; neither form writes past capacity bytes.
int32_t LegacyDump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                   UpgCancelCallback cancel, uint32_t offset, uint32_t size);
int32_t LegacyDumpStream(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                         UpgCancelCallback cancel);
int32_t LegacyDumpPackets(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                          UpgCancelCallback cancel, uint32_t offset, uint32_t size);
int32_t LegacyReboot();
