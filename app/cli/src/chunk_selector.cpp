#include "chunk_selector.h"

#include <cctype>
#include <cstdio>
#include <string_view>

namespace {

bool AllOf(std::string_view text, int (*test)(int))
{
    if (text.empty()) {
        return false;
    }
    for (char c : text) {
        if (test(static_cast<unsigned char>(c)) == 0) {
            return false;
        }
    }
    return true;
}

bool SameIgnoringCase(std::string_view a, std::string_view b)
{
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i]))) {
            return false;
        }
    }
    return true;
}

std::string Hex(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08X", value);
    return text;
}

ChunkChoice Missing(std::string problem)
{
    return ChunkChoice{-1, std::move(problem)};
}

}  // namespace

ChunkChoice SelectChunk(const ChunkTable& table, const std::string& selector)
{
    const std::string_view text = selector;
    const uint32_t count = table.count < MaxChunks ? table.count : MaxChunks;
    if (AllOf(text, isdigit)) {
        if (text.size() > 3 || std::stoul(selector) >= count) {
            return Missing("no chunk " + selector + ": the receiver has " + std::to_string(count) +
                           (count == 0 ? " chunks" : " chunks, 0 to " + std::to_string(count - 1)));
        }
        return ChunkChoice{static_cast<int32_t>(std::stoul(selector)), {}};
    }
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) {
        const std::string_view digits = text.substr(2);
        if (!AllOf(digits, isxdigit) || digits.size() > 8) {
            return Missing("'" + selector + "' is no chunk id: an id has up to 8 hex digits after 0x");
        }
        const auto id = static_cast<uint32_t>(std::stoul(std::string(digits), nullptr, 16));
        for (uint32_t i = 0; i < count; ++i) {
            if (table.chunks[i].id == id) {
                return ChunkChoice{static_cast<int32_t>(i), {}};
            }
        }
        return Missing("the receiver has no chunk with id " + Hex(id));
    }
    int32_t caseless = -1;
    int caselessMatches = 0;
    for (uint32_t i = 0; i < count; ++i) {
        if (text == table.chunks[i].name) {
            return ChunkChoice{static_cast<int32_t>(i), {}};
        }
        if (SameIgnoringCase(text, table.chunks[i].name)) {
            caseless = static_cast<int32_t>(i);
            ++caselessMatches;
        }
    }
    if (caselessMatches == 1) {
        return ChunkChoice{caseless, {}};
    }
    if (caselessMatches > 1) {
        return Missing("'" + selector + "' names several chunks; give the index or the id");
    }
    return Missing("the receiver has no chunk named '" + selector + "'");
}
