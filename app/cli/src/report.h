// What the commands print on standard output: the receiver's chunk table and flash layout, an
// image file's chunks, and the closing summary of a transfer.
#pragma once

#include "flashmate/chunks.h"
#include "flashmate/image_file.h"

#include <cstdint>
#include <string>

// "3.0" for 48: the major version in the high nibble, the minor in the low one.
std::string ProtocolVersionText(uint32_t version);
// "3.0 (packet protocol)", "2.0 (legacy protocol)": the generation goes by the version.
std::string ProtocolDescription(uint32_t version);

// One line per chunk under a heading: index, id, name, version, time, size, flash offset and
// the range `read --chunk` reads (the boot loader whole, any other chunk without its header).
std::string ChunkTableText(const ChunkTable& table);

// The flash in one line of marks, each a chunk's index in hex ('.' for flash beyond the last
// chunk); every chunk gets at least one mark. The table's flash size when known, else the end
// of the last chunk.
std::string FlashLayoutText(const ChunkTable& table, uint32_t marks);

// Whether the image is valid and, per chunk, its offset, id, name, version, size and CRC state.
std::string ImageListingText(const std::string& path, const ImageListing& listing);

// "Wrote N bytes (M compressed) in T s (effective R kbit/s)"; the compressed part only when the
// line carried fewer bytes than the data.
std::string WriteSummary(uint64_t bytes, uint64_t lineBytes, double seconds);
// "Read N bytes in T s (effective R kbit/s)".
std::string ReadSummary(uint64_t bytes, double seconds);
