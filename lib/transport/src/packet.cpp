#include "flashmate/packet.h"

#include "flashmate/bytes.h"
#include "flashmate/crc32.h"
#include "flashmate/deadline.h"
#include "flashmate/errors.h"
#include "flashmate/messages.h"
#include "flashmate/serial.h"

#include <cstring>

uint32_t CurrentPacketId = 0;
uint8_t CurrentPacketSeq = 0;

namespace {

constexpr uint8_t kMarker[4] = {'H', 'E', 'A', 'D'};
// Bytes after the marker: type, flag, id, seq, length, header CRC.
constexpr int32_t kHeaderTail = PacketHeaderSize - 4;

// The reference waited 1 ms for each further marker byte on a tick counter that moved every
// 10 to 16 ms. A USB adapter holds bytes back for up to 16 ms (its latency timer), so that is
// the least we wait; at low rates the wire time of a byte takes over.
constexpr uint32_t kMarkerByteWaitMs = 16;
constexpr uint32_t kHeaderWaitMs = 300;
constexpr uint32_t kPayloadSlackMs = 104;

constexpr const char* kErrorFormat = "\r\n->Error:%s";

int32_t Fail(int32_t code, const char* text)
{
    UpgEmitMessage(0, kErrorFormat, text);
    return code;
}

bool IsBlankData(const UpgPacket& packet)
{
    return packet.type == PacketData && packet.flag != 0;
}

UpgPacket EmptyPacket(uint8_t type)
{
    UpgPacket packet;
    std::memset(&packet, 0, sizeof packet);
    packet.type = type;
    packet.flag = 0;
    packet.id = CurrentPacketId;
    packet.seq = CurrentPacketSeq;
    return packet;
}

// Looks for "HEAD" until the deadline; the byte that breaks one marker may begin the next.
bool FindMarker(const Deadline& deadline)
{
    uint8_t current = 0;
    const uint32_t byteWait = UpgLineTimeout(kMarkerByteWaitMs, 1);
    while (!deadline.Expired()) {
        if (current == kMarker[0]) {
            int matched = 1;
            while (matched < 4) {
                uint8_t next = 0;
                if (UpgReadBytes(&next, 1, byteWait) != 0) {
                    current = 0;
                    break;
                }
                if (next != kMarker[matched]) {
                    current = next;
                    break;
                }
                ++matched;
            }
            if (matched == 4) {
                return true;
            }
            continue;
        }
        if (UpgReadAvailable(&current, 1) == 0) {
            current = 0;
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline.Remaining());
            UpgWaitForInput(static_cast<uint32_t>(left.count()) + 1);
        }
    }
    return false;
}

}  // namespace

void BuildPacketHeader(const UpgPacket* packet, uint8_t* destination19)
{
    std::memcpy(destination19, kMarker, 4);
    destination19[4] = packet->type;
    destination19[5] = packet->flag;
    PutBe32(destination19 + 6, packet->id);
    destination19[10] = packet->seq;
    PutBe32(destination19 + 11, packet->length);
    PutBe32(destination19 + 15, Crc32Compute(Crc32Start, destination19 + 4, 11));
}

void ParsePacketHeader(const uint8_t* header19, UpgPacket* packet)
{
    std::memset(packet, 0, sizeof *packet);
    packet->type = header19[4];
    packet->flag = header19[5];
    packet->id = GetBe32(header19 + 6);
    packet->seq = header19[10];
    packet->length = GetBe32(header19 + 11);
}

int32_t SendPacket(const UpgPacket* packet)
{
    uint8_t header[PacketHeaderSize];
    BuildPacketHeader(packet, header);
    if (UpgWriteBytes(header, PacketHeaderSize) != PacketHeaderSize) {
        return Fail(UpgErrPacketHeaderSend, "Ошибка отправки пакета!");
    }
    const auto length = static_cast<int32_t>(packet->length);
    if (packet->length > PacketPayloadCapacity ||
        (length > 0 && UpgWriteBytes(packet->payload, length) != length)) {
        return Fail(UpgErrPacketPayloadSend, "Ошибка оправки пакета!");
    }
    uint8_t crc[4];
    PutBe32(crc, Crc32Compute(Crc32Start, packet->payload, length));
    if (UpgWriteBytes(crc, 4) != 4) {
        return Fail(UpgErrPacketCrcSend, "Ошибка оправки пакета CRC!");
    }
    return UpgOk;
}

int32_t ReceivePacket(UpgPacket* packet, uint32_t timeoutMs)
{
    const Deadline deadline = Deadline::AfterMs(timeoutMs);
    if (!FindMarker(deadline)) {
        return UpgErrNoPacket;
    }

    uint8_t header[PacketHeaderSize];
    std::memcpy(header, kMarker, 4);
    if (UpgReadBytes(header + 4, kHeaderTail, UpgLineTimeout(kHeaderWaitMs, kHeaderTail)) != 0) {
        return Fail(UpgErrPacketHeaderReceive, "Ошибка получения заголовка пакета!");
    }
    if (Crc32Compute(Crc32Start, header + 4, 11) != GetBe32(header + 15)) {
        return Fail(UpgErrPacketHeaderCrc, "Ошибка проверки заголовка пакета CRC!");
    }
    ParsePacketHeader(header, packet);

    // A length the record cannot hold is refused before a byte is stored; the rest of the
    // packet stays in the input and is skipped by the next marker search.
    const bool blank = IsBlankData(*packet);
    if (packet->length > PacketMaxReceiveLength || (blank && packet->length < 4)) {
        return Fail(UpgErrPacketDataReceive, "Ошибка получения пакета данных!");
    }
    const uint32_t onWire = blank ? 4 : packet->length;
    const uint32_t wait = UpgLineTimeout(onWire + kPayloadSlackMs, onWire + 4);
    if (UpgReadBytes(packet->payload, static_cast<int32_t>(onWire + 4), wait) != 0) {
        return Fail(UpgErrPacketDataReceive, "Ошибка получения пакета данных!");
    }
    const uint32_t crc = GetBe32(packet->payload + onWire);
    if (Crc32Compute(Crc32Start, packet->payload, static_cast<int32_t>(onWire)) != crc) {
        return Fail(UpgErrPacketDataCrc, "Ошибка проверки пакета данных CRC!");
    }
    // The CRC bytes sat behind the payload; the record is zero beyond its length.
    std::memset(packet->payload + onWire, 0, 4);
    if (blank) {
        std::memset(packet->payload + 4, 0xFF, packet->length - 4);
    }
    return UpgOk;
}

int32_t SendCommandPacket(const char* text, int32_t continueFlag)
{
    if (continueFlag == 0) {
        ++CurrentPacketId;
        CurrentPacketSeq = 0;
    } else {
        ++CurrentPacketSeq;
    }
    UpgPacket packet = EmptyPacket(PacketCommand);
    const size_t length = std::strlen(text);
    if (length > PacketPayloadCapacity) {
        return Fail(UpgErrPacketPayloadSend, "Ошибка оправки пакета!");
    }
    packet.length = static_cast<uint32_t>(length);
    std::memcpy(packet.payload, text, length);
    return SendPacket(&packet);
}

int32_t SendDataPacket(uint32_t number, const void* data, uint32_t count)
{
    if (count > PacketPayloadCapacity - 4) {
        return Fail(UpgErrPacketPayloadSend, "Ошибка оправки пакета!");
    }
    UpgPacket packet = EmptyPacket(PacketData);
    PutBe32(packet.payload, number);
    if (count > 0) {
        std::memcpy(packet.payload + 4, data, count);
    }
    packet.length = count + 4;
    return SendPacket(&packet);
}

int32_t SendRequestPacket(uint32_t value)
{
    UpgPacket packet = EmptyPacket(PacketRequest);
    PutBe32(packet.payload, value);
    packet.length = 4;
    return SendPacket(&packet);
}

int32_t SendResponsePacket(int32_t status, uint32_t value)
{
    UpgPacket packet = EmptyPacket(PacketResponse);
    packet.payload[0] = static_cast<uint8_t>(status & 0xFF);
    PutBe32(packet.payload + 1, value);
    packet.length = 5;
    return SendPacket(&packet);
}
