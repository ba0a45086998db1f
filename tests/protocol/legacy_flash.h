// A small receiver flash for tests that move it byte by byte: boot loader, main code and user
// database, then erased flash, so dumps see data and blank packets alike.
#pragma once

#include "sim/image.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace testsupport {

struct SmallFlash {
    static constexpr uint32_t kBootId = 0xE3000010u;
    static constexpr uint32_t kMainId = 0x01FE0100u;
    static constexpr uint32_t kUserDbId = 0x04FB0100u;

    explicit SmallFlash(uint64_t seed, uint32_t flashSize = 0x8000)
    {
        const std::vector<sim::ChunkSpec> chunks = {
            {kBootId, "BOOT", "BL 1.05", "2008-01-10", sim::FirmwareLikeBytes(0xC00, seed), 0x1000, false},
            {kMainId, "MAINCODE", "2.0.0c", "2008-01-25", sim::FirmwareLikeBytes(0x1800, seed + 1), 0x2000, true},
            {kUserDbId, "USERDB", "1.0", "2008-01-20", sim::FirmwareLikeBytes(0x100, seed + 2), 0, false},
        };
        bytes = sim::BuildImage(chunks);
        sizes = {0x1000, 0x2000, static_cast<uint32_t>(bytes.size()) - 0x3000};
        offsets = {0, 0x1000, 0x3000};
        bytes.resize(flashSize, 0xFF);
    }

    // Chunk i as it lies in flash, header included.
    std::vector<uint8_t> Chunk(size_t i) const
    {
        return std::vector<uint8_t>(bytes.begin() + offsets[i], bytes.begin() + offsets[i] + sizes[i]);
    }

    std::vector<uint8_t> bytes;
    std::vector<uint32_t> offsets;
    std::vector<uint32_t> sizes;
};

// Empty when got begins with want; else where they part, so a failure names an offset instead
// of printing kilobytes.
inline std::string Difference(const std::vector<uint8_t>& got, const std::vector<uint8_t>& want)
{
    if (got.size() < want.size()) {
        return "only " + std::to_string(got.size()) + " of " + std::to_string(want.size()) + " bytes";
    }
    const auto [at, unused] = std::mismatch(want.begin(), want.end(), got.begin());
    if (at == want.end()) {
        return {};
    }
    char text[96];
    std::snprintf(text, sizeof text, "first difference at 0x%zx: 0x%02X instead of 0x%02X",
                  static_cast<size_t>(at - want.begin()), got[static_cast<size_t>(at - want.begin())], *at);
    return text;
}

}  // namespace testsupport
