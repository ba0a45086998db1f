#include "sim/flash.h"

#include "flashmate/bytes.h"

#include <algorithm>

namespace sim {

namespace {
constexpr uint32_t kHeader = 128;
}

Flash::Flash(std::vector<uint8_t> contents) : contents_(std::move(contents)) {}

std::vector<Flash::Chunk> Flash::Chunks() const
{
    std::vector<Chunk> chunks;
    uint32_t position = 0;
    while (position + kHeader <= Size() && chunks.size() < 64) {
        const uint8_t* header = contents_.data() + position;
        const uint32_t id = GetBe32(header);
        const uint32_t length = GetBe32(header + 4);
        const uint32_t next = GetBe32(header + 8);
        if (id == 0xFFFFFFFFu) {
            break;  // erased flash: no chunk here
        }
        chunks.push_back({position, next != 0 ? next : length + 16, id});
        if (next == 0 || next < kHeader) {
            break;
        }
        position += next;
    }
    return chunks;
}

std::vector<uint8_t> Flash::TableReply(uint8_t sizeCode, uint8_t aux) const
{
    std::vector<uint8_t> reply{sizeCode, aux};
    for (const Chunk& chunk : Chunks()) {
        reply.insert(reply.end(), contents_.begin() + chunk.offset, contents_.begin() + chunk.offset + kHeader);
    }
    return reply;
}

void Flash::Start(uint32_t address)
{
    start_ = address;
    pending_.clear();
}

bool Flash::Append(const uint8_t* data, size_t count)
{
    if (start_ + pending_.size() + count > Size()) {
        return false;
    }
    pending_.insert(pending_.end(), data, data + count);
    return true;
}

bool Flash::Keep(uint32_t id, uint32_t size)
{
    for (const Chunk& chunk : Chunks()) {
        if (chunk.id != id) {
            continue;
        }
        const uint32_t count = size != 0 ? size : chunk.size;
        if (chunk.offset + count > Size()) {
            return false;
        }
        return Append(contents_.data() + chunk.offset, count);
    }
    return false;
}

bool Flash::Burn()
{
    if (pending_.empty()) {
        return false;
    }
    std::copy(pending_.begin(), pending_.end(), contents_.begin() + start_);
    pending_.clear();
    return true;
}

}  // namespace sim
