#include "flashmate/upgrade.h"
#include "legacy.h"
#include "proto3.h"

namespace {

bool PacketProtocol()
{
    return static_cast<uint32_t>(UpgGetProtocolVersion()) >= static_cast<uint32_t>(ProtocolPacket);
}

}  // namespace

int32_t UpgGetVersionAndChunks(int32_t* version, ChunkTable* table)
{
    if (!PacketProtocol()) {
        return LegacyGetVersionAndChunks(version, table);
    }
    const int32_t result = Proto3GetVersion(version);
    return result != 0 ? result : Proto3GetChunkTable(table);
}

int32_t UpgSetAddress(uint32_t address)
{
    return PacketProtocol() ? Proto3SetAddress(address) : LegacySetAddress(address);
}

int32_t UpgMoveChunk(uint32_t chunkId, uint32_t size)
{
    return PacketProtocol() ? Proto3MoveChunk(chunkId, size) : LegacyMoveChunk(chunkId, size);
}

int32_t UpgTransfer(uint8_t* data, int32_t count, UpgProgressCallback progress, UpgCancelCallback cancel)
{
    return PacketProtocol() ? Proto3Transfer(data, count, progress, cancel)
                            : LegacyTransferRaw(data, count, progress, cancel);
}

int32_t UpgBurn(int32_t size, UpgProgressCallback progress)
{
    return PacketProtocol() ? Proto3Burn(size, progress) : LegacyBurn(size, progress);
}

int32_t UpgDump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                UpgCancelCallback cancel, uint32_t offset, uint32_t size)
{
    return PacketProtocol() ? Proto3Dump(buffer, capacity, total, progress, cancel, offset, size)
                            : LegacyDump(buffer, capacity, total, progress, cancel, offset, size);
}

int32_t UpgReboot()
{
    return PacketProtocol() ? Proto3Reboot() : LegacyReboot();
}
