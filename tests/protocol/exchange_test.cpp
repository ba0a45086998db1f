#include "exchange.h"
#include "scripted_device.h"

#include "flashmate/errors.h"
#include "flashmate/packet.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::Bytes;
using testsupport::Capture;

enum class Form { Logged, Quiet, ForData };

// What the device does with one command packet.
struct Answer {
    enum Kind { Status, Silence, WrongLength, WrongId, BadCrc, DataPacket } kind;
    uint8_t status = 0;
    uint32_t value = 0;
};

Answer Status(uint8_t status, uint32_t value = 0)
{
    return {Answer::Status, status, value};
}

const Answer kOk = Status(sim::wire::Ok);
const Answer kSilence{Answer::Silence};
const Answer kData{Answer::DataPacket};
const Bytes kPayload = {'v', '4', '8'};

Bytes Perform(const Answer& answer, const sim::Packet& command)
{
    switch (answer.kind) {
    case Answer::Status: return sim::EncodeResponse(command.id, command.seq, answer.status, answer.value);
    case Answer::Silence: return {};
    case Answer::WrongLength: return sim::EncodePacket(sim::wire::Response, command.id, command.seq, {0, 0, 0, 0, 0, 0});
    case Answer::WrongId: return sim::EncodeResponse(command.id - 1, command.seq, sim::wire::Ok, 0);
    case Answer::BadCrc: return testsupport::Corrupted(sim::EncodeResponse(command.id, command.seq, sim::wire::Ok, 0));
    case Answer::DataPacket: return sim::EncodeData(command.id, command.seq, 7, kPayload.data(), kPayload.size());
    }
    return {};
}

struct ExchangeCase {
    const char* name;
    Form form;
    std::vector<Answer> answers;  // one per command packet; the last one repeats
    int32_t result;
    size_t sends;
    std::string log;
    int status;  // expected in the status out; -1 when no response was judged
};

constexpr const char* kText = "address 7\r";

std::string RetryLine(const std::string& errorText, const std::string& command = kText)
{
    return "\r\n->Error:" + errorText + "\r\n in execute command:" + command + " Retry.";
}

class ExchangeTest : public testsupport::ScriptedDeviceTest, public ::testing::WithParamInterface<ExchangeCase> {};

TEST_P(ExchangeTest, JudgesAnswersRetriesAndLogs)
{
    const ExchangeCase& c = GetParam();
    size_t commands = 0;
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        const Answer& answer = c.answers[std::min(commands++, c.answers.size() - 1)];
        return {Perform(answer, packet)};
    });
    CurrentPacketId = 40;
    constexpr uint8_t kUntouched = 0xEE;
    uint8_t status = kUntouched;
    uint32_t length = 0;
    uint8_t destination[PacketPayloadCapacity] = {};
    // Short answer waits: the silent cases take five of them.
    constexpr uint32_t kTimeoutMs = 60;
    int32_t result = -1;
    switch (c.form) {
    case Form::Logged: result = ExecuteCommand(kText, kTimeoutMs, &status); break;
    case Form::Quiet: result = ExecuteCommandQuiet(kText, kTimeoutMs, &status); break;
    case Form::ForData: result = ExecuteCommandForData(kText, kTimeoutMs, &status, &length, destination); break;
    }
    const std::vector<sim::Packet> packets = StopDevice();

    EXPECT_EQ(result, c.result);
    EXPECT_EQ(Capture::Log(), c.log);
    for (const auto& message : Capture::messages) {
        EXPECT_EQ(message.level, 0u);
    }
    EXPECT_EQ(status, c.status < 0 ? kUntouched : c.status);
    ASSERT_EQ(packets.size(), c.sends);
    // Repeats keep the id (a late answer still counts) unless the receiver said it executed
    // the command without data, which starts a new one.
    uint32_t id = c.form == Form::Quiet ? 40 : 41;
    uint8_t seq = c.form == Form::Quiet ? 1 : 0;
    for (size_t i = 0; i < packets.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(packets[i].type, sim::wire::Command);
        EXPECT_EQ(packets[i].Text(), kText);
        EXPECT_EQ(packets[i].id, id);
        EXPECT_EQ(packets[i].seq, seq);
        const Answer& answer = c.answers[std::min(i, c.answers.size() - 1)];
        if (c.form == Form::ForData && answer.kind == Answer::Status && answer.status == sim::wire::Done) {
            ++id;
            seq = 0;
        } else {
            ++seq;
        }
    }
    if (c.form == Form::ForData && c.result == 0) {
        EXPECT_EQ(length, 4 + kPayload.size());
        EXPECT_EQ(Bytes(destination, destination + length), (Bytes{0, 0, 0, 7, 'v', '4', '8'}));
    }
}

const std::string kNoPacket = "Нет приема пакетов";
const std::string kNotRecognised = " Не распознаю пакет! ";

INSTANTIATE_TEST_SUITE_P(
    Answers, ExchangeTest,
    ::testing::Values(
        ExchangeCase{"ok", Form::Logged, {kOk}, 0, 1, "", 0},
        ExchangeCase{"busy_succeeds", Form::Logged, {Status(sim::wire::Busy)}, 0, 1, "", 2},
        ExchangeCase{"done_succeeds", Form::Logged, {Status(sim::wire::Done)}, 0, 1, "", 3},
        ExchangeCase{"receiver_error_ends_at_once", Form::Logged, {Status(sim::wire::Error, 65537)}, 65537, 1, "", 1},
        ExchangeCase{"small_error_is_retried_five_times", Form::Logged, {Status(sim::wire::Error, 5)}, 5, 5,
                     RetryLine("Ошибка отправки!   ") + "....", 1},
        ExchangeCase{"one_failure_then_ok", Form::Logged, {Status(sim::wire::Error, 5), kOk}, 0, 2,
                     RetryLine("Ошибка отправки!   ") + "OK", 0},
        ExchangeCase{"three_failures_then_ok", Form::Logged, {kSilence, {Answer::BadCrc}, {Answer::WrongId}, kOk}, 0,
                     4, RetryLine(kNoPacket) + "\r\n->Error:Ошибка проверки пакета данных CRC!" + "..OK", 0},
        ExchangeCase{"no_answer_gives_27", Form::Logged, {kSilence}, UpgErrNoPacket, 5, RetryLine(kNoPacket) + "....",
                     -1},
        ExchangeCase{"wrong_length_gives_32", Form::Logged, {{Answer::WrongLength}}, UpgErrUnexpectedPacket, 5,
                     RetryLine(kNotRecognised) + "....", -1},
        ExchangeCase{"a_data_packet_is_not_a_response", Form::Logged, {kData, kOk}, 0, 2,
                     RetryLine(kNotRecognised) + "OK", 0},
        ExchangeCase{"error_value_0_five_times_is_0", Form::Logged, {Status(sim::wire::Error, 0)}, 0, 5, ".....OK", 1},
        ExchangeCase{"a_code_without_a_text_is_named", Form::Logged, {Status(sim::wire::Error, 41), kOk}, 0, 2,
                     RetryLine("Неизвестная ошибка 41") + "OK", 0},
        ExchangeCase{"quiet_logs_nothing", Form::Quiet, {Status(sim::wire::Error, 5)}, 5, 5, "", 1},
        ExchangeCase{"quiet_succeeds_after_failures", Form::Quiet, {kSilence, Status(sim::wire::Done)}, 0, 2, "", 3},
        ExchangeCase{"quiet_receiver_error_ends_at_once", Form::Quiet, {Status(sim::wire::Error, 65540)}, 65540, 1,
                     "", 1},
        ExchangeCase{"data_at_once_logs_nothing", Form::ForData, {kData}, 0, 1, "", -1},
        ExchangeCase{"done_five_times_gives_42_with_new_ids", Form::ForData, {Status(sim::wire::Done)},
                     UpgErrCommandExecuted, 5, "", 3},
        ExchangeCase{"done_then_data", Form::ForData, {Status(sim::wire::Done), kData}, 0, 2, "OK", 3},
        ExchangeCase{"data_receiver_error_ends_at_once", Form::ForData, {Status(sim::wire::Error, 65538)}, 65538, 1,
                     "", 1},
        ExchangeCase{"data_answered_by_ok_is_unexpected", Form::ForData, {kOk, kData}, 0, 2,
                     RetryLine(kNotRecognised) + "OK", 0},
        ExchangeCase{"data_wrong_id_is_unexpected", Form::ForData, {{Answer::WrongId}}, UpgErrUnexpectedPacket, 5,
                     RetryLine(kNotRecognised) + "....", -1},
        // Five errors of value 0 leave nothing to hand over: not a success.
        ExchangeCase{"data_error_value_0_five_times_fails", Form::ForData, {Status(sim::wire::Error, 0)},
                     UpgErrReceiverError, 5, ".....", 1}),
    testsupport::CaseName());

using QuietAfterLogged = testsupport::ScriptedDeviceTest;

TEST_F(QuietAfterLogged, ContinuesTheIdWithRisingSequenceNumbers)
{
    RunDevice([](const sim::Packet& packet) -> std::vector<Bytes> { return {testsupport::Reply(packet, sim::wire::Ok, 0)}; });
    ASSERT_EQ(ExecuteCommand("burn\r", 200, nullptr), 0);
    ASSERT_EQ(ExecuteCommandQuiet("burn\r", 200, nullptr), 0);
    ASSERT_EQ(ExecuteCommandQuiet("burn\r", 200, nullptr), 0);
    const std::vector<sim::Packet> packets = StopDevice();
    ASSERT_EQ(packets.size(), 3u);
    for (uint8_t i = 0; i < 3; ++i) {
        EXPECT_EQ(packets[i].id, 1u);
        EXPECT_EQ(packets[i].seq, i);
    }
}

// An answer that arrives too late for one attempt is taken by the next, because repeats keep
// the id; the late duplicate left in the input is dropped by the next exchange's purge.
TEST_F(QuietAfterLogged, ALateAnswerIsAcceptedByTheNextAttempt)
{
    int commands = 0;
    RunDevice([&](const sim::Packet& packet) -> std::vector<Bytes> {
        if (commands++ == 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(120));
        }
        return {testsupport::Reply(packet, sim::wire::Done, 0)};
    });
    EXPECT_EQ(ExecuteCommand("move 1 2\r", 80, nullptr), 0);
    EXPECT_EQ(Capture::Log(), RetryLine(kNoPacket, "move 1 2\r") + "OK");
    StopDevice();
}

}  // namespace
