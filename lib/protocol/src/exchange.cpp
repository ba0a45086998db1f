#include "exchange.h"

#include "flashmate/bytes.h"
#include "flashmate/errors.h"
#include "flashmate/messages.h"
#include "flashmate/packet.h"
#include "flashmate/serial.h"

#include <cstdio>
#include <cstring>

namespace {

constexpr int32_t kAttempts = 5;
// Codes from here up are the receiver's own verdict: sending the command again cannot help.
constexpr uint32_t kReceiverCodes = 0x10000;
constexpr uint32_t kResponseWireBytes = PacketWireOverhead + 5;
constexpr uint32_t kLargestAnswerWireBytes = PacketWireOverhead + PacketMaxReceiveLength;

constexpr const char* kRetryFormat = "\r\n->Error:%s in execute command:%s Retry.";
// The error table has no row for some codes a receiver may send back (41, 43, ...); the retry
// line still has to say which one it was.
constexpr const char* kUnknownCodeFormat = "Неизвестная ошибка %d\r\n";

enum class Next {
    Retry,       // log the attempt and send the command again with the same id
    NewCommand,  // send it again under a new id, without a log line
    Stop,        // the exchange is over with this result
};

struct Outcome {
    int32_t result;
    Next next;
};

struct Style {
    int32_t firstContinueFlag;
    bool log;
};

constexpr Style kLogged{0, true};
constexpr Style kQuiet{1, false};

bool Accepted(uint8_t status)
{
    return status == StatusOk || status == StatusBusy || status == StatusDone;
}

// A failed status carries a code: the receiver's own ones end the exchange, smaller ones are
// retried (0 included).
Outcome ErrorValue(const UpgPacket& answer)
{
    const uint32_t value = GetBe32(answer.payload + 1);
    return {static_cast<int32_t>(value), value >= kReceiverCodes ? Next::Stop : Next::Retry};
}

Outcome JudgeResponse(const UpgPacket& answer, uint8_t* status)
{
    if (answer.type != PacketResponse || answer.id != CurrentPacketId || answer.length != 5) {
        return {UpgErrUnexpectedPacket, Next::Retry};
    }
    if (status != nullptr) {
        *status = answer.payload[0];
    }
    if (Accepted(answer.payload[0])) {
        return {UpgOk, Next::Stop};
    }
    return ErrorValue(answer);
}

void LogAttempt(int32_t attempt, int32_t result, const char* text)
{
    if (attempt == 0 && result != 0) {
        char errorText[256] = {};
        if (UpgGetErrorText(result, errorText) == 0) {
            std::snprintf(errorText, sizeof errorText, kUnknownCodeFormat, result);
        }
        UpgEmitMessage(0, kRetryFormat, errorText, text);
    } else {
        UpgEmitMessage(0, "%s", ".");
    }
}

int32_t AsIs(int32_t result)
{
    return result;
}

// Up to five attempts of one command; judge(answer) decides what each answer means, and
// finish(result) may still overrule the last attempt's result before it is logged.
template <typename Judge, typename Finish = int32_t (*)(int32_t)>
int32_t Exchange(const char* text, uint32_t timeoutMs, uint32_t answerWireBytes, Style style, Judge judge,
                 Finish finish = AsIs)
{
    // The answer's wait also covers the command's own trip at slow rates.
    const uint32_t wait =
        UpgLineTimeout(timeoutMs, static_cast<uint32_t>(std::strlen(text)) + PacketWireOverhead + answerWireBytes);
    UpgPurgePort();
    int32_t continueFlag = style.firstContinueFlag;
    int32_t result = UpgOk;
    int32_t attempt = 0;
    for (; attempt < kAttempts; ++attempt) {
        UpgPacket answer;
        result = SendCommandPacket(text, continueFlag);
        Next next = Next::Retry;
        if (result == UpgOk) {
            result = ReceivePacket(&answer, wait);
        }
        if (result == UpgOk) {
            const Outcome outcome = judge(answer);
            result = outcome.result;
            next = outcome.next;
        }
        if (next == Next::Stop) {
            break;
        }
        if (next == Next::NewCommand) {
            continueFlag = 0;
            continue;
        }
        if (style.log) {
            LogAttempt(attempt, result, text);
        }
        continueFlag = 1;
    }
    result = finish(result);
    // Success after a failure closes the retry line; five attempts that all ended on code 0
    // count as that too.
    if (style.log && result == UpgOk && attempt > 0) {
        UpgEmitMessage(0, "%s", "OK");
    }
    return result;
}

}  // namespace

int32_t ExecuteCommand(const char* text, uint32_t timeoutMs, uint8_t* status)
{
    return Exchange(text, timeoutMs, kResponseWireBytes, kLogged,
                    [status](const UpgPacket& answer) { return JudgeResponse(answer, status); });
}

int32_t ExecuteCommandQuiet(const char* text, uint32_t timeoutMs, uint8_t* status)
{
    return Exchange(text, timeoutMs, kResponseWireBytes, kQuiet,
                    [status](const UpgPacket& answer) { return JudgeResponse(answer, status); });
}

int32_t ExecuteCommandForData(const char* text, uint32_t timeoutMs, uint8_t* status, uint32_t* length,
                              uint8_t* destination)
{
    bool delivered = false;
    return Exchange(
        text, timeoutMs, kLargestAnswerWireBytes, kLogged, [&](const UpgPacket& answer) -> Outcome {
            if (answer.id != CurrentPacketId) {
                return {UpgErrUnexpectedPacket, Next::Retry};
            }
            if (answer.type == PacketData) {
                *length = answer.length;
                std::memcpy(destination, answer.payload, answer.length);
                delivered = true;
                return {UpgOk, Next::Stop};
            }
            if (answer.type != PacketResponse) {
                return {UpgErrUnexpectedPacket, Next::Retry};
            }
            if (status != nullptr) {
                *status = answer.payload[0];
            }
            if (answer.payload[0] == StatusDone) {
                return {UpgErrCommandExecuted, Next::NewCommand};
            }
            if (answer.payload[0] == StatusError) {
                return ErrorValue(answer);
            }
            return {UpgErrUnexpectedPacket, Next::Retry};
        },
        // Five error responses with value 0 leave a result of 0 but nothing to hand over.
        [&](int32_t result) { return result == UpgOk && !delivered ? UpgErrReceiverError : result; });
}
