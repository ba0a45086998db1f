#include "sim/lzma_unpack.h"

#include <lzma.h>

#include <algorithm>

namespace sim {
namespace {

// Refuses dictionaries no boot loader has the memory for.
constexpr uint32_t kMaxDictionary = 1u << 26;

}  // namespace

bool UnpackLzma(const std::vector<uint8_t>& stream, uint32_t size, std::vector<uint8_t>* out)
{
    if (stream.size() < kLzmaHeaderSize) {
        return false;
    }
    const uint8_t* header = stream.data();
    uint64_t announced = 0;
    for (int i = 7; i >= 0; --i) {
        announced = announced << 8 | header[5 + i];
    }
    uint32_t dictionary = 0;
    for (int i = 3; i >= 0; --i) {
        dictionary = dictionary << 8 | header[1 + i];
    }
    if (announced != size || header[0] >= 9 * 5 * 5 || dictionary > kMaxDictionary) {
        return false;
    }
    lzma_options_lzma options{};
    options.dict_size = std::max<uint32_t>(dictionary, LZMA_DICT_SIZE_MIN);
    options.lc = header[0] % 9;
    options.lp = header[0] / 9 % 5;
    options.pb = header[0] / 45;
    options.ext_flags = 0;  // no end marker allowed
    lzma_set_ext_size(options, size);
    const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
    lzma_stream decoder = LZMA_STREAM_INIT;
    if (lzma_raw_decoder(&decoder, filters) != LZMA_OK) {
        return false;
    }
    out->assign(size, 0);
    decoder.next_in = stream.data() + kLzmaHeaderSize;
    decoder.avail_in = stream.size() - kLzmaHeaderSize;
    decoder.next_out = out->data();
    decoder.avail_out = out->size();
    lzma_ret ret = LZMA_OK;
    while (ret == LZMA_OK) {
        ret = lzma_code(&decoder, LZMA_FINISH);
    }
    const bool whole = ret == LZMA_STREAM_END && decoder.total_out == size && decoder.avail_in == 0;
    lzma_end(&decoder);
    return whole;
}

}  // namespace sim
