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
#include <vector>

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

// Whether the chunk's CRC-32 over its length bytes from offset 16 matches; false as well when
// those bytes run past the end of the file.
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

// The checks of one header; the first that fails decides.
ImageProblem CheckHeader(const ImageReader& file, uint64_t position, int32_t index, const Header& header)
{
    if (index != 0 && ((header.id >> 24) + ((header.id >> 16) & 0xFFu)) != kComplementSum) {
        return ImageProblem::IdNotComplemented;
    }
    if (header.nextOffset > MaxChunkDistance) {
        return ImageProblem::DistanceTooLarge;
    }
    // A following chunk must leave room for this one's length behind the first 16 header
    // bytes. Below 16 there is no such room at all; in 32-bit unsigned arithmetic the
    // difference would wrap and let any length through.
    if (header.nextOffset != 0 &&
        (header.nextOffset < ChunkCrcStart || header.length > header.nextOffset - ChunkCrcStart)) {
        return ImageProblem::LengthPastChunk;
    }
    if (header.crc != ChunkNoCrc && !CrcMatches(file, position, header)) {
        return ImageProblem::BadCrc;
    }
    return ImageProblem::None;
}

struct WalkEnd {
    ImageProblem problem = ImageProblem::None;
    uint64_t position = 0;  // of the header where the first problem was found
    int32_t lastIndex = -1;  // index of the chunk with nextOffset 0, when the walk reached it
    uint64_t fileLength = 0;
};

// Calls visit(header, position, problem) for every header read, in file order. The walk stops
// at the first problem, except that with pastBadCrc a chunk whose only fault is its CRC is
// walked past (its header still says where the next one is), so that a listing can show every
// chunk; the first problem is the one returned either way.
template <typename Visit>
WalkEnd WalkImage(const char* path, bool pastBadCrc, Visit visit)
{
    WalkEnd end;
    auto fail = [&end](ImageProblem problem, uint64_t position) {
        if (end.problem == ImageProblem::None) {
            end.problem = problem;
            end.position = position;
        }
    };
    if (path == nullptr || *path == '\0') {
        fail(ImageProblem::CannotOpen, 0);
        return end;
    }
    const ImageReader file(path);
    if (!file.IsOpen()) {
        fail(ImageProblem::CannotOpen, 0);
        return end;
    }
    end.fileLength = file.Length();
    Crc32InitTable();
    uint64_t position = 0;
    for (int32_t index = 0;; ++index) {
        uint8_t bytes[ChunkHeaderSize];
        if (position + ChunkHeaderSize > file.Length() || !file.ReadAt(position, bytes, ChunkHeaderSize)) {
            fail(ImageProblem::HeaderPastEnd, position);
            return end;
        }
        const Header header{GetBe32(bytes + ChunkIdOffset), GetBe32(bytes + ChunkLengthOffset),
                            GetBe32(bytes + ChunkNextOffsetOffset), GetBe32(bytes + ChunkCrcOffset), bytes};
        const ImageProblem problem = CheckHeader(file, position, index, header);
        visit(header, position, problem);
        if (problem != ImageProblem::None) {
            fail(problem, position);
            if (problem != ImageProblem::BadCrc || !pastBadCrc) {
                return end;
            }
        }
        if (header.nextOffset == 0) {
            end.lastIndex = index;
            return end;
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
    const WalkEnd end = WalkImage(path, false, [](const Header&, uint64_t, ImageProblem) {});
    return end.problem == ImageProblem::None && end.lastIndex >= 1;
}

bool FindChunkInImage(const char* path, uint32_t wantedId, uint32_t* fileOffset, uint32_t* length,
                      char* bootLoaderVersion)
{
    if (fileOffset == nullptr || length == nullptr || bootLoaderVersion == nullptr) {
        return false;
    }
    bool found = false;
    const WalkEnd end = WalkImage(path, false, [&](const Header& header, uint64_t position, ImageProblem problem) {
        if (problem != ImageProblem::None) {
            return;
        }
        if (header.id == BootLoaderChunkId) {
            std::memcpy(bootLoaderVersion, header.bytes + ChunkVersionOffset, ChunkTextSize);
        }
        if (header.id == wantedId) {
            *fileOffset = static_cast<uint32_t>(position);
            *length = TakenLength(header);
            found = true;
        }
    });
    return end.problem == ImageProblem::None && found;
}

ImageListing ListImageFile(const char* path)
{
    ImageListing listing;
    const WalkEnd end = WalkImage(path, true, [&](const Header& header, uint64_t position, ImageProblem problem) {
        ImageChunkEntry entry{};
        entry.fileOffset = static_cast<uint32_t>(position);
        ReadChunkHeader(header.bytes, &entry.info);
        entry.size = ChunkSize(entry.info);
        entry.crc = header.crc == ChunkNoCrc ? ImageCrc::None
                    : problem == ImageProblem::BadCrc ? ImageCrc::Bad
                    : problem == ImageProblem::None ? ImageCrc::Good
                                                    : ImageCrc::Unchecked;
        listing.chunks.push_back(entry);
    });
    listing.fileLength = end.fileLength;
    listing.problem = end.problem;
    listing.problemOffset = static_cast<uint32_t>(end.position);
    if (listing.problem == ImageProblem::None && end.lastIndex < 1) {
        listing.problem = ImageProblem::SingleChunk;
    }
    return listing;
}
