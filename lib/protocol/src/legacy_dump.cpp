// Flash read back from a legacy boot loader: one byte stream (versions below 32), or packets of
// at most 1024 bytes that the PC asks for and acknowledges one by one (32 and above).
#include "legacy.h"

#include "legacy_wire.h"

#include "flashmate/bytes.h"
#include "flashmate/crc32.h"
#include "flashmate/deadline.h"
#include "flashmate/errors.h"
#include "flashmate/serial.h"
#include "flashmate/upgrade.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

namespace {

constexpr uint32_t kTotalTimeoutMs = 1000;
constexpr uint32_t kStreamByteTimeoutMs = 500;
constexpr uint32_t kStreamCrcTimeoutMs = 1000;
constexpr uint32_t kHeaderFieldTimeoutMs = 1000;
constexpr uint32_t kIndexCrcTimeoutMs = 1000;
constexpr uint32_t kLengthCrcTimeoutMs = 2000;
constexpr uint32_t kPacketStartTimeoutMs = 1000;
constexpr uint32_t kPacketRestTimeoutMs = 2000;
constexpr uint32_t kPacketCrcTimeoutMs = 1000;
// After a rejected header or packet, this much silence shows that the rest of it has passed, so
// the next header is read from its first byte instead of from leftovers.
constexpr uint32_t kQuietMs = 30;
// A line that never falls silent is not drained forever; the next header check judges it. On a
// slow line the limit stretches to the wire time of a whole packet, the most that can be left.
constexpr uint32_t kDrainLimitMs = 3000;

constexpr uint32_t kStreamBelowVersion = 32;
constexpr uint32_t kTotalAlwaysUpToVersion = 32;
constexpr uint32_t kHeaderCrcFromVersion = 33;

constexpr int32_t kStreamProgressEvery = 1024;
constexpr int32_t kWordSize = 4;
constexpr uint32_t kPacketSize = 1024;
constexpr int32_t kPacketStart = 12;
// Index, length and their two CRCs.
constexpr uint32_t kLongestHeader = 16;
constexpr uint8_t kBlankMarker[8] = {'B', 'L', 'A', 'N', 'K', 'P', 'C', 'K'};
constexpr int32_t kAckSize = 9;

bool ReceiveWord(uint32_t* value, uint32_t timeoutMs)
{
    uint8_t bytes[kWordSize];
    if (!legacy::Receive(bytes, kWordSize, timeoutMs)) {
        return false;
    }
    *value = GetBe32(bytes);
    return true;
}

// Header CRCs are taken over the number's little-endian bytes, though the number travels
// big-endian.
uint32_t LittleEndianCrc(uint32_t value)
{
    uint8_t bytes[kWordSize];
    PutLe32(bytes, value);
    return Crc32Compute(Crc32Start, bytes, kWordSize);
}

void DrainUntilQuiet()
{
    const Deadline limit = Deadline::AfterMs(UpgLineTimeout(kDrainLimitMs, kPacketSize + kLongestHeader));
    uint8_t sink[256];
    while (!limit.Expired() && UpgWaitForInput(UpgLineTimeout(kQuietMs, 2)) == 0) {
        while (UpgReadAvailable(sink, sizeof sink) > 0) {
        }
    }
}

// The state of one packet dump. Which 1024-byte slots hold data is kept so that a packet sent
// twice (its acknowledgement was lost) is counted once: counting it twice would end the dump
// early, with the last packets missing, and report success.
class PacketDump {
public:
    PacketDump(uint8_t* buffer, uint32_t capacity, int32_t total, bool headerCrcs)
        : buffer_(buffer),
          capacity_(capacity),
          total_(total),
          headerCrcs_(headerCrcs),
          stored_((static_cast<uint64_t>(capacity) + kPacketSize - 1) / kPacketSize, 0)
    {
    }

    bool Complete() const { return received_ >= total_; }

    // One request: 'H', the header, the packet and its acknowledgement. 0 to go on, else the
    // code that ends the dump.
    int32_t Turn(UpgProgressCallback progress)
    {
        if (UpgWriteByte(legacy::LetterHeader) != 1) {
            return UpgErrSend;
        }
        Header header{};
        bool accepted = false;
        const int32_t result = ReadHeader(&header, &accepted);
        if (result != UpgOk || !accepted) {
            return result;
        }
        uint8_t letter = legacy::LetterError;
        if (ReadPacket(header)) {
            letter = Take(header, progress) ? legacy::LetterOk : legacy::LetterError;
        } else {
            DrainUntilQuiet();
        }
        return Acknowledge(letter, header.index);
    }

private:
    struct Header {
        uint32_t index;
        uint32_t length;
    };

    int32_t ReadHeader(Header* header, bool* accepted)
    {
        if (!ReceiveWord(&header->index, kHeaderFieldTimeoutMs) ||
            !ReceiveWord(&header->length, kHeaderFieldTimeoutMs)) {
            return UpgErrTimeout;
        }
        if (!headerCrcs_) {
            *accepted = true;
            return UpgOk;
        }
        uint32_t indexCrc = 0;
        uint32_t lengthCrc = 0;
        if (!ReceiveWord(&indexCrc, kIndexCrcTimeoutMs) || !ReceiveWord(&lengthCrc, kLengthCrcTimeoutMs)) {
            return UpgErrTimeout;
        }
        *accepted = indexCrc == LittleEndianCrc(header->index) && lengthCrc == LittleEndianCrc(header->length);
        if (!*accepted) {
            DrainUntilQuiet();
        }
        // 'H' here rejects the header; the next turn's 'H' asks for it again.
        const uint8_t answer = *accepted ? legacy::LetterGo : legacy::LetterHeader;
        return UpgWriteByte(answer) == 1 ? UpgOk : UpgErrSend;
    }

    // Reads a blank or data packet into packet_; true when it is whole, its CRC matches and it
    // fits the caller's buffer. Nothing is read beyond the 1024-byte packet buffer. A packet of
    // no bytes is refused too: it would fill no slot, and without a header CRC its length of 0
    // may be a flipped bit, so the boot loader should send it again.
    bool ReadPacket(const Header& header)
    {
        const bool fits = static_cast<uint64_t>(header.index) * kPacketSize + header.length <= capacity_;
        if (!legacy::Receive(packet_, kPacketStart, kPacketStartTimeoutMs)) {
            return false;
        }
        if (std::memcmp(packet_, kBlankMarker, sizeof kBlankMarker) == 0) {
            const bool good = GetBe32(packet_ + sizeof kBlankMarker) ==
                                  Crc32Compute(Crc32Start, kBlankMarker, sizeof kBlankMarker) &&
                              header.length != 0 && header.length <= kPacketSize && fits;
            if (good) {
                std::memset(packet_, 0xFF, header.length);
            }
            return good;
        }
        if (header.length < static_cast<uint32_t>(kPacketStart) || header.length > kPacketSize || !fits) {
            return false;
        }
        const auto length = static_cast<int32_t>(header.length);
        uint32_t crc = 0;
        return legacy::Receive(packet_ + kPacketStart, length - kPacketStart, kPacketRestTimeoutMs) &&
               ReceiveWord(&crc, kPacketCrcTimeoutMs) && crc == Crc32Compute(Crc32Start, packet_, length);
    }

    // Stores a good packet; false when it must be refused after all.
    bool Take(const Header& header, UpgProgressCallback progress)
    {
        const uint32_t slot = header.index;
        if (stored_[slot] != 0) {
            return true;
        }
        // Without a header CRC a bit flipped in the index would put good data in the wrong
        // place, so only the next slot in order is trusted.
        if (!headerCrcs_ && slot != nextSlot_) {
            return false;
        }
        const uint64_t start = static_cast<uint64_t>(slot) * kPacketSize;
        std::memcpy(buffer_ + start, packet_, header.length);
        stored_[slot] = 1;
        while (nextSlot_ < stored_.size() && stored_[nextSlot_] != 0) {
            ++nextSlot_;
        }
        // Only bytes inside the announced total count towards it.
        const auto total = static_cast<uint64_t>(total_);
        if (start < total) {
            received_ += static_cast<int64_t>(std::min(start + header.length, total) - start);
        }
        legacy::Report(progress, legacy::Percent(received_, total_));
        return true;
    }

    static int32_t Acknowledge(uint8_t letter, uint32_t index)
    {
        uint8_t ack[kAckSize];
        ack[0] = letter;
        PutBe32(ack + 1, index);
        PutBe32(ack + 5, Crc32Compute(Crc32Start, ack, 5));
        return UpgWriteBytes(ack, kAckSize) == kAckSize ? UpgOk : UpgErrSend;
    }

    uint8_t* buffer_;
    uint64_t capacity_;
    int32_t total_;
    bool headerCrcs_;
    std::vector<uint8_t> stored_;
    uint32_t nextSlot_ = 0;
    int64_t received_ = 0;
    uint8_t packet_[kPacketSize] = {};
};

}  // namespace

int32_t LegacyDump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                   UpgCancelCallback cancel, uint32_t offset, uint32_t size)
{
    if (static_cast<uint32_t>(UpgGetLegacyProtocolVersion()) < kStreamBelowVersion) {
        return LegacyDumpStream(buffer, capacity, total, progress, cancel);
    }
    return LegacyDumpPackets(buffer, capacity, total, progress, cancel, offset, size);
}

int32_t LegacyDumpStream(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                         UpgCancelCallback cancel)
{
    const int32_t result = legacy::OpenCommand("dump\r");
    if (result != UpgOk) {
        return result;
    }
    uint32_t announced = 0;
    if (!ReceiveWord(&announced, kTotalTimeoutMs)) {
        return UpgErrTimeout;
    }
    *total = static_cast<int32_t>(announced);
    // Refused before the 'O', so the boot loader never starts sending what would not fit.
    if (*total < 0 || announced > capacity) {
        return UpgErrDumpLength;
    }
    if (UpgWriteByte(legacy::LetterOk) != 1) {
        return UpgErrReceiverError;
    }
    const int32_t count = *total;
    for (int32_t j = 0; j < count; ++j) {
        if (legacy::Cancelled(cancel)) {
            return UpgErrCancelled;
        }
        if (!legacy::Receive(buffer + j, 1, kStreamByteTimeoutMs)) {
            return UpgErrTimeout;
        }
        if (j % kStreamProgressEvery == 0 || j == count - 1) {
            legacy::Report(progress, legacy::Percent(j + 1, count));
        }
    }
    uint32_t crc = 0;
    // Boot loaders of this generation may send no CRC at all; the data then stands unchecked.
    if (!ReceiveWord(&crc, kStreamCrcTimeoutMs)) {
        return UpgOk;
    }
    return crc == Crc32Compute(Crc32Start, buffer, count) ? UpgOk : UpgErrRead;
}

int32_t LegacyDumpPackets(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                          UpgCancelCallback cancel, uint32_t offset, uint32_t size)
{
    char command[legacy::CommandBufferSize];
    std::snprintf(command, sizeof command, "dump %u %u\r", offset, size);
    const int32_t result = legacy::OpenCommand(command);
    if (result != UpgOk) {
        return result;
    }
    const auto version = static_cast<uint32_t>(UpgGetLegacyProtocolVersion());
    uint32_t announced = size;
    *total = static_cast<int32_t>(announced);
    if (size == 0 || version <= kTotalAlwaysUpToVersion) {
        if (!ReceiveWord(&announced, kTotalTimeoutMs)) {
            return UpgErrTimeout;
        }
        *total = static_cast<int32_t>(announced);
    }
    if (*total < 0) {
        return UpgErrDumpLength;
    }
    if (*total == 0) {
        return UpgOk;
    }
    // A dump that cannot fit could never be completed: its last packets would be refused forever.
    if (announced > capacity) {
        return UpgErrDumpLength;
    }
    PacketDump dump(buffer, capacity, *total, version >= kHeaderCrcFromVersion);
    while (!dump.Complete()) {
        if (legacy::Cancelled(cancel)) {
            return UpgErrCancelled;
        }
        const int32_t turn = dump.Turn(progress);
        if (turn != UpgOk) {
            return turn;
        }
    }
    return UpgOk;
}
