#include "legacy_device.h"

#include "flashmate/bytes.h"
#include "flashmate/crc32.h"

#include <algorithm>
#include <charconv>
#include <cstdio>
#include <sstream>
#include <thread>

namespace sim {

namespace {

// How long the boot loader waits for the PC's next letter or block before it gives up and goes
// back to reading command lines; each wait also covers the wire time of what it waits for.
constexpr auto kLetterWait = std::chrono::seconds(3);
constexpr auto kBlockWait = std::chrono::seconds(3);
// The PC may spend a while on a bad packet (its own time-outs, then draining) before it answers.
constexpr auto kAcknowledgementWait = std::chrono::seconds(10);

constexpr int32_t kFirstMarkedVersion = 33;
constexpr int32_t kLastMarkedVersion = 47;
constexpr uint8_t kVersionMarker = 0xB7;
constexpr int32_t kFirstPacketVersion = 32;
constexpr int32_t kFirstHeaderCrcVersion = 33;

constexpr uint32_t kBlockSize = 1024;
constexpr uint32_t kPacketSize = 1024;
constexpr size_t kCrcSize = 4;
constexpr size_t kAcknowledgementSize = 9;
constexpr char kBlankMarker[] = "BLANKPCK";
constexpr uint32_t kMaxReportedKib = 9999;
// What a failing burn sends after its 'E'.
constexpr char kBurnFailure[] = "FLASHERR";

std::vector<std::string> Split(const std::string& line)
{
    std::istringstream words(line);
    std::vector<std::string> parts;
    for (std::string word; words >> word;) {
        parts.push_back(word);
    }
    return parts;
}

template <typename Number>
bool Parse(const std::string& text, Number* value)
{
    const char* end = text.data() + text.size();
    const auto [last, error] = std::from_chars(text.data(), end, *value);
    return error == std::errc() && last == end;
}

void AppendBe32(std::vector<uint8_t>& bytes, uint32_t value)
{
    uint8_t word[4];
    PutBe32(word, value);
    bytes.insert(bytes.end(), word, word + 4);
}

uint32_t Crc(const uint8_t* bytes, size_t count)
{
    return Crc32Compute(Crc32Start, bytes, static_cast<int32_t>(count));
}

uint32_t LittleEndianCrc(uint32_t value)
{
    uint8_t bytes[4];
    PutLe32(bytes, value);
    return Crc(bytes, sizeof bytes);
}

}  // namespace

const LegacyDevice::Command LegacyDevice::kCommands[] = {
    {"version", &LegacyDevice::Version},
    {"address", &LegacyDevice::Address},
    {"move", &LegacyDevice::Move},
    {"transferraw", &LegacyDevice::TransferRaw},
    {"burn", &LegacyDevice::Burn},
    {"dump", &LegacyDevice::Dump},
    {"reboot", &LegacyDevice::Reboot},
};

void LegacyDevice::OnLine(const std::string& line)
{
    std::vector<std::string> words = Split(line);
    if (!words.empty()) {
        const std::string word = words.front();
        words.erase(words.begin());
        for (const Command& command : kCommands) {
            if (word == command.word) {
                (this->*command.handler)(words);
                return;
            }
        }
    }
    // A command this boot loader does not know is refused.
    Answer('E');
}

void LegacyDevice::Answer(uint8_t letter)
{
    context_.link.Write(&letter, 1);
}

bool LegacyDevice::ReadExact(uint8_t* destination, size_t count, PtyLink::Clock::duration wait)
{
    const auto wire = context_.link.ByteTime() * static_cast<int64_t>(count);
    return context_.link.ReadExact(destination, count, wait + wire);
}

bool LegacyDevice::WaitFor(uint8_t letter)
{
    const auto until = PtyLink::Clock::now() + kLetterWait;
    uint8_t byte = 0;
    while (PtyLink::Clock::now() < until) {
        if (!ReadExact(&byte, 1, until - PtyLink::Clock::now())) {
            return false;
        }
        if (byte == letter) {
            return true;
        }
    }
    return false;
}

void LegacyDevice::Version(const Arguments& arguments)
{
    if (arguments != Arguments{"-r"}) {
        Answer('E');
        return;
    }
    const std::vector<uint8_t> table = context_.flash.TableReply(context_.config.flashSizeCode, context_.config.flashAux);
    std::vector<uint8_t> reply;
    if (Generation() >= kFirstMarkedVersion && Generation() <= kLastMarkedVersion) {
        reply = {kVersionMarker, static_cast<uint8_t>(Generation())};
    }
    reply.push_back(static_cast<uint8_t>(table.size() >> 8));
    reply.push_back(static_cast<uint8_t>(table.size()));
    reply.insert(reply.end(), table.begin(), table.end());
    AppendBe32(reply, Crc(table.data(), table.size()));
    context_.link.Write(reply);
}

void LegacyDevice::Address(const Arguments& arguments)
{
    uint32_t address = 0;
    if (arguments.size() != 1 || !Parse(arguments[0], &address) || address >= context_.flash.Size()) {
        Answer('E');
        return;
    }
    context_.flash.Start(address);
    Answer('O');
}

void LegacyDevice::Move(const Arguments& arguments)
{
    uint32_t id = 0;
    uint32_t size = 0;
    const bool kept = arguments.size() == 2 && Parse(arguments[0], &id) && Parse(arguments[1], &size) &&
                      context_.flash.Keep(id, size);
    Answer(kept ? 'O' : 'E');
}

void LegacyDevice::TransferRaw(const Arguments& arguments)
{
    int32_t count = 0;
    if (arguments.size() != 1 || !Parse(arguments[0], &count)) {
        Answer('E');
        return;
    }
    Answer('O');
    std::vector<uint8_t> block(kBlockSize + kCrcSize);
    for (uint32_t offset = 0; static_cast<int64_t>(offset) < count;) {
        const uint32_t size = std::min(kBlockSize, static_cast<uint32_t>(count) - offset);
        if (!ReadExact(block.data(), size + kCrcSize, kBlockWait)) {
            return;  // the PC stopped sending: back to command lines
        }
        if (context_.faults.Roll(context_.config.faults.corrupt)) {
            block[context_.random() % size] ^= static_cast<uint8_t>(1u << (context_.random() % 8));
        }
        const bool intact = GetBe32(block.data() + size) == Crc(block.data(), size);
        if (!intact || !context_.flash.Append(block.data(), size)) {
            Answer('E');
            continue;
        }
        Answer('O');
        offset += size;
    }
}

void LegacyDevice::Burn(const Arguments& arguments)
{
    if (!arguments.empty()) {
        Answer('E');
        return;
    }
    Answer('O');
    const BurnBehaviour& burn = context_.config.burn;
    const uint32_t totalKib = (context_.flash.Pending() + 1023) / 1024;
    const uint32_t step = std::max<uint32_t>(burn.kibPerReport, 1);
    for (uint32_t kib = step; kib < totalKib && context_.running(); kib += step) {
        std::this_thread::sleep_for(burn.reportInterval);
        char report[8];
        std::snprintf(report, sizeof report, "B%04u\r\n", std::min(kib, kMaxReportedKib));
        context_.link.Write(std::string(report));
    }
    std::this_thread::sleep_for(burn.reportInterval);
    if (burn.fail || !context_.flash.Burn()) {
        context_.link.Write(std::string("E") + kBurnFailure);
        return;
    }
    Answer('F');
}

void LegacyDevice::Reboot(const Arguments&)
{
    context_.reboot();
}

void LegacyDevice::Dump(const Arguments& arguments)
{
    if (Generation() < kFirstPacketVersion) {
        if (!arguments.empty()) {
            Answer('E');
            return;
        }
        DumpStream();
        return;
    }
    uint32_t offset = 0;
    uint32_t size = 0;
    if (arguments.size() != 2 || !Parse(arguments[0], &offset) || !Parse(arguments[1], &size) ||
        offset > context_.flash.Size()) {
        Answer('E');
        return;
    }
    const uint32_t total = size != 0 ? size : context_.flash.Size() - offset;
    if (static_cast<uint64_t>(offset) + total > context_.flash.Size()) {
        Answer('E');
        return;
    }
    if (size == 0 || Generation() == kFirstPacketVersion) {
        std::vector<uint8_t> announced;
        AppendBe32(announced, total);
        context_.link.Write(announced);
    }
    DumpPackets(offset, total);
}

void LegacyDevice::DumpStream()
{
    const std::vector<uint8_t>& flash = context_.flash.Contents();
    std::vector<uint8_t> announced;
    AppendBe32(announced, static_cast<uint32_t>(flash.size()));
    context_.link.Write(announced);
    uint8_t go = 0;
    if (!ReadExact(&go, 1, kLetterWait) || go != 'O') {
        return;
    }
    std::vector<uint8_t> stream(flash);
    AppendBe32(stream, Crc(flash.data(), flash.size()));
    context_.faults.Send(context_.link, std::move(stream));
}

void LegacyDevice::DumpPackets(uint32_t offset, uint32_t total)
{
    const bool headerCrcs = Generation() >= kFirstHeaderCrcVersion;
    const uint8_t* data = context_.flash.Contents().data() + offset;
    const uint32_t count = (total + kPacketSize - 1) / kPacketSize;
    for (uint32_t index = 0; index < count;) {
        const uint32_t start = index * kPacketSize;
        const uint32_t length = std::min(kPacketSize, total - start);
        if (!OfferPacket(index, data + start, length, headerCrcs)) {
            return;
        }
        const Ack ack = ReadAcknowledgement(index);
        if (ack == Ack::Gone) {
            return;
        }
        // Anything but a clean 'O' for this very packet: it goes again on the next 'H'.
        index += ack == Ack::Taken ? 1 : 0;
    }
}

bool LegacyDevice::OfferPacket(uint32_t index, const uint8_t* data, uint32_t length, bool headerCrcs)
{
    std::vector<uint8_t> header;
    AppendBe32(header, index);
    AppendBe32(header, length);
    if (headerCrcs) {
        AppendBe32(header, LittleEndianCrc(index));
        AppendBe32(header, LittleEndianCrc(length));
    }
    std::vector<uint8_t> body;
    if (std::all_of(data, data + length, [](uint8_t b) { return b == 0xFF; })) {
        body.assign(kBlankMarker, kBlankMarker + 8);
    } else {
        body.assign(data, data + length);
    }
    AppendBe32(body, Crc(body.data(), body.size()));

    for (;;) {
        if (!WaitFor('H')) {
            return false;
        }
        if (!context_.faults.Send(context_.link, header)) {
            return false;
        }
        if (headerCrcs) {
            uint8_t reply = 0;
            if (!ReadExact(&reply, 1, kLetterWait)) {
                return false;
            }
            if (reply != 'G') {
                continue;  // header refused: the PC's next 'H' asks for it again
            }
        }
        return context_.faults.Send(context_.link, body);
    }
}

LegacyDevice::Ack LegacyDevice::ReadAcknowledgement(uint32_t index)
{
    uint8_t ack[kAcknowledgementSize];
    if (!ReadExact(ack, sizeof ack, kAcknowledgementWait)) {
        return Ack::Gone;
    }
    if (context_.faults.Drop()) {
        return Ack::Refused;  // lost on the line: the PC will see this packet again
    }
    const bool taken = ack[0] == 'O' && GetBe32(ack + 1) == index && GetBe32(ack + 5) == Crc(ack, 5);
    return taken ? Ack::Taken : Ack::Refused;
}

}  // namespace sim
