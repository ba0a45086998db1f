// The packet protocol's bulk transfers: downloads into the receiver and dumps of its flash,
// both stop-and-wait, one packet out and one back.
#include "compression.h"
#include "exchange.h"
#include "proto3.h"
#include "transfer_totals.h"

#include "flashmate/bytes.h"
#include "flashmate/errors.h"
#include "flashmate/messages.h"
#include "flashmate/packet.h"
#include "flashmate/serial.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

namespace {

constexpr const char* kDumpCommand = "dump %u %u\r";
constexpr const char* kTransferCommand = "transfer %d\r";
constexpr const char* kTransferCompressedCommand = "transfer -z %d %d\r";
constexpr uint32_t kCommandTimeoutMs = 1000;
constexpr uint32_t kAckTimeoutMs = 1500;
constexpr uint32_t kDumpPacketTimeoutMs = 2000;

constexpr uint32_t kDownloadPacketData = 1024;
// What one step of each loop puts on the line, both ways, for waits at slow rates.
constexpr uint32_t kDownloadStepWireBytes =
    PacketWireOverhead + PacketNumberSize + kDownloadPacketData + PacketWireOverhead + 5;
constexpr uint32_t kDumpStepWireBytes =
    PacketWireOverhead + PacketNumberSize + PacketWireOverhead + PacketMaxReceiveLength;
// Packet 0 of a dump carries the total behind its number.
constexpr uint32_t kDumpTotalSize = 4;

// Until packet 0 says otherwise, a dump expects a 2 MiB flash.
constexpr int32_t kAssumedDumpTotal = 0x200000;
// Failures in a row before the log hears about them.
constexpr int32_t kWarnAfterFailures = 3;
constexpr uint32_t kWarningLevel = 2;

constexpr const char* kDumpWarning = "\r\n->Warning:dump packet:%u Error! Retry.";
constexpr const char* kDownloadWarning = "\r\n->Warning:download packet:%u Error! Retry.";

// Failures of a bulk loop: retried without limit, reported once the third comes, and only
// forgotten by a success after that, so that a third failure however much later still warns.
class FailureLog {
public:
    explicit FailureLog(const char* warning) : warning_(warning) {}

    bool Any() const { return count_ > 0; }

    void Failure(uint32_t packetNumber)
    {
        ++count_;
        if (count_ == kWarnAfterFailures) {
            UpgEmitMessage(kWarningLevel, warning_, packetNumber);
        } else if (count_ > kWarnAfterFailures) {
            UpgEmitMessage(kWarningLevel, "%s", ".");
        }
    }

    void Success()
    {
        if (count_ >= kWarnAfterFailures) {
            count_ = 0;
            UpgEmitMessage(kWarningLevel, "%s", "OK");
        }
    }

private:
    const char* warning_;
    int32_t count_ = 0;
};

bool Cancelled(UpgCancelCallback cancel)
{
    return cancel != nullptr && cancel() == 1;
}

// The user stopped us: tell the receiver, whether or not that packet gets out.
int32_t Abort(int32_t result)
{
    SendResponsePacket(StatusAbort, 0);
    return result;
}

void Report(UpgProgressCallback progress, uint64_t done, uint64_t whole)
{
    if (progress != nullptr) {
        progress(static_cast<int32_t>(std::min<uint64_t>(done * 100 / whole, 100)));
    }
}

}  // namespace

int32_t Proto3Transfer(uint8_t* data, int32_t count, UpgProgressCallback progress, UpgCancelCallback cancel)
{
    // A negative count would announce nonsense and read far past the caller's data.
    if (count < 0) {
        return UpgErrGeneric;
    }
    const auto byteCount = static_cast<uint32_t>(count);
    uint32_t toSend = byteCount;
    char command[256];
    if (CompressForTransfer(data, byteCount, data, &toSend) == UpgOk) {
        std::snprintf(command, sizeof command, kTransferCompressedCommand, count, static_cast<int32_t>(toSend));
    } else {
        toSend = byteCount;
        std::snprintf(command, sizeof command, kTransferCommand, count);
    }
    const int32_t started = ExecuteCommand(command, kCommandTimeoutMs, nullptr);
    if (started != UpgOk || toSend == 0) {
        if (started == UpgOk) {
            RecordDownload(byteCount, toSend);
        }
        return started;
    }

    const uint32_t wait = UpgLineTimeout(kAckTimeoutMs, kDownloadStepWireBytes);
    FailureLog failures(kDownloadWarning);
    uint32_t number = 1;
    uint32_t sent = 0;
    uint32_t packetSize = kDownloadPacketData;
    bool resend = false;
    while (sent < toSend) {
        if (Cancelled(cancel)) {
            return Abort(UpgErrCancelled);
        }
        if (failures.Any()) {
            UpgPurgeTransmit();
        }
        packetSize = std::min(packetSize, toSend - sent);
        // After a failure, ask whether the packet arrived instead of sending it blindly again.
        const int32_t out = resend ? SendRequestPacket(number) : SendDataPacket(number, data + sent, packetSize);
        if (out != UpgOk) {
            return UpgErrDataPacketSend;
        }
        UpgPacket answer;
        const bool usable = ReceivePacket(&answer, wait) == UpgOk && answer.type == PacketResponse &&
                            answer.id == CurrentPacketId;
        // Anything unusable takes the failure path below, like an unknown status.
        const uint8_t status = usable ? answer.payload[0] : uint8_t{StatusAbort};
        const uint32_t value = usable ? GetBe32(answer.payload + 1) : 0;
        if (status == StatusOk) {
            resend = false;
            // Any other number is a stale acknowledgement: the packet simply goes out again.
            if (value == number) {
                sent += packetSize;
                ++number;
                Report(progress, sent, toSend);
            }
            failures.Success();
            continue;
        }
        if (status == StatusDone) {
            Report(progress, 100, 100);
            RecordDownload(byteCount, toSend);
            return UpgOk;
        }
        if (status == StatusError && value >= static_cast<uint32_t>(UpgErrReceiverBase)) {
            return static_cast<int32_t>(value);
        }
        failures.Failure(number);
        resend = true;
    }
    RecordDownload(byteCount, toSend);
    return UpgOk;
}

int32_t Proto3Dump(uint8_t* buffer, uint32_t capacity, int32_t* total, UpgProgressCallback progress,
                   UpgCancelCallback cancel, uint32_t offset, uint32_t size)
{
    char command[256];
    std::snprintf(command, sizeof command, kDumpCommand, offset, size);
    const int32_t started = ExecuteCommand(command, kCommandTimeoutMs, nullptr);
    if (started != UpgOk) {
        return started;
    }

    const uint32_t wait = UpgLineTimeout(kDumpPacketTimeoutMs, kDumpStepWireBytes);
    const uint32_t room = std::min<uint32_t>(capacity, std::numeric_limits<int32_t>::max());
    FailureLog failures(kDumpWarning);
    *total = kAssumedDumpTotal;
    uint32_t next = 0;
    uint32_t received = 0;
    do {
        if (Cancelled(cancel)) {
            return Abort(UpgErrCancelled);
        }
        if (failures.Any()) {
            UpgPurgeTransmit();
        }
        if (SendRequestPacket(next) != UpgOk) {
            return UpgErrDataPacketSend;
        }
        UpgPacket packet;
        if (ReceivePacket(&packet, wait) != UpgOk || packet.id != CurrentPacketId) {
            failures.Failure(next);
            continue;
        }
        if (packet.type == PacketResponse) {
            if (packet.payload[0] == StatusError) {
                return static_cast<int32_t>(GetBe32(packet.payload + 1));
            }
            if (packet.payload[0] == StatusDone) {
                return UpgErrNotAllDataRead;
            }
            failures.Failure(next);
            continue;
        }
        // A data packet too short for its number field, or for the total behind it in packet 0,
        // is as broken as one with a bad CRC.
        const uint32_t needed = PacketNumberSize + (next == 0 ? kDumpTotalSize : 0);
        if (packet.type != PacketData || packet.length < needed || GetBe32(packet.payload) != next) {
            failures.Failure(next);
            continue;
        }
        if (next == 0) {
            const uint32_t announced = GetBe32(packet.payload + PacketNumberSize);
            // More than the buffer holds would be written past its end: stop the receiver too.
            if (announced > room) {
                *total = 0;
                return Abort(UpgErrDumpLength);
            }
            *total = static_cast<int32_t>(announced);
            next = 1;
            if (announced == 0) {
                return UpgErrGeneric;
            }
            continue;
        }
        const uint32_t count = packet.length - PacketNumberSize;
        if (count > room - received) {
            return Abort(UpgErrDumpLength);
        }
        std::memcpy(buffer + received, packet.payload + PacketNumberSize, count);
        received += count;
        ++next;
        failures.Success();
        Report(progress, received, static_cast<uint32_t>(*total));
    } while (received < static_cast<uint32_t>(*total));
    return UpgOk;
}
