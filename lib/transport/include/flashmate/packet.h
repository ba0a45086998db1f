// "HEAD" packets of the packet protocol: wire format, counters, send and receive.
//
// Wire format (numbers big-endian):
//   "HEAD" | type | flag | id (4) | seq | length N (4) | header CRC over bytes 4..14 (4)
//   | payload (N) | data CRC over the payload (4)
// A blank data packet (type 1, flag set) carries only its 4-byte number on the wire; the rest
// of its declared length is 0xFF.
#pragma once

#include <cstdint>

enum UpgPacketType : uint8_t {
    PacketCommand = 0,   // a command text without terminator
    PacketData = 1,      // a 32-bit number, then data bytes
    PacketRequest = 2,   // a 32-bit value
    PacketResponse = 3,  // a status byte, then a 32-bit value
};

enum UpgResponseStatus : uint8_t {
    StatusOk = 0,
    StatusError = 1,
    StatusBusy = 2,
    StatusDone = 3,
    StatusAbort = 4,
};

inline constexpr int32_t PacketHeaderSize = 19;
inline constexpr int32_t PacketPayloadCapacity = 2048;
// A received payload needs room for its 4 CRC bytes too.
inline constexpr uint32_t PacketMaxReceiveLength = PacketPayloadCapacity - 4;
// What a packet takes on the wire besides its payload: the header and the data CRC.
inline constexpr uint32_t PacketWireOverhead = PacketHeaderSize + 4;
// A data packet's payload begins with its 32-bit number.
inline constexpr uint32_t PacketNumberSize = 4;

struct UpgPacket {
    uint8_t type;
    uint8_t flag;
    uint32_t id;
    uint8_t seq;
    uint32_t length;
    uint8_t payload[PacketPayloadCapacity];
};

// Library-wide counters, never reset: a new command opens id + 1 with seq 0; a continued
// command keeps the id and advances seq (wrapping at 256); other packets carry both unchanged.
extern uint32_t CurrentPacketId;
extern uint8_t CurrentPacketSeq;

void BuildPacketHeader(const UpgPacket* packet, uint8_t* destination19);
// Clears the whole record, then fills type, flag, id, seq and length from a 19-byte header.
void ParsePacketHeader(const uint8_t* header19, UpgPacket* packet);

// 0, or 24 / 25 / 26 when the header / payload / data CRC was not written in full.
int32_t SendPacket(const UpgPacket* packet);
// Finds the next packet in the input and receives it: 0, or 27 (no marker in time), 28 (header
// incomplete), 29 (header CRC), 30 (payload incomplete or a length the record cannot hold),
// 31 (data CRC). Any type and id are accepted; judging them is the caller's task.
int32_t ReceivePacket(UpgPacket* packet, uint32_t timeoutMs);

// continueFlag 0 opens a new id; any other value continues the current one.
int32_t SendCommandPacket(const char* text, int32_t continueFlag);
int32_t SendDataPacket(uint32_t number, const void* data, uint32_t count);
int32_t SendRequestPacket(uint32_t value);
int32_t SendResponsePacket(int32_t status, uint32_t value);
