// Firmware images as the receiver's flash and image files hold them, for the simulator, the
// tests and the demo.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct ChunkSpec {
    uint32_t id = 0;
    std::string name;
    std::string version;
    std::string time;
    std::vector<uint8_t> data;  // after the 128-byte header
    uint32_t size = 0;          // the chunk's full size (nextOffset); 0 makes it the last chunk
    bool crc = true;            // false writes "NCRC"
};

// Each chunk: its header (id, length = 112 + data, nextOffset, CRC, texts, 0xFF reserved),
// its data, then 0xFF up to its size. The last chunk ends after its data.
std::vector<uint8_t> BuildImage(const std::vector<ChunkSpec>& chunks);

// Bytes no compressor can shrink.
std::vector<uint8_t> RandomBytes(size_t count, uint64_t seed);

// Bytes that compress about as well as receiver firmware: code-like repeats mixed with noise.
std::vector<uint8_t> FirmwareLikeBytes(size_t count, uint64_t seed);

// A 2 MiB receiver: boot loader (64 KiB), main code, logo, default database and the user
// database as the last chunk. The boot loader's version text is bootLoaderVersion.
std::vector<ChunkSpec> SampleLayout(uint64_t seed, const std::string& bootLoaderVersion = "BL 1.05");

// A whole flash of flashSize bytes: the image, then 0xFF.
std::vector<uint8_t> SampleFlash(uint64_t seed, uint32_t flashSize = 0x200000,
                                 const std::string& bootLoaderVersion = "BL 1.05");

}  // namespace sim
