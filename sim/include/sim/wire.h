// The device side's own reading and writing of "HEAD" packets, written from the wire format so
// that a misreading on the PC side shows up as a failing exchange instead of being mirrored.
#pragma once

#include "sim/pty_link.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

namespace wire {
inline constexpr uint8_t Command = 0;
inline constexpr uint8_t Data = 1;
inline constexpr uint8_t Request = 2;
inline constexpr uint8_t Response = 3;

inline constexpr uint8_t Ok = 0;
inline constexpr uint8_t Error = 1;
inline constexpr uint8_t Busy = 2;
inline constexpr uint8_t Done = 3;
inline constexpr uint8_t Abort = 4;
}  // namespace wire

struct Packet {
    uint8_t type = 0;
    uint8_t flag = 0;
    uint32_t id = 0;
    uint8_t seq = 0;
    uint32_t length = 0;             // as declared in the header
    std::vector<uint8_t> payload;    // as it crossed the line (a blank packet: its 4-byte number)

    // Convenience views of the payload.
    std::string Text() const { return std::string(payload.begin(), payload.end()); }
    uint32_t Number() const;         // first four payload bytes, big-endian
    uint8_t Status() const { return payload.empty() ? 0 : payload[0]; }
    uint32_t Value() const;          // response value: payload bytes 1..4
};

// Whole packet as bytes on the wire. A blank data packet carries only `payload` (its 4-byte
// number) while its header declares `declaredLength`.
std::vector<uint8_t> EncodePacket(uint8_t type, uint32_t id, uint8_t seq, const std::vector<uint8_t>& payload);
std::vector<uint8_t> EncodeBlankData(uint32_t id, uint8_t seq, uint32_t number, uint32_t declaredLength);
std::vector<uint8_t> EncodeResponse(uint32_t id, uint8_t seq, uint8_t status, uint32_t value);
std::vector<uint8_t> EncodeData(uint32_t id, uint8_t seq, uint32_t number, const uint8_t* data, size_t count);

enum class ReadStatus { Ok, Timeout, BadHeaderCrc, BadDataCrc, TooLong };

// Searches the PC's bytes for "HEAD" and reads one packet. Bytes before the marker are passed
// to `skipped` (when given) so a caller can treat them as line input.
ReadStatus ReadPacket(PtyLink& link, Packet& packet, PtyLink::Clock::duration timeout,
                      std::vector<uint8_t>* skipped = nullptr);
// Reads the rest of a packet whose marker has already been consumed.
ReadStatus ReadPacketAfterMarker(PtyLink& link, Packet& packet);

}  // namespace sim
