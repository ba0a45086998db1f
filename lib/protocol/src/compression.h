// LZMA compression of a download, in the file format the boot loader unpacks.
#pragma once

#include <cstdint>

// 0 when the compressed stream (no larger than the data) now fills the start of buffer and
// compressedCount is set; otherwise non-zero, with buffer untouched and compressedCount equal
// to count, and the data travels plain.
int32_t CompressForTransfer(const uint8_t* data, uint32_t count, uint8_t* buffer, uint32_t* compressedCount);
