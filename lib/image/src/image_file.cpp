#include "flashmate/image_file.h"

#include "flashmate/bytes.h"
#include "flashmate/chunks.h"
#include "flashmate/crc32.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <limits>

namespace {

// The CRC is computed piece by piece through one fixed buffer, so a chunk of any size needs no
// allocation.
constexpr uint32_t kCrcPiece = 1024;
constexpr uint32_t kComplementSum = 0xFF;
constexpr uint64_t kLargestImageFile = std::numeric_limits<uint32_t>::max();

class ImageReader {
public:
    explicit ImageReader(const char* path)
    {
        // O_NONBLOCK so that a FIFO given as an image cannot hang the open; regular files
        // ignore it.
        fd_ = ::open(path, O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd_ < 0) {
            return;
        }
        struct stat info {};
        if (::fstat(fd_, &info) != 0 || !S_ISREG(info.st_mode) ||
            static_cast<uint64_t>(info.st_size) > kLargestImageFile) {
            ::close(fd_);
            fd_ = -1;
            return;
        }
        length_ = static_cast<uint64_t>(info.st_size);
    }
    ~ImageReader()
    {
        if (fd_ >= 0) {
            ::close(fd_);
        }
    }
    ImageReader(const ImageReader&) = delete;
    ImageReader& operator=(const ImageReader&) = delete;

    bool IsOpen() const { return fd_ >= 0; }
    uint64_t Length() const { return length_; }

    // Exactly count bytes from offset, or false.
    bool ReadAt(uint64_t offset, void* destination, uint32_t count) const
    {
        auto* bytes = static_cast<uint8_t*>(destination);
        while (count > 0) {
            const ssize_t got = ::pread(fd_, bytes, count, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got <= 0) {
                return false;
            }
            bytes += got;
            offset += static_cast<uint64_t>(got);
            count -= static_cast<uint32_t>(got);
        }
        return true;
    }

private:
    int fd_ = -1;
    uint64_t length_ = 0;
};

struct Header {
    uint32_t id;
    uint32_t length;
    uint32_t nextOffset;
    uint32_t crc;
    const uint8_t* bytes;
};

bool CrcMatches(const ImageReader& file, uint64_t position, const Header& header)
{
    if (position + ChunkCrcStart + header.length > file.Length()) {
        return false;
    }
    uint8_t piece[kCrcPiece];
    uint32_t crc = Crc32Start;
    uint64_t offset = position + ChunkCrcStart;
    for (uint32_t left = header.length; left > 0;) {
        const uint32_t count = left < kCrcPiece ? left : kCrcPiece;
        if (!file.ReadAt(offset, piece, count)) {
            return false;
        }
        crc = Crc32Compute(crc, piece, static_cast<int32_t>(count));
        offset += count;
        left -= count;
    }
    return crc == header.crc;
}

bool HeaderPasses(const ImageReader& file, uint64_t position, int32_t index, const Header& header)
{
    if (index != 0 && ((header.id >> 24) + ((header.id >> 16) & 0xFFu)) != kComplementSum) {
        return false;
    }
    if (header.nextOffset > MaxChunkDistance) {
        return false;
    }
    // A following chunk must leave room for this one's length behind the first 16 header
    // bytes. Below 16 there is no such room at all; in 32-bit unsigned arithmetic the
    // difference would wrap and let any length through.
    if (header.nextOffset != 0 &&
        (header.nextOffset < ChunkCrcStart || header.length > header.nextOffset - ChunkCrcStart)) {
        return false;
    }
    return header.crc == ChunkNoCrc || CrcMatches(file, position, header);
}

// Calls visit(header, position) for every header that passes its checks, in file order.
// Returns the index of the last chunk (the one with nextOffset 0), or -1 when a header did not
// fit in the file or failed a check.
template <typename Visit>
int32_t WalkImage(const char* path, Visit visit)
{
    if (path == nullptr || *path == '\0') {
        return -1;
    }
    const ImageReader file(path);
    if (!file.IsOpen()) {
        return -1;
    }
    Crc32InitTable();
    uint64_t position = 0;
    for (int32_t index = 0;; ++index) {
        if (position + ChunkHeaderSize > file.Length()) {
            return -1;
        }
        uint8_t bytes[ChunkHeaderSize];
        if (!file.ReadAt(position, bytes, ChunkHeaderSize)) {
            return -1;
        }
        const Header header{GetBe32(bytes + ChunkIdOffset), GetBe32(bytes + ChunkLengthOffset),
                            GetBe32(bytes + ChunkNextOffsetOffset), GetBe32(bytes + ChunkCrcOffset), bytes};
        if (!HeaderPasses(file, position, index, header)) {
            return -1;
        }
        visit(header, position);
        if (header.nextOffset == 0) {
            return index;
        }
        position += header.nextOffset;
    }
}

// The bytes to take from the image for a chunk.
uint32_t TakenLength(const Header& header)
{
    if (header.id != UserDbChunkId && header.nextOffset != 0) {
        return header.nextOffset;
    }
    const uint64_t whole = uint64_t{header.length} + ChunkCrcStart;
    return whole > std::numeric_limits<uint32_t>::max() ? std::numeric_limits<uint32_t>::max()
                                                         : static_cast<uint32_t>(whole);
}

}  // namespace

bool ValidateImageFile(const char* path)
{
    const int32_t last = WalkImage(path, [](const Header&, uint64_t) {});
    return last >= 1;
}

bool FindChunkInImage(const char* path, uint32_t wantedId, uint32_t* fileOffset, uint32_t* length,
                      char* bootLoaderVersion)
{
    if (fileOffset == nullptr || length == nullptr || bootLoaderVersion == nullptr) {
        return false;
    }
    bool found = false;
    const int32_t last = WalkImage(path, [&](const Header& header, uint64_t position) {
        if (header.id == BootLoaderChunkId) {
            std::memcpy(bootLoaderVersion, header.bytes + ChunkVersionOffset, ChunkTextSize);
        }
        if (header.id == wantedId) {
            *fileOffset = static_cast<uint32_t>(position);
            *length = TakenLength(header);
            found = true;
        }
    });
    return last >= 0 && found;
}
