// The receiver's flash, and the new image it assembles for the next burn: from a start
// address, chunk after chunk, out of transferred bytes and chunks kept from the current flash.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

class Flash {
public:
    struct Chunk {
        uint32_t offset;  // of its header in flash
        uint32_t size;    // nextOffset, or length + 16 for the last chunk
        uint32_t id;
    };

    explicit Flash(std::vector<uint8_t> contents = {});

    const std::vector<uint8_t>& Contents() const { return contents_; }
    uint32_t Size() const { return static_cast<uint32_t>(contents_.size()); }

    // The chunks as the headers in flash describe them, from offset 0.
    std::vector<Chunk> Chunks() const;
    // The chunk-table answer: size code, auxiliary byte, then each chunk's 128-byte header.
    std::vector<uint8_t> TableReply(uint8_t sizeCode, uint8_t aux) const;

    // A new image begins at address; everything assembled before is dropped.
    void Start(uint32_t address);
    // Transferred bytes, appended at the write position. False past the end of the flash.
    bool Append(const uint8_t* data, size_t count);
    // Copies `size` bytes of the chunk with this id from the current flash (its own size when
    // size is 0). False when there is no such chunk or it would pass the end of the flash.
    bool Keep(uint32_t id, uint32_t size);
    uint32_t StartAddress() const { return start_; }
    uint32_t Pending() const { return static_cast<uint32_t>(pending_.size()); }
    // Writes the assembled bytes into flash at the start address. False when nothing was
    // assembled.
    bool Burn();

private:
    std::vector<uint8_t> contents_;
    uint32_t start_ = 0;
    std::vector<uint8_t> pending_;
};

}  // namespace sim
