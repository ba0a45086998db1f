// The packet protocol's short commands: version, chunk table, address, move, burn, reboot.
#include "exchange.h"
#include "proto3.h"

#include "flashmate/bytes.h"
#include "flashmate/errors.h"
#include "flashmate/packet.h"
#include "flashmate/serial.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

struct Command {
    const char* text;     // printf format
    uint32_t timeoutMs;   // per attempt of the exchange
};

constexpr Command kVersion{"version\r", 1000};
constexpr Command kChunk{"chunk\r", 5000};
constexpr Command kAddress{"address %u\r", 1000};
// Keeping a chunk copies it inside the receiver, which takes a while for large ones.
constexpr Command kMove{"move %u %u\r", 10000};
constexpr Command kBurn{"burn\r", 2000};
constexpr Command kReboot{"reboot\r", 1000};

// Burning takes seconds between reports; a silent receiver is given up after five waits.
constexpr uint32_t kBurnReportTimeoutMs = 10000;
constexpr int32_t kBurnUnusableLimit = 5;
// Largest burn report on the wire: a data packet with the number, a letter and four digits.
constexpr uint32_t kBurnReportWireBytes = PacketWireOverhead + PacketNumberSize + 5;

constexpr int32_t kPercentPerKib = 1024 * 100;

constexpr char kReportProgress = 'B';
constexpr char kReportFinished = 'F';
constexpr char kReportFailed = 'E';

void Report(UpgProgressCallback progress, int32_t percent)
{
    if (progress != nullptr) {
        progress(percent);
    }
}

// The answer to "version\r" or "chunk\r": zero-filled first, so that bytes the receiver did
// not send read as 0.
struct DataAnswer {
    uint8_t bytes[PacketPayloadCapacity] = {};
    uint32_t length = 0;
};

int32_t AskForData(const Command& command, DataAnswer& answer)
{
    return ExecuteCommandForData(command.text, command.timeoutMs, nullptr, &answer.length, answer.bytes);
}

// The digit field of a 'B' report, read the way atoi reads text: at most four characters.
int32_t ReportedKib(const UpgPacket& report)
{
    char digits[5] = {};
    std::memcpy(digits, report.payload + PacketNumberSize + 1, 4);
    return static_cast<int32_t>(std::strtol(digits, nullptr, 10));
}

enum class BurnStep {
    Finished,   // progress 100, result 0
    Ended,      // the receiver's result code
    Failed,     // 'E': 13
    Busy,       // still working: the unusable count starts again
    Reported,   // a progress report: counts like an unusable packet after a reset
    Unusable,
};

BurnStep ClassifyBurnPacket(int32_t received, const UpgPacket& packet)
{
    if (received != UpgOk || packet.id != CurrentPacketId) {
        return BurnStep::Unusable;
    }
    if (packet.type == PacketResponse) {
        switch (packet.payload[0]) {
        case StatusDone: return BurnStep::Finished;
        case StatusError: return BurnStep::Ended;
        case StatusBusy: return BurnStep::Busy;
        default: return BurnStep::Unusable;
        }
    }
    if (packet.type == PacketData) {
        switch (packet.payload[PacketNumberSize]) {
        case kReportProgress: return BurnStep::Reported;
        case kReportFinished: return BurnStep::Finished;
        case kReportFailed: return BurnStep::Failed;
        default: return BurnStep::Unusable;
        }
    }
    return BurnStep::Unusable;
}

}  // namespace

int32_t Proto3GetVersion(int32_t* version)
{
    DataAnswer answer;
    const int32_t result = AskForData(kVersion, answer);
    if (result != UpgOk) {
        return result;
    }
    *version = static_cast<int32_t>(GetBe32(answer.bytes + PacketNumberSize));
    return UpgOk;
}

int32_t Proto3GetChunkTable(ChunkTable* table)
{
    DataAnswer answer;
    const int32_t result = AskForData(kChunk, answer);
    if (result != UpgOk) {
        return result;
    }
    // Without its number field the answer is broken, not an empty table: parsing it would
    // wrap the length round and leave the caller thinking the receiver has no chunks.
    if (answer.length < PacketNumberSize) {
        return UpgErrNotAllDataReceived;
    }
    ParseChunkTable(answer.bytes + PacketNumberSize, answer.length - PacketNumberSize, table);
    return UpgOk;
}

int32_t Proto3SetAddress(uint32_t address)
{
    char text[256];
    std::snprintf(text, sizeof text, kAddress.text, address);
    return ExecuteCommand(text, kAddress.timeoutMs, nullptr);
}

int32_t Proto3MoveChunk(uint32_t chunkId, uint32_t size)
{
    char text[256];
    std::snprintf(text, sizeof text, kMove.text, chunkId, size);
    return ExecuteCommand(text, kMove.timeoutMs, nullptr);
}

int32_t Proto3Burn(int32_t size, UpgProgressCallback progress)
{
    const int32_t started = ExecuteCommand(kBurn.text, kBurn.timeoutMs, nullptr);
    if (started != UpgOk) {
        return started;
    }
    const uint32_t wait = UpgLineTimeout(kBurnReportTimeoutMs, kBurnReportWireBytes);
    int32_t unusable = 0;
    while (unusable < kBurnUnusableLimit) {
        UpgPacket packet;
        const int32_t received = ReceivePacket(&packet, wait);
        switch (ClassifyBurnPacket(received, packet)) {
        case BurnStep::Finished:
            Report(progress, 100);
            return UpgOk;
        case BurnStep::Ended:
            return static_cast<int32_t>(GetBe32(packet.payload + 1));
        case BurnStep::Failed:
            return UpgErrBurnFailed;
        case BurnStep::Busy:
            unusable = 0;
            continue;
        case BurnStep::Reported:
            // A size of 0 or less gives no percentage; the report still shows the receiver lives.
            if (size > 0) {
                const int64_t percent = int64_t{ReportedKib(packet)} * kPercentPerKib / size;
                Report(progress, static_cast<int32_t>(std::clamp<int64_t>(percent, 0, 100)));
            }
            unusable = 0;
            break;
        case BurnStep::Unusable:
            break;
        }
        ++unusable;
    }
    // Reports stopped making sense: ask again under the burn's id and let the answer decide.
    const int32_t result = ExecuteCommandQuiet(kBurn.text, kBurn.timeoutMs, nullptr);
    if (result == UpgOk) {
        Report(progress, 100);
    }
    return result;
}

int32_t Proto3Reboot()
{
    return ExecuteCommand(kReboot.text, kReboot.timeoutMs, nullptr);
}
