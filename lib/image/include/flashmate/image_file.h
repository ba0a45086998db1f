// Firmware image files: chunks laid out exactly as in flash (chunks.h), walked from offset 0
// header by header. Every header passed is checked, and every chunk's CRC-32 is verified
// unless its header says NCRC.
//
// Checks per header: every chunk but the first has an id whose top byte and the byte below it
// add up to 0xFF; nextOffset is at most MaxChunkDistance; a chunk with a following one has
// room for its length (length <= nextOffset - 16, so nextOffset is at least 16); a chunk with
// a CRC lies wholly inside the file and its CRC matches.
#pragma once

#include <cstdint>

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
