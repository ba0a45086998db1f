#include "sim/receiver.h"

#include "legacy_device.h"
#include "proto3_device.h"
#include "sim/image.h"

#include <cstdlib>

namespace sim {

namespace {

constexpr auto kPollInterval = std::chrono::milliseconds(50);
constexpr size_t kMaxLine = 256;

}  // namespace

Receiver::Receiver(ReceiverConfig config)
    : config_(std::move(config)),
      flash_(config_.flash.empty() ? SampleFlash(config_.seed) : config_.flash),
      random_(config_.seed),
      handshakeFaults_(config_.handshakeFaults.begin(), config_.handshakeFaults.end()),
      faults_(config_.faults, random_),
      context_{link_, flash_, config_, random_, faults_, [this](const std::string& command) { Record(command); },
               [this] { return running_.load(); }, [this] { mode_ = Mode::Lines; line_.clear(); }},
      proto3_(std::make_unique<Proto3Device>(context_)),
      legacy_(std::make_unique<LegacyDevice>(context_))
{
}

Receiver::~Receiver()
{
    Stop();
}

std::vector<uint8_t> Receiver::FlashContents() const
{
    // The device thread writes the flash only while it burns; tests read it afterwards.
    return flash_.Contents();
}

bool Receiver::Start(std::string* error)
{
    if (!link_.Open(error)) {
        return false;
    }
    link_.SetPacing(config_.baudRate, config_.bitsPerByte);
    running_.store(true);
    thread_ = std::thread([this] { Run(); });
    return true;
}

void Receiver::Stop()
{
    if (!running_.exchange(false)) {
        return;
    }
    link_.Interrupt();
    if (thread_.joinable()) {
        thread_.join();
    }
    link_.Close();
}

std::vector<std::string> Receiver::Commands() const
{
    std::lock_guard lock(recordMutex_);
    return commands_;
}

std::vector<uint8_t> Receiver::ReceivedBytes() const
{
    std::lock_guard lock(recordMutex_);
    return received_;
}

void Receiver::Record(const std::string& command)
{
    std::lock_guard lock(recordMutex_);
    commands_.push_back(command);
}

void Receiver::Run()
{
    while (running_.load()) {
        uint8_t byte = 0;
        if (link_.Read(&byte, 1, kPollInterval) == 0) {
            continue;
        }
        {
            std::lock_guard lock(recordMutex_);
            received_.push_back(byte);
        }
        if (mode_ == Mode::Packets && byte == 'H') {
            // A packet's marker and header are written at once; a lone 'H' is line input. A
            // marker counts even in the middle of a line: after a packet cut short (the PC
            // discards what it has not yet sent when it retries) its rest arrives as line
            // input, and the next packet must still be found.
            uint8_t rest[3];
            const auto wait = std::chrono::milliseconds(20) + link_.ByteTime() * 6;
            if (link_.ReadExact(rest, 3, wait)) {
                {
                    std::lock_guard lock(recordMutex_);
                    received_.insert(received_.end(), rest, rest + 3);
                }
                if (rest[0] == 'E' && rest[1] == 'A' && rest[2] == 'D') {
                    line_.clear();
                    Packet packet;
                    if (ReadPacketAfterMarker(link_, packet) == ReadStatus::Ok) {
                        OnPacket(packet);
                    }
                    continue;
                }
                OnLineByte(byte);
                for (uint8_t b : rest) {
                    OnLineByte(b);
                }
                continue;
            }
        }
        OnLineByte(byte);
    }
}

void Receiver::OnLineByte(uint8_t byte)
{
    if (line_.empty()) {
        lineFault_ = HandshakeFault::None;
        if (!handshakeFaults_.empty()) {
            lineFault_ = handshakeFaults_.front();
            handshakeFaults_.pop_front();
        }
    }
    switch (lineFault_) {
    case HandshakeFault::Silence:
        break;
    case HandshakeFault::WrongEcho:
        Write(std::vector<uint8_t>{static_cast<uint8_t>(line_.empty() ? byte ^ 0x20 : byte)});
        break;
    default:
        Write(std::vector<uint8_t>{byte});
        break;
    }
    line_.push_back(static_cast<char>(byte));
    if (byte == '\r' || line_.size() >= kMaxLine) {
        const std::string line = std::move(line_);
        line_.clear();
        if (lineFault_ != HandshakeFault::Silence && lineFault_ != HandshakeFault::WrongEcho) {
            OnLine(line);
        } else {
            Record(line);
        }
    }
}

void Receiver::OnLine(const std::string& line)
{
    Record(line);
    if (line.rfind("comtest ", 0) == 0) {
        const long length = std::strtol(line.c_str() + 8, nullptr, 10);
        if (length > 0 && length <= 64) {
            AnswerComtest(static_cast<size_t>(length), lineFault_);
        }
        return;
    }
    if (mode_ == Mode::Lines) {
        legacy_->OnLine(line);
    }
}

void Receiver::AnswerComtest(size_t bannerLength, HandshakeFault fault)
{
    std::vector<uint8_t> banner(bannerLength);
    const auto wait = std::chrono::milliseconds(500) + link_.ByteTime() * static_cast<int64_t>(bannerLength) * 2;
    if (!link_.ReadExact(banner.data(), banner.size(), wait)) {
        return;
    }
    {
        std::lock_guard lock(recordMutex_);
        received_.insert(received_.end(), banner.begin(), banner.end());
    }
    std::vector<uint8_t> reply = banner;
    const bool packetProtocol = config_.protocolVersion >= 48;
    if (packetProtocol) {
        for (uint8_t& b : reply) {
            b = static_cast<uint8_t>(b ^ 0xFF);
        }
    }
    switch (fault) {
    case HandshakeFault::ShortReply:
        reply.pop_back();
        break;
    case HandshakeFault::OneByteOff:
        reply[reply.size() / 2] ^= 0x01;
        break;
    case HandshakeFault::Noise:
        for (uint8_t& b : reply) {
            b = static_cast<uint8_t>(random_());
        }
        break;
    default:
        break;
    }
    // Counted before the answer leaves, so whoever sees the answer also sees the count.
    if (fault == HandshakeFault::None) {
        ++handshakes_;
        mode_ = packetProtocol ? Mode::Packets : Mode::Lines;
    }
    Write(reply);
}

void Receiver::OnPacket(const Packet& packet)
{
    proto3_->OnPacket(packet);
}

}  // namespace sim
