// Downloads are LZMA-compressed in the file format of the SDK's command-line encoder (the
// ".lzma" or "LZMA alone" format), which the boot loader unpacks: a 13-byte header (properties
// byte, dictionary size, uncompressed size) and a raw LZMA stream.
#include "compression.h"

#include "flashmate/bytes.h"
#include "flashmate/errors.h"

#include <lzma.h>

#include <cstring>
#include <new>
#include <vector>

namespace {

// The settings the SDK encoder has always been run with ("e -lc0 -lp2"), with liblzma's preset 6
// for the rest: the same sizes to within a few bytes.
constexpr uint32_t kPreset = 6;
constexpr uint32_t kDictionarySize = 1u << 23;
constexpr uint32_t kLiteralContextBits = 0;
constexpr uint32_t kLiteralPositionBits = 2;
constexpr uint32_t kPositionBits = 2;

constexpr uint32_t kHeaderSize = 13;

void WriteHeader(uint8_t* header, uint64_t size)
{
    header[0] = static_cast<uint8_t>((kPositionBits * 5 + kLiteralPositionBits) * 9 + kLiteralContextBits);
    PutLe32(header + 1, kDictionarySize);
    // The real size, never "unknown": boot loaders that rely on it may reject a stream without.
    PutLe32(header + 5, static_cast<uint32_t>(size));
    PutLe32(header + 9, static_cast<uint32_t>(size >> 32));
}

class Encoder {
public:
    ~Encoder() { lzma_end(&stream_); }

    bool Start()
    {
        lzma_options_lzma options;
        if (lzma_lzma_preset(&options, kPreset)) {
            return false;
        }
        options.dict_size = kDictionarySize;
        options.lc = kLiteralContextBits;
        options.lp = kLiteralPositionBits;
        options.pb = kPositionBits;
        // No end marker: the header's size says where the data ends. LZMA_FILTER_LZMA1 and the
        // "alone" encoder both write one.
        options.ext_flags = 0;
        const lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
        return lzma_raw_encoder(&stream_, filters) == LZMA_OK;
    }

    enum class Result { Done, TooLarge, Failed };

    // Encodes all of data into room bytes or fewer. A stream that does not fit is found out as
    // soon as the room is full rather than after the whole stream.
    Result Encode(const uint8_t* data, size_t count, uint8_t* out, size_t room, size_t* written)
    {
        stream_.next_in = data;
        stream_.avail_in = count;
        stream_.next_out = out;
        stream_.avail_out = room;
        for (;;) {
            const lzma_ret ret = lzma_code(&stream_, LZMA_FINISH);
            if (ret == LZMA_STREAM_END) {
                *written = static_cast<size_t>(stream_.total_out);
                return Result::Done;
            }
            if (stream_.avail_out == 0) {
                return Result::TooLarge;
            }
            if (ret != LZMA_OK) {
                return Result::Failed;
            }
        }
    }

private:
    lzma_stream stream_ = LZMA_STREAM_INIT;
};

}  // namespace

int32_t CompressForTransfer(const uint8_t* data, uint32_t count, uint8_t* buffer, uint32_t* compressedCount)
{
    *compressedCount = count;
    // The header alone is larger than such data.
    if (count <= kHeaderSize) {
        return UpgErrGeneric;
    }
    // The caller's buffer is the data itself, so the stream is built aside and copied over it
    // only once it is known to fit.
    std::vector<uint8_t> stream;
    try {
        stream.resize(count);
    } catch (const std::bad_alloc&) {
        return UpgErrNoMemory;
    }
    Encoder encoder;
    if (!encoder.Start()) {
        return UpgErrEncoderStart;
    }
    size_t rawSize = 0;
    switch (encoder.Encode(data, count, stream.data() + kHeaderSize, count - kHeaderSize, &rawSize)) {
    case Encoder::Result::Done: break;
    case Encoder::Result::TooLarge: return UpgErrGeneric;
    case Encoder::Result::Failed: return UpgErrEncoderStart;
    }
    WriteHeader(stream.data(), count);
    const size_t total = kHeaderSize + rawSize;
    std::memcpy(buffer, stream.data(), total);
    *compressedCount = static_cast<uint32_t>(total);
    return UpgOk;
}
