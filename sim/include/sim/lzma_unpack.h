// The boot loader's side of a compressed download: a ".lzma" stream unpacked as strictly as
// the receiver does it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// The ".lzma" header: properties byte, dictionary size, uncompressed size.
constexpr size_t kLzmaHeaderSize = 13;

// The header must announce exactly `size` bytes, the raw stream must give exactly those
// without an end marker, and nothing may follow it.
bool UnpackLzma(const std::vector<uint8_t>& stream, uint32_t size, std::vector<uint8_t>* out);

}  // namespace sim
