#include "flashmate/upgrade.h"
#include "legacy.h"
#include "proto3.h"
#include "transfer_totals.h"

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
    // The packet protocol records its downloads itself: only it knows what compression left.
    if (PacketProtocol()) {
        return Proto3Transfer(data, count, progress, cancel);
    }
    const int32_t result = LegacyTransferRaw(data, count, progress, cancel);
    if (result == UpgOk && count >= 0) {
        RecordDownload(static_cast<uint32_t>(count), static_cast<uint32_t>(count));
    }
    return result;
}

int32_t UpgBurn(int32_t size, UpgProgressCallback progress)
{
    return PacketProtocol() ? Proto3Burn(size, progress) : LegacyBurn(size, progress);
}

int32_t UpgDump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                UpgCancelCallback cancel, uint32_t offset, uint32_t size)
{
    const int32_t result = PacketProtocol() ? Proto3Dump(buffer, capacity, total, progress, cancel, offset, size)
                                            : LegacyDump(buffer, capacity, total, progress, cancel, offset, size);
    if (result == UpgOk && total != nullptr && *total > 0) {
        RecordDump(static_cast<uint32_t>(*total));
    }
    return result;
}

int32_t UpgReboot()
{
    return PacketProtocol() ? Proto3Reboot() : LegacyReboot();
}
