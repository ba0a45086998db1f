// Image files byte by byte, with every header field under the test's control: what the image
// checks must accept and what they must refuse.
#pragma once

#include "flashmate/bytes.h"
#include "flashmate/chunks.h"
#include "flashmate/crc32.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace testsupport {

enum class CrcKind { Correct, None, Wrong };

struct ImageChunk {
    uint32_t id = 0;
    // The chunk's full size; 0 makes it the last chunk, which ends after its data.
    uint32_t nextOffset = 0;
    // Bytes after the 128-byte header.
    uint32_t dataSize = 0;
    CrcKind crc = CrcKind::Correct;
    std::string version = "1.0";
    // The header's length field; by default the 112 header bytes after offset 16 plus the data.
    std::optional<uint32_t> length;
    // Bytes after the version text's NUL in its field.
    uint8_t versionFill = 0xFF;
};

// The chunks one after the other, each padded with 0xFF to its nextOffset.
inline std::vector<uint8_t> BuildImageFile(const std::vector<ImageChunk>& chunks)
{
    std::vector<uint8_t> image;
    for (const ImageChunk& chunk : chunks) {
        std::vector<uint8_t> bytes(ChunkHeaderSize + chunk.dataSize, 0xFF);
        for (uint32_t i = 0; i < chunk.dataSize; ++i) {
            bytes[ChunkHeaderSize + i] = static_cast<uint8_t>(i * 7 + chunk.id);
        }
        const uint32_t length = chunk.length.value_or(ChunkHeaderSize - ChunkCrcStart + chunk.dataSize);
        PutBe32(&bytes[ChunkIdOffset], chunk.id);
        PutBe32(&bytes[ChunkLengthOffset], length);
        PutBe32(&bytes[ChunkNextOffsetOffset], chunk.nextOffset);
        std::memset(&bytes[ChunkNameOffset], 0, ChunkTextSize);
        std::memcpy(&bytes[ChunkNameOffset], "chunk", 5);
        std::memset(&bytes[ChunkVersionOffset], chunk.versionFill, ChunkTextSize);
        const size_t versionBytes = std::min<size_t>(chunk.version.size() + 1, ChunkTextSize);
        std::memcpy(&bytes[ChunkVersionOffset], chunk.version.c_str(), versionBytes);
        uint32_t crc = ChunkNoCrc;
        if (chunk.crc != CrcKind::None) {
            const uint32_t covered = std::min<uint32_t>(length, static_cast<uint32_t>(bytes.size()) - ChunkCrcStart);
            crc = Crc32Compute(Crc32Start, &bytes[ChunkCrcStart], static_cast<int32_t>(covered));
            if (chunk.crc == CrcKind::Wrong) {
                crc ^= 1;
            }
        }
        PutBe32(&bytes[ChunkCrcOffset], crc);
        if (chunk.nextOffset > bytes.size()) {
            bytes.resize(chunk.nextOffset, 0xFF);
        }
        image.insert(image.end(), bytes.begin(), bytes.end());
    }
    return image;
}

}  // namespace testsupport
