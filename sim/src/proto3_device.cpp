#include "proto3_device.h"

#include "flashmate/bytes.h"
#include "sim/lzma_unpack.h"

#include <algorithm>
#include <cstdio>
#include <limits>

namespace sim {

namespace {

// The boot loader's own error codes.
constexpr uint32_t kCommandLineError = 0x10000;
constexpr uint32_t kAddressOverflow = 0x10001;
constexpr uint32_t kChunkNotFound = 0x10003;
constexpr uint32_t kNothingWritten = 0x10004;
constexpr uint32_t kBufferTooSmall = 0x10005;

constexpr size_t kNumberField = 4;
constexpr uint32_t kDumpPacketData = 2040;
// A table answer must fit one packet: the size code, the auxiliary byte and 15 headers.
constexpr size_t kMaxTableChunks = 15;
constexpr size_t kChunkHeader = 128;


bool ParseUnsigned(const std::string& word, uint32_t* value)
{
    const bool digits = std::all_of(word.begin(), word.end(), [](char c) { return c >= '0' && c <= '9'; });
    if (word.empty() || word.size() > 10 || !digits) {
        return false;
    }
    const uint64_t parsed = std::stoull(word);
    if (parsed > std::numeric_limits<uint32_t>::max()) {
        return false;
    }
    *value = static_cast<uint32_t>(parsed);
    return true;
}

// "word arg arg\r" into its words; false without the closing carriage return.
bool SplitCommand(const std::string& text, std::vector<std::string>* words)
{
    if (text.empty() || text.back() != '\r') {
        return false;
    }
    std::string word;
    for (size_t i = 0; i + 1 < text.size(); ++i) {
        if (text[i] == ' ') {
            if (!word.empty()) {
                words->push_back(word);
            }
            word.clear();
        } else {
            word.push_back(text[i]);
        }
    }
    if (!word.empty()) {
        words->push_back(word);
    }
    return !words->empty();
}

std::vector<uint8_t> NumberAnd(uint32_t number, const std::vector<uint8_t>& rest)
{
    std::vector<uint8_t> payload(kNumberField);
    PutBe32(payload.data(), number);
    payload.insert(payload.end(), rest.begin(), rest.end());
    return payload;
}

}  // namespace

const Proto3Device::CommandRow Proto3Device::kCommands[] = {
    {"version", &Proto3Device::Version},
    {"chunk", &Proto3Device::Chunk},
    {"address", &Proto3Device::Address},
    {"move", &Proto3Device::Move},
    {"transfer", &Proto3Device::Transfer},
    {"burn", &Proto3Device::Burn},
    {"dump", &Proto3Device::DumpCommand},
    {"reboot", &Proto3Device::Reboot},
};

void Proto3Device::OnPacket(const Packet& packet)
{
    // A packet lost on its way in: the PC hears nothing and tries again.
    if (context_.faults.Drop()) {
        if (packet.type == wire::Command) {
            context_.record(packet.Text());
        }
        return;
    }
    switch (packet.type) {
    case wire::Command: OnCommand(packet); break;
    case wire::Data: OnData(packet); break;
    case wire::Request: OnRequest(packet); break;
    case wire::Response: OnResponse(packet); break;
    default: break;
    }
}

void Proto3Device::OnCommand(const Packet& packet)
{
    const std::string text = packet.Text();
    context_.record(text);
    if (haveLast_ && packet.id == lastId_ && text == lastText_) {
        Send(EncodePacket(lastType_, packet.id, packet.seq, lastPayload_));
        return;
    }
    Words words;
    if (!SplitCommand(text, &words)) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    for (const CommandRow& row : kCommands) {
        if (words.front() == row.word) {
            (this->*row.handler)(packet, Words(words.begin() + 1, words.end()));
            return;
        }
    }
    RespondToCommand(packet, wire::Error, kCommandLineError);
}

void Proto3Device::AnswerCommand(const Packet& command, uint8_t type, std::vector<uint8_t> payload)
{
    haveLast_ = true;
    lastId_ = command.id;
    lastText_ = command.Text();
    lastType_ = type;
    lastPayload_ = std::move(payload);
    Send(EncodePacket(lastType_, command.id, command.seq, lastPayload_));
}

void Proto3Device::RespondToCommand(const Packet& command, uint8_t status, uint32_t value)
{
    std::vector<uint8_t> payload(5);
    payload[0] = status;
    PutBe32(&payload[1], value);
    AnswerCommand(command, wire::Response, std::move(payload));
}

void Proto3Device::Send(std::vector<uint8_t> bytes)
{
    context_.faults.Send(context_.link, std::move(bytes));
}

void Proto3Device::Respond(const Packet& packet, uint8_t status, uint32_t value)
{
    Send(EncodeResponse(packet.id, packet.seq, status, value));
}

void Proto3Device::Acknowledge(const Packet& packet, uint32_t number)
{
    // An acknowledgement held back earlier turns up now, ahead of the current one.
    if (!lateAck_.empty()) {
        context_.link.Write(lateAck_);
        lateAck_.clear();
    }
    std::vector<uint8_t> ack = EncodeResponse(packet.id, packet.seq, wire::Ok, number);
    if (context_.faults.LateDuplicateAck()) {
        lateAck_ = ack;
    }
    Send(std::move(ack));
}

void Proto3Device::Version(const Packet& packet, const Words& words)
{
    if (!words.empty()) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    std::vector<uint8_t> version(4);
    PutBe32(version.data(), static_cast<uint32_t>(context_.config.protocolVersion));
    AnswerCommand(packet, wire::Data, NumberAnd(0, version));
}

void Proto3Device::Chunk(const Packet& packet, const Words& words)
{
    if (!words.empty()) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    std::vector<uint8_t> table = context_.flash.TableReply(context_.config.flashSizeCode, context_.config.flashAux);
    table.resize(std::min(table.size(), 2 + kMaxTableChunks * kChunkHeader));
    AnswerCommand(packet, wire::Data, NumberAnd(0, table));
}

void Proto3Device::Address(const Packet& packet, const Words& words)
{
    uint32_t address = 0;
    if (words.size() != 1 || !ParseUnsigned(words[0], &address)) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    if (address >= context_.flash.Size()) {
        RespondToCommand(packet, wire::Error, kAddressOverflow);
        return;
    }
    context_.flash.Start(address);
    RespondToCommand(packet, wire::Ok, 0);
}

void Proto3Device::Move(const Packet& packet, const Words& words)
{
    uint32_t id = 0;
    uint32_t size = 0;
    if (words.size() != 2 || !ParseUnsigned(words[0], &id) || !ParseUnsigned(words[1], &size)) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    const auto chunks = context_.flash.Chunks();
    if (std::none_of(chunks.begin(), chunks.end(), [id](const Flash::Chunk& chunk) { return chunk.id == id; })) {
        RespondToCommand(packet, wire::Error, kChunkNotFound);
        return;
    }
    if (!context_.flash.Keep(id, size)) {
        RespondToCommand(packet, wire::Error, kAddressOverflow);
        return;
    }
    RespondToCommand(packet, wire::Ok, 0);
}

void Proto3Device::Transfer(const Packet& packet, const Words& words)
{
    // "transfer N" or "transfer -z N M": N bytes once unpacked, M on the wire.
    const bool compressed = !words.empty() && words[0] == "-z";
    const Words numbers(words.begin() + (compressed ? 1 : 0), words.end());
    uint32_t size = 0;
    uint32_t onWire = 0;
    const bool valid = numbers.size() == (compressed ? 2u : 1u) && ParseUnsigned(numbers[0], &size) &&
                       size <= static_cast<uint32_t>(std::numeric_limits<int32_t>::max()) &&
                       (!compressed || (ParseUnsigned(numbers[1], &onWire) && onWire >= kLzmaHeaderSize));
    if (!valid) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    if (uint64_t{context_.flash.StartAddress()} + context_.flash.Pending() + size > context_.flash.Size()) {
        RespondToCommand(packet, wire::Error, kBufferTooSmall);
        return;
    }
    lateAck_.clear();
    download_ = Download{};
    download_.id = packet.id;
    download_.open = true;
    download_.compressed = compressed;
    download_.size = size;
    download_.onWire = compressed ? onWire : size;
    download_.bytes.reserve(download_.onWire);
    RespondToCommand(packet, wire::Ok, 0);
    if (download_.onWire == 0) {
        download_.open = false;
    }
}

void Proto3Device::OnData(const Packet& packet)
{
    if (packet.id != download_.id || packet.payload.size() < kNumberField) {
        return;
    }
    if (download_.failure != 0) {
        Respond(packet, wire::Error, download_.failure);
        return;
    }
    const uint32_t number = packet.Number();
    if (!download_.open || number != download_.lastNumber + 1) {
        // Already stored (its acknowledgement got lost), or not the next one.
        Acknowledge(packet, std::min(number, download_.lastNumber));
        return;
    }
    const size_t count = packet.payload.size() - kNumberField;
    if (download_.bytes.size() + count > download_.onWire) {
        download_.failure = kBufferTooSmall;
        download_.open = false;
        Respond(packet, wire::Error, download_.failure);
        return;
    }
    download_.bytes.insert(download_.bytes.end(), packet.payload.begin() + kNumberField, packet.payload.end());
    download_.lastNumber = number;
    if (download_.bytes.size() == download_.onWire) {
        FinishDownload(packet);
        return;
    }
    Acknowledge(packet, number);
}

void Proto3Device::FinishDownload(const Packet& last)
{
    download_.open = false;
    lateAck_.clear();
    std::vector<uint8_t> unpacked;
    const std::vector<uint8_t>* data = &download_.bytes;
    if (download_.compressed) {
        if (!UnpackLzma(download_.bytes, download_.size, &unpacked)) {
            download_.failure = kNothingWritten;
        }
        data = &unpacked;
    }
    if (download_.failure == 0 && !context_.flash.Append(data->data(), data->size())) {
        download_.failure = kBufferTooSmall;
    }
    download_.bytes = std::vector<uint8_t>();
    if (download_.failure != 0) {
        Respond(last, wire::Error, download_.failure);
        return;
    }
    Acknowledge(last, last.Number());
}

void Proto3Device::OnRequest(const Packet& packet)
{
    if (packet.payload.size() < kNumberField) {
        return;
    }
    const uint32_t number = packet.Number();
    if (dump_.id == packet.id && dump_.open) {
        if (number == 0) {
            std::vector<uint8_t> total(4);
            PutBe32(total.data(), dump_.total);
            Send(EncodeData(packet.id, packet.seq, 0, total.data(), total.size()));
            return;
        }
        const uint64_t start = uint64_t{number - 1} * kDumpPacketData;
        if (start >= dump_.total) {
            Respond(packet, wire::Done, 0);
            return;
        }
        const auto count = static_cast<uint32_t>(std::min<uint64_t>(kDumpPacketData, dump_.total - start));
        const uint8_t* from = context_.flash.Contents().data() + dump_.offset + start;
        if (std::all_of(from, from + count, [](uint8_t b) { return b == 0xFF; })) {
            Send(EncodeBlankData(packet.id, packet.seq, number, static_cast<uint32_t>(kNumberField) + count));
        } else {
            Send(EncodeData(packet.id, packet.seq, number, from, count));
        }
        return;
    }
    if (download_.id == packet.id) {
        if (download_.failure != 0) {
            Respond(packet, wire::Error, download_.failure);
            return;
        }
        // Any number but the one asked for makes the PC send that packet again.
        Acknowledge(packet, number <= download_.lastNumber ? number : download_.lastNumber);
    }
}

void Proto3Device::OnResponse(const Packet& packet)
{
    if (packet.Status() != wire::Abort) {
        return;
    }
    if (packet.id == download_.id && download_.open) {
        download_.open = false;
        download_.bytes = std::vector<uint8_t>();
        lateAck_.clear();
    }
    if (packet.id == dump_.id) {
        dump_.open = false;
    }
}

void Proto3Device::Report(uint32_t id, uint8_t seq, uint32_t number, const std::string& text)
{
    context_.link.Write(EncodeData(id, seq, number, reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

void Proto3Device::ListenWhileBurning(uint32_t burnId, std::chrono::milliseconds interval)
{
    const auto until = PtyLink::Clock::now() + interval;
    for (;;) {
        const auto now = PtyLink::Clock::now();
        if (now >= until || !context_.running()) {
            return;
        }
        Packet packet;
        if (ReadPacket(context_.link, packet, until - now) != ReadStatus::Ok) {
            continue;
        }
        if (packet.type == wire::Command) {
            context_.record(packet.Text());
            if (packet.id == burnId && !context_.faults.Drop()) {
                Respond(packet, wire::Busy, 0);
            }
        }
    }
}

void Proto3Device::Burn(const Packet& packet, const Words& words)
{
    if (!words.empty()) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    const uint32_t pending = context_.flash.Pending();
    if (pending == 0) {
        RespondToCommand(packet, wire::Error, kNothingWritten);
        return;
    }
    RespondToCommand(packet, wire::Ok, 0);
    const BurnBehaviour& behaviour = context_.config.burn;
    const uint32_t totalKib = (pending + 1023) / 1024;
    const uint32_t step = std::max<uint32_t>(behaviour.kibPerReport, 1);
    uint32_t reports = 0;
    for (uint32_t kib = std::min(step, totalKib); context_.running(); kib = std::min(kib + step, totalKib)) {
        ListenWhileBurning(packet.id, behaviour.reportInterval);
        char digits[8];
        std::snprintf(digits, sizeof digits, "B%04u", std::min<uint32_t>(kib, 9999));
        Report(packet.id, packet.seq, ++reports, digits);
        if (behaviour.busyEvery != 0 && reports % behaviour.busyEvery == 0) {
            context_.link.Write(EncodeResponse(packet.id, packet.seq, wire::Busy, 0));
        }
        if (kib == totalKib) {
            break;
        }
    }
    ListenWhileBurning(packet.id, behaviour.reportInterval);
    if (behaviour.fail) {
        Report(packet.id, packet.seq, ++reports, "E");
        lastPayload_ = {wire::Error, 0, 0, 0, 0};
        PutBe32(&lastPayload_[1], kNothingWritten);
        return;
    }
    context_.flash.Burn();
    // A later "burn" under this id (the PC asking what became of it) hears that it is done.
    lastPayload_ = {wire::Done, 0, 0, 0, 0};
    if (behaviour.endWithDone) {
        context_.link.Write(EncodeResponse(packet.id, packet.seq, wire::Done, 0));
    } else {
        Report(packet.id, packet.seq, ++reports, "F");
    }
}

void Proto3Device::DumpCommand(const Packet& packet, const Words& words)
{
    uint32_t offset = 0;
    uint32_t size = 0;
    if (words.size() != 2 || !ParseUnsigned(words[0], &offset) || !ParseUnsigned(words[1], &size)) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    const uint32_t flashSize = context_.flash.Size();
    // Size 0 reads from the offset to the end: "dump 0 0" is the whole flash.
    if (offset >= flashSize || uint64_t{offset} + size > flashSize) {
        RespondToCommand(packet, wire::Error, kAddressOverflow);
        return;
    }
    dump_ = Dump{packet.id, true, offset, size != 0 ? size : flashSize - offset};
    RespondToCommand(packet, wire::Ok, 0);
}

void Proto3Device::Reboot(const Packet& packet, const Words& words)
{
    if (!words.empty()) {
        RespondToCommand(packet, wire::Error, kCommandLineError);
        return;
    }
    RespondToCommand(packet, wire::Ok, 0);
    haveLast_ = false;
    download_ = Download{};
    dump_ = Dump{};
    lateAck_.clear();
    context_.reboot();
}

}  // namespace sim
