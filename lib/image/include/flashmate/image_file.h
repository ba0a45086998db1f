// Firmware image files: chunks laid out exactly as in flash (chunks.h), walked from offset 0
// header by header. Every header passed is checked, and every chunk's CRC-32 is verified
// unless its header says NCRC.
//
// Checks per header: every chunk but the first has an id whose top byte and the byte below it
// add up to 0xFF; nextOffset is at most MaxChunkDistance; a chunk with a following one has
// room for its length (length <= nextOffset - 16, so nextOffset is at least 16); a chunk with
// a CRC lies wholly inside the file and its CRC matches.
#pragma once

#include "flashmate/chunks.h"

#include <cstdint>
#include <vector>

// The largest nextOffset a chunk may have: the largest flash.
inline constexpr uint32_t MaxChunkDistance = 0x200000;

// True when the file is a whole chunk image: at least two chunks, every header inside the
// file and passing its checks, ending with a chunk whose nextOffset is 0. Bytes after the last
// chunk are not looked at. False for a null or empty path, anything but a regular file, and
// files of 4 GiB or more (their offsets do not fit the chunk records).
bool ValidateImageFile(const char* path);

// Walks the file like ValidateImageFile but accepts an image of a single chunk. True when the
// walk reached the last chunk without a failed check and met a chunk with wantedId; that
// chunk's header offset goes to fileOffset and the number of bytes to take for it to length:
// its nextOffset, or its length + 16 for the user database and for the last chunk, whose
// nextOffset of 0 says nothing about its size (saturating at 0xFFFFFFFF, which no chunk
// holds). Meeting the boot-loader chunk copies its whole 16-byte version field to
// bootLoaderVersion. Each output is written only when its chunk is met; with several matches
// the last one wins. False when any pointer is null or the path is empty.
bool FindChunkInImage(const char* path, uint32_t wantedId, uint32_t* fileOffset, uint32_t* length,
                      char* bootLoaderVersion);

// The first check an image file failed, in the order of the walk.
enum class ImageProblem {
    None,
    CannotOpen,         // missing, no regular file, or 4 GiB and more
    HeaderPastEnd,      // the next header does not fit in the file
    IdNotComplemented,  // the id's top byte and the byte below it do not add up to 0xFF
    DistanceTooLarge,   // nextOffset above MaxChunkDistance
    LengthPastChunk,    // the length leaves no room before the next chunk
    BadCrc,             // the CRC does not match, or the data it covers runs past the file
    SingleChunk,        // every check passed, but a single chunk is a chunk file, not an image
};

enum class ImageCrc {
    Good,
    Bad,
    None,       // "NCRC": nothing to check
    Unchecked,  // the header failed an earlier check
};

struct ImageChunkEntry {
    uint32_t fileOffset = 0;  // of its header
    ChunkInfo info{};         // the header's numbers and texts
    uint32_t size = 0;        // ChunkSize: nextOffset, or length + 16 for the last chunk
    ImageCrc crc = ImageCrc::None;
};

struct ImageListing {
    uint64_t fileLength = 0;
    // Every header the walk read, in file order, the one with the problem included. A chunk
    // whose only fault is its CRC does not end the listing: the chunks behind it follow.
    std::vector<ImageChunkEntry> chunks;
    ImageProblem problem = ImageProblem::None;
    uint32_t problemOffset = 0;  // file offset of the header with the problem

    // Exactly when ValidateImageFile accepts the file.
    bool Valid() const { return problem == ImageProblem::None; }
};

// The same walk and checks as ValidateImageFile, reporting every chunk met and the first
// problem.
ImageListing ListImageFile(const char* path);
