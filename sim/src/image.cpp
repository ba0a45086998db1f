#include "sim/image.h"

#include "flashmate/bytes.h"
#include "flashmate/crc32.h"

#include <algorithm>
#include <cstring>
#include <random>

namespace sim {

namespace {

constexpr uint32_t kHeader = 128;
constexpr uint32_t kNoCrc = 0x4E435243u;  // "NCRC"

void PutText(uint8_t* field, const std::string& text)
{
    const size_t length = std::min<size_t>(text.size(), 15);
    std::memcpy(field, text.data(), length);
    field[length] = 0;
}

}  // namespace

std::vector<uint8_t> BuildImage(const std::vector<ChunkSpec>& chunks)
{
    std::vector<uint8_t> image;
    for (const ChunkSpec& chunk : chunks) {
        const uint32_t length = 112 + static_cast<uint32_t>(chunk.data.size());
        const size_t start = image.size();
        const size_t end = start + (chunk.size != 0 ? chunk.size : length + 16);
        image.resize(end, 0xFF);
        uint8_t* header = image.data() + start;
        PutBe32(header, chunk.id);
        PutBe32(header + 4, length);
        PutBe32(header + 8, chunk.size);
        PutText(header + 16, chunk.name);
        PutText(header + 32, chunk.version);
        PutText(header + 48, chunk.time);
        std::copy(chunk.data.begin(), chunk.data.end(), image.begin() + static_cast<long>(start + kHeader));
        const uint32_t crc = chunk.crc ? Crc32Compute(Crc32Start, header + 16, static_cast<int32_t>(length)) : kNoCrc;
        PutBe32(header + 12, crc);
    }
    return image;
}

std::vector<uint8_t> RandomBytes(size_t count, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::vector<uint8_t> bytes(count);
    for (uint8_t& b : bytes) {
        b = static_cast<uint8_t>(random());
    }
    return bytes;
}

std::vector<uint8_t> FirmwareLikeBytes(size_t count, uint64_t seed)
{
    std::mt19937_64 random(seed);
    std::vector<uint8_t> words;
    for (int i = 0; i < 64; ++i) {
        const size_t length = 4 + random() % 12;
        for (size_t j = 0; j < length; ++j) {
            words.push_back(static_cast<uint8_t>(random()));
        }
    }
    std::vector<uint8_t> out;
    out.reserve(count);
    while (out.size() < count) {
        if (random() % 4 == 0) {
            out.push_back(static_cast<uint8_t>(random()));
            continue;
        }
        const size_t from = random() % (words.size() - 16);
        const size_t length = 2 + random() % 14;
        out.insert(out.end(), words.begin() + static_cast<long>(from), words.begin() + static_cast<long>(from + length));
    }
    out.resize(count);
    return out;
}

std::vector<ChunkSpec> SampleLayout(uint64_t seed, const std::string& bootLoaderVersion)
{
    return {
        {0xE3000010u, "BOOT", bootLoaderVersion, "2008-01-10", FirmwareLikeBytes(0x6000, seed + 1), 0x10000, false},
        {0x01FE0100u, "MAINCODE", "2.0.0c", "2008-01-25", FirmwareLikeBytes(0x150000, seed + 2), 0x180000, true},
        {0x02FD0200u, "LOGO", "1.0", "2007-11-02", FirmwareLikeBytes(0x9000, seed + 3), 0x20000, true},
        {0x03FC0100u, "DEFAULTDB", "1.3", "2008-01-20", FirmwareLikeBytes(0x21000, seed + 4), 0x40000, true},
        {0x04FB0100u, "USERDB", "1.0", "2008-01-20", FirmwareLikeBytes(0x3F0 - 112, seed + 5), 0, false},
    };
}

std::vector<uint8_t> SampleFlash(uint64_t seed, uint32_t flashSize, const std::string& bootLoaderVersion)
{
    std::vector<uint8_t> flash = BuildImage(SampleLayout(seed, bootLoaderVersion));
    flash.resize(std::max<size_t>(flash.size(), flashSize), 0xFF);
    return flash;
}

}  // namespace sim
