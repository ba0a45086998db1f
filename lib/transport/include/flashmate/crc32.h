// CRC-32/MPEG-2: polynomial 0x04C11DB7, most significant bit first, no reflection, register
// started at 0xFFFFFFFF by the callers, no final XOR. Check value over "123456789": 0x0376E6E7.
#pragma once

#include <cstdint>

inline constexpr uint32_t Crc32Start = 0xFFFFFFFFu;
inline constexpr uint32_t Crc32Polynomial = 0x04C11DB7u;

// The bit-at-a-time form; the table is made from it.
constexpr uint32_t Crc32Bitwise(uint32_t start, const uint8_t* bytes, uint32_t length)
{
    uint32_t reg = start;
    for (uint32_t i = 0; i < length; ++i) {
        reg ^= static_cast<uint32_t>(bytes[i]) << 24;
        for (int bit = 0; bit < 8; ++bit) {
            reg = (reg & 0x80000000u) ? (reg << 1) ^ Crc32Polynomial : reg << 1;
        }
    }
    return reg;
}

// The table is a compile-time constant, correct from the first call on; this stays so that
// callers keep their order of steps (build the table, then compute).
void Crc32InitTable();

// The table-driven form every caller uses. A length of 0 or less returns start. Chains: the
// result over a first piece is the start for the next.
uint32_t Crc32Compute(uint32_t start, const void* bytes, int32_t length);

// The 256 table entries.
const uint32_t* Crc32Table();
