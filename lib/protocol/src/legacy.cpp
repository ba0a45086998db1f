// The legacy byte protocol: echoed command lines, single-letter answers, raw blocks with CRCs.
#include "legacy.h"

#include "legacy_wire.h"

#include "flashmate/bytes.h"
#include "flashmate/crc32.h"
#include "flashmate/errors.h"
#include "flashmate/serial.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <thread>

namespace {

// The boot loader needs a moment after its last answer before it reads a new command line.
constexpr auto kCommandPause = std::chrono::milliseconds(100);
constexpr uint32_t kEchoTimeoutMs = 200;

constexpr uint32_t kVersionWordTimeoutMs = 1000;
constexpr uint32_t kTableLengthTimeoutMs = 100;
constexpr uint32_t kTableTimeoutMs = 5000;
constexpr uint32_t kTableCrcTimeoutMs = 100;
constexpr uint32_t kAddressAnswerTimeoutMs = 1000;
// The boot loader copies the whole chunk before it answers a move.
constexpr uint32_t kMoveAnswerTimeoutMs = 10000;
constexpr uint32_t kTransferAnswerTimeoutMs = 1000;
constexpr uint32_t kBlockAnswerTimeoutMs = 10000;
constexpr int32_t kBlockAttempts = 5;
constexpr uint32_t kBurnAnswerTimeoutMs = 1000;
// Erasing a sector can keep the boot loader silent for a long time.
constexpr uint32_t kBurnReportTimeoutMs = 30000;
constexpr uint32_t kBurnDetailTimeoutMs = 1000;

constexpr int32_t kBlockSize = 1024;
constexpr int32_t kCrcSize = 4;
constexpr uint32_t kReplyBufferSize = 2048;
// A first word from 0xB721 on is a version marker; 0xB720 and below is already the length.
constexpr uint32_t kVersionMarkerFirst = 0xB721;
constexpr uint32_t kVersionMarkerBase = 0xB700;
constexpr int32_t kBurnDigits = 4;
constexpr int32_t kBurnReportRest = 6;
constexpr int32_t kBurnFailureRest = 8;
// A burn report counts KiB: KiB × 1024 × 100 / size is the percentage.
constexpr int64_t kPercentPerKib = 102400;

// Reads the one-letter answer to a command: 0 for 'O', 10 for any other letter, 8 for none.
int32_t ExpectAccepted(uint32_t timeoutMs)
{
    uint8_t answer = 0;
    if (!legacy::Receive(&answer, 1, timeoutMs)) {
        return UpgErrTimeout;
    }
    return answer == legacy::LetterOk ? UpgOk : UpgErrReceiverError;
}

int32_t AcceptedCommand(const char* text, uint32_t answerTimeoutMs)
{
    const int32_t result = legacy::OpenCommand(text);
    return result != UpgOk ? result : ExpectAccepted(answerTimeoutMs);
}

// One block and its CRC, sent until the boot loader takes it or has refused it five times.
int32_t SendBlock(const uint8_t* block, int32_t size, UpgCancelCallback cancel)
{
    uint8_t frame[kBlockSize + kCrcSize];
    std::memcpy(frame, block, static_cast<size_t>(size));
    PutBe32(frame + size, Crc32Compute(Crc32Start, block, size));
    const int32_t frameSize = size + kCrcSize;
    // The frame has to cross the line before the answer can come back.
    const uint32_t answerTimeoutMs = UpgLineTimeout(kBlockAnswerTimeoutMs, static_cast<uint32_t>(frameSize + 1));

    for (int32_t attemptsLeft = kBlockAttempts; attemptsLeft > 0; --attemptsLeft) {
        if (legacy::Cancelled(cancel)) {
            return UpgErrCancelled;
        }
        // Block and CRC in one write: the same bytes on the line, one turnaround less.
        if (UpgWriteBytes(frame, frameSize) != frameSize) {
            return UpgErrSend;
        }
        uint8_t answer = 0;
        if (UpgReadBytes(&answer, 1, answerTimeoutMs) != 0) {
            return UpgErrTimeout;
        }
        if (answer == legacy::LetterOk) {
            return UpgOk;
        }
        if (answer != legacy::LetterError) {
            return UpgErrUnrecognised;
        }
    }
    return UpgErrRetryOverrun;
}

// The KiB count of a 'B' report, read the way atoi reads text: leading blanks, a sign, digits.
int32_t BurnedKib(const uint8_t* digits)
{
    char text[kBurnDigits + 1] = {};
    std::memcpy(text, digits, kBurnDigits);
    return static_cast<int32_t>(std::strtol(text, nullptr, 10));
}

void ReportBurn(UpgProgressCallback progress, int32_t kib, int32_t size)
{
    // Without a size there is nothing to take a percentage of; the report still shows that the
    // boot loader is alive, and 'F' reports 100.
    if (size <= 0) {
        return;
    }
    const int64_t percent = kib * kPercentPerKib / size;
    legacy::Report(progress, static_cast<int32_t>(std::clamp<int64_t>(percent, 0, 100)));
}

}  // namespace

namespace legacy {

int32_t OpenCommand(const char* text)
{
    std::this_thread::sleep_for(kCommandPause);
    UpgPurgePort();
    const auto length = static_cast<int32_t>(std::strlen(text));
    return UpgWriteEchoed(text, length, kEchoTimeoutMs) == UpgOk ? UpgOk : UpgErrCommandSend;
}

bool Receive(void* destination, int32_t count, uint32_t chosenMs)
{
    return UpgReadBytes(destination, count, UpgLineTimeout(chosenMs, static_cast<uint32_t>(count))) == 0;
}

bool Cancelled(UpgCancelCallback cancel)
{
    return cancel != nullptr && cancel() == 1;
}

void Report(UpgProgressCallback progress, int32_t percent)
{
    if (progress != nullptr) {
        progress(percent);
    }
}

int32_t Percent(int64_t done, int64_t all)
{
    return static_cast<int32_t>(done * 100 / all);
}

}  // namespace legacy

int32_t LegacyGetVersionAndChunks(int32_t* version, ChunkTable* table)
{
    const int32_t result = legacy::OpenCommand("version -r\r");
    if (result != UpgOk) {
        return result;
    }
    uint8_t reply[kReplyBufferSize] = {};
    uint8_t word[2];
    if (!legacy::Receive(word, 2, kVersionWordTimeoutMs)) {
        return UpgErrTimeout;
    }
    uint32_t length = GetBe16(word);
    *version = 0;
    if (length >= kVersionMarkerFirst) {
        *version = static_cast<int32_t>(length - kVersionMarkerBase);
        if (!legacy::Receive(word, 2, kTableLengthTimeoutMs)) {
            return UpgErrTimeout;
        }
        length = GetBe16(word);
    }
    // A table that does not fit the reply buffer cannot be checked, so it is not taken at all.
    if (length > kReplyBufferSize) {
        return UpgErrRead;
    }
    const auto count = static_cast<int32_t>(length);
    if (!legacy::Receive(reply, count, kTableTimeoutMs)) {
        return UpgErrTimeout;
    }
    uint8_t crc[kCrcSize];
    if (!legacy::Receive(crc, kCrcSize, kTableCrcTimeoutMs)) {
        return UpgErrTimeout;
    }
    if (GetBe32(crc) != Crc32Compute(Crc32Start, reply, count)) {
        return UpgErrRead;
    }
    return ParseChunkTable(reply, length, table);
}

int32_t LegacySetAddress(uint32_t address)
{
    char command[legacy::CommandBufferSize];
    std::snprintf(command, sizeof command, "address %u\r", address);
    return AcceptedCommand(command, kAddressAnswerTimeoutMs);
}

int32_t LegacyMoveChunk(uint32_t chunkId, uint32_t size)
{
    char command[legacy::CommandBufferSize];
    std::snprintf(command, sizeof command, "move %u %u\r", chunkId, size);
    return AcceptedCommand(command, kMoveAnswerTimeoutMs);
}

int32_t LegacyTransferRaw(const uint8_t* data, int32_t count, UpgProgressCallback progress, UpgCancelCallback cancel)
{
    char command[legacy::CommandBufferSize];
    std::snprintf(command, sizeof command, "transferraw %d\r", count);
    const int32_t result = AcceptedCommand(command, kTransferAnswerTimeoutMs);
    if (result != UpgOk || count <= 0) {
        return result;
    }
    for (int32_t offset = 0; offset < count;) {
        const int32_t size = std::min(kBlockSize, count - offset);
        const int32_t sent = SendBlock(data + offset, size, cancel);
        if (sent != UpgOk) {
            return sent;
        }
        offset += size;
        legacy::Report(progress, legacy::Percent(offset, count));
    }
    return UpgOk;
}

int32_t LegacyBurn(int32_t size, UpgProgressCallback progress)
{
    const int32_t result = AcceptedCommand("burn\r", kBurnAnswerTimeoutMs);
    if (result != UpgOk) {
        return result;
    }
    // No cancel and no limit on reports: stopping a burn half way would brick the receiver.
    for (;;) {
        uint8_t letter = 0;
        if (!legacy::Receive(&letter, 1, kBurnReportTimeoutMs)) {
            return UpgErrTimeout;
        }
        if (letter == legacy::LetterBurnReport) {
            uint8_t report[kBurnReportRest];
            if (!legacy::Receive(report, kBurnReportRest, kBurnDetailTimeoutMs)) {
                return UpgErrTimeout;
            }
            ReportBurn(progress, BurnedKib(report), size);
        } else if (letter == legacy::LetterBurnFinished) {
            legacy::Report(progress, 100);
            return UpgOk;
        } else if (letter == legacy::LetterError) {
            uint8_t detail[kBurnFailureRest];
            return legacy::Receive(detail, kBurnFailureRest, kBurnDetailTimeoutMs) ? UpgErrBurnFailed : UpgErrTimeout;
        }
        // Any other byte is line noise between reports.
    }
}

int32_t LegacyReboot()
{
    // Unlike the other commands no pause first and no answer after: the boot loader restarts.
    UpgPurgePort();
    const char command[] = "reboot\r";
    return UpgWriteEchoed(command, sizeof command - 1, kEchoTimeoutMs) == UpgOk ? UpgOk : UpgErrCommandSend;
}
