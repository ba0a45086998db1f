#include "flashmate/crc32.h"

#include <array>

namespace {

constexpr std::array<uint32_t, 256> MakeTable()
{
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        const uint8_t zero = 0;
        table[i] = Crc32Bitwise(i << 24, &zero, 1);
    }
    return table;
}

constexpr std::array<uint32_t, 256> kTable = MakeTable();
static_assert(kTable[1] == Crc32Polynomial);

}  // namespace

void Crc32InitTable() {}

uint32_t Crc32Compute(uint32_t start, const void* bytes, int32_t length)
{
    uint32_t reg = start;
    const auto* p = static_cast<const uint8_t*>(bytes);
    for (int32_t i = 0; i < length; ++i) {
        reg = (reg << 8) ^ kTable[((reg >> 24) ^ p[i]) & 0xFFu];
    }
    return reg;
}

const uint32_t* Crc32Table()
{
    return kTable.data();
}
