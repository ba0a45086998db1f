#include "sim/wire.h"

#include "flashmate/bytes.h"
#include "flashmate/crc32.h"

namespace sim {

namespace {

constexpr uint8_t kMarker[4] = {'H', 'E', 'A', 'D'};
constexpr uint32_t kMaxPayload = 2044;

uint32_t Crc(const uint8_t* data, size_t count)
{
    return Crc32Compute(Crc32Start, data, static_cast<int32_t>(count));
}

std::vector<uint8_t> Frame(uint8_t type, uint8_t flag, uint32_t id, uint8_t seq, uint32_t declared,
                           const uint8_t* payload, size_t count)
{
    std::vector<uint8_t> out(19 + count + 4);
    std::copy(kMarker, kMarker + 4, out.begin());
    out[4] = type;
    out[5] = flag;
    PutBe32(&out[6], id);
    out[10] = seq;
    PutBe32(&out[11], declared);
    PutBe32(&out[15], Crc(&out[4], 11));
    std::copy(payload, payload + count, out.begin() + 19);
    PutBe32(&out[19 + count], Crc(payload, count));
    return out;
}

// A line a byte takes at the slowest offered rate, with room to spare.
PtyLink::Clock::duration ByteWait(const PtyLink& link, size_t bytes)
{
    return std::chrono::milliseconds(300) + link.ByteTime() * static_cast<int64_t>(bytes) * 2;
}

}  // namespace

uint32_t Packet::Number() const
{
    return payload.size() >= 4 ? GetBe32(payload.data()) : 0;
}

uint32_t Packet::Value() const
{
    return payload.size() >= 5 ? GetBe32(payload.data() + 1) : 0;
}

std::vector<uint8_t> EncodePacket(uint8_t type, uint32_t id, uint8_t seq, const std::vector<uint8_t>& payload)
{
    return Frame(type, 0, id, seq, static_cast<uint32_t>(payload.size()), payload.data(), payload.size());
}

std::vector<uint8_t> EncodeBlankData(uint32_t id, uint8_t seq, uint32_t number, uint32_t declaredLength)
{
    uint8_t numberBytes[4];
    PutBe32(numberBytes, number);
    return Frame(wire::Data, 1, id, seq, declaredLength, numberBytes, 4);
}

std::vector<uint8_t> EncodeResponse(uint32_t id, uint8_t seq, uint8_t status, uint32_t value)
{
    std::vector<uint8_t> payload(5);
    payload[0] = status;
    PutBe32(&payload[1], value);
    return EncodePacket(wire::Response, id, seq, payload);
}

std::vector<uint8_t> EncodeData(uint32_t id, uint8_t seq, uint32_t number, const uint8_t* data, size_t count)
{
    std::vector<uint8_t> payload(4 + count);
    PutBe32(payload.data(), number);
    std::copy(data, data + count, payload.begin() + 4);
    return EncodePacket(wire::Data, id, seq, payload);
}

ReadStatus ReadPacketAfterMarker(PtyLink& link, Packet& packet)
{
    uint8_t header[15];
    if (!link.ReadExact(header, sizeof header, ByteWait(link, sizeof header))) {
        return ReadStatus::Timeout;
    }
    if (Crc(header, 11) != GetBe32(header + 11)) {
        return ReadStatus::BadHeaderCrc;
    }
    packet.type = header[0];
    packet.flag = header[1];
    packet.id = GetBe32(header + 2);
    packet.seq = header[6];
    packet.length = GetBe32(header + 7);
    const bool blank = packet.type == wire::Data && packet.flag != 0;
    const uint32_t onWire = blank ? 4 : packet.length;
    if (onWire > kMaxPayload) {
        return ReadStatus::TooLong;
    }
    std::vector<uint8_t> body(onWire + 4);
    if (!link.ReadExact(body.data(), body.size(), ByteWait(link, body.size()))) {
        return ReadStatus::Timeout;
    }
    if (Crc(body.data(), onWire) != GetBe32(body.data() + onWire)) {
        return ReadStatus::BadDataCrc;
    }
    body.resize(onWire);
    packet.payload = std::move(body);
    return ReadStatus::Ok;
}

ReadStatus ReadPacket(PtyLink& link, Packet& packet, PtyLink::Clock::duration timeout,
                      std::vector<uint8_t>* skipped)
{
    const auto until = PtyLink::Clock::now() + timeout;
    size_t matched = 0;
    while (true) {
        const auto now = PtyLink::Clock::now();
        if (matched == 0 && now >= until) {
            return ReadStatus::Timeout;
        }
        // The time-out is for a packet to begin: once part of a marker has been read, giving
        // up would lose those bytes, and with them a packet that arrived just at the deadline.
        const auto wait = matched == 0 ? until - now : ByteWait(link, 4 - matched);
        uint8_t byte = 0;
        if (link.Read(&byte, 1, wait) == 0) {
            return ReadStatus::Timeout;
        }
        if (byte == kMarker[matched]) {
            if (++matched == 4) {
                return ReadPacketAfterMarker(link, packet);
            }
            continue;
        }
        if (skipped != nullptr) {
            skipped->insert(skipped->end(), kMarker, kMarker + matched);
        }
        matched = byte == kMarker[0] ? 1 : 0;
        if (matched == 0 && skipped != nullptr) {
            skipped->push_back(byte);
        }
    }
}

}  // namespace sim
