// SEL of --chunk SEL=FILE: which of the receiver's chunks the user means.
#pragma once

#include "flashmate/chunks.h"

#include <cstdint>
#include <string>

// The chunk's index in the table, or why there is none.
struct ChunkChoice {
    int32_t index = -1;
    std::string problem;

    bool Found() const { return index >= 0; }
};

// Decimal digits: an index. "0x" and hex digits: a chunk id. Anything else: a chunk name,
// compared exactly, or without regard to case when that leaves just one chunk.
ChunkChoice SelectChunk(const ChunkTable& table, const std::string& selector);
