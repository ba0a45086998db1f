#include "capture.h"
#include "image_builder.h"
#include "temp_dir.h"

#include "flashmate/chunks.h"
#include "flashmate/image_file.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace {

using testsupport::BuildImageFile;
using testsupport::CrcKind;
using testsupport::ImageChunk;

constexpr uint32_t kMain = 0x01FE0100;
constexpr uint32_t kLogo = 0x02FD0200;
constexpr uint32_t kAbsent = 0x03FC0100;
constexpr uint32_t kUntouched = 0xA5A5A5A5;

struct ImageCase {
    std::string name;
    std::vector<ImageChunk> chunks;
    bool valid;
    uint32_t wanted;
    bool found;
    uint32_t offset = kUntouched;
    uint32_t length = kUntouched;
    // Bytes cut off the end of the built file.
    size_t cut = 0;
};

class ImageFileTest : public ::testing::TestWithParam<ImageCase> {};

TEST_P(ImageFileTest, ValidatesAndFinds)
{
    const ImageCase& c = GetParam();
    testsupport::TempDir dir;
    std::vector<uint8_t> bytes = BuildImageFile(c.chunks);
    bytes.resize(bytes.size() - c.cut);
    const std::string path = dir.Write("image.abs", bytes);

    EXPECT_EQ(ValidateImageFile(path.c_str()), c.valid);
    EXPECT_EQ(ListImageFile(path.c_str()).Valid(), c.valid);

    uint32_t offset = kUntouched;
    uint32_t length = kUntouched;
    char version[16];
    std::memset(version, 0x5A, sizeof version);
    EXPECT_EQ(FindChunkInImage(path.c_str(), c.wanted, &offset, &length, version), c.found);
    if (c.found) {
        EXPECT_EQ(offset, c.offset);
        EXPECT_EQ(length, c.length);
    }
}

const ImageCase kImageCases[] = {
    {"CrcChunkThenNcrcLastChunk",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80, CrcKind::None}},
     true, BootLoaderChunkId, true, 0, 0x400},
    // The last chunk's nextOffset of 0 is no size: take the bytes its header announces.
    {"LastChunkTakesItsLengthPlus16",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80, CrcKind::None}},
     true, kMain, true, 0x400, 112 + 0x80 + 16},
    {"SingleChunkIsNoImageButIsFound",
     {{BootLoaderChunkId, 0, 0x40}},
     false, BootLoaderChunkId, true, 0, 112 + 0x40 + 16},
    {"SecondIdBreakingTheComplementRuleFails",
     {{BootLoaderChunkId, 0x400, 0x100}, {0x01FF0000, 0, 0x10}},
     false, BootLoaderChunkId, false},
    {"FirstIdIsExemptFromTheComplementRule",
     {{0x01FF0000, 0x400, 0x100}, {kLogo, 0, 0x10}},
     true, kLogo, true, 0x400, 112 + 0x10 + 16},
    {"DistanceOf2MiBPasses",
     {{BootLoaderChunkId, 0x200000, 0x100}, {kMain, 0, 0x10}},
     true, kMain, true, 0x200000, 112 + 0x10 + 16},
    {"DistanceAbove2MiBFails",
     {{BootLoaderChunkId, 0x200001, 0x100}, {kMain, 0, 0x10}},
     false, kMain, false},
    {"LengthFillingTheChunkPasses",
     {{BootLoaderChunkId, 0x1010, 0x1000 - 112}, {kMain, 0, 0x10}},
     true, BootLoaderChunkId, true, 0, 0x1010},
    {"LengthOneByteOverTheChunkFails",
     {{BootLoaderChunkId, 0x100F, 0x1000 - 112, CrcKind::None}, {kMain, 0, 0x10}},
     false, BootLoaderChunkId, false},
    // Below 16 no length fits; unsigned wrap-around would have let any length through.
    {"DistanceBelow16Fails",
     {{BootLoaderChunkId, 8, 0, CrcKind::None, "1.0", 0xFFFFFF00u}, {kMain, 0, 0x10}},
     false, BootLoaderChunkId, false},
    {"LastHeaderPointingPastTheEndFails",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0x400, 0x10}},
     false, BootLoaderChunkId, false, kUntouched, kUntouched, 0x400 - 128 - 0x10},
    {"FileShorterThanAHeaderFails",
     {{BootLoaderChunkId, 0, 0}},
     false, BootLoaderChunkId, false, kUntouched, kUntouched, 1},
    {"UserDatabaseLastTakesLengthPlus16",
     {{BootLoaderChunkId, 0x400, 0x100}, {UserDbChunkId, 0, 0x3F0 - 112, CrcKind::None}},
     true, UserDbChunkId, true, 0x400, 0x400},
    {"UserDatabaseInTheMiddleTakesLengthPlus16",
     {{BootLoaderChunkId, 0x400, 0x100}, {UserDbChunkId, 0x1000, 0x3F0 - 112}, {kMain, 0, 0x10}},
     true, UserDbChunkId, true, 0x400, 0x400},
    {"WrongCrcFails",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80, CrcKind::Wrong}},
     false, BootLoaderChunkId, false},
    {"CrcChunkRunningPastTheFileFails",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80}},
     false, BootLoaderChunkId, false, kUntouched, kUntouched, 1},
    {"NcrcChunkIsNotMeasuredAgainstTheFile",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80, CrcKind::None, "1.0", 0x1000}},
     true, kMain, true, 0x400, 0x1000 + 16},
    {"HugeLastLengthSaturates",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80, CrcKind::None, "1.0", 0xFFFFFFF8u}},
     true, kMain, true, 0x400, 0xFFFFFFFFu},
    {"WantedIdAbsent",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0, 0x80}},
     true, kAbsent, false},
    {"LastMatchWins",
     {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0x800, 0x80}, {kMain, 0x200, 0x40}, {kLogo, 0, 0x10}},
     true, kMain, true, 0xC00, 0x200},
};

INSTANTIATE_TEST_SUITE_P(Images, ImageFileTest, ::testing::ValuesIn(kImageCases), testsupport::CaseName());

TEST(ImageFile, PathsThatAreNoImageFile)
{
    testsupport::TempDir dir;
    const std::string missing = dir.File("missing.abs");
    const std::string folder = dir.Path();
    for (const char* path : {static_cast<const char*>(nullptr), "", missing.c_str(), folder.c_str()}) {
        SCOPED_TRACE(path == nullptr ? "null" : path);
        uint32_t offset = kUntouched;
        uint32_t length = kUntouched;
        char version[16] = {};
        EXPECT_FALSE(ValidateImageFile(path));
        EXPECT_FALSE(FindChunkInImage(path, BootLoaderChunkId, &offset, &length, version));
        EXPECT_EQ(offset, kUntouched);
    }
    const std::string image = dir.Write("image.abs", BuildImageFile({{BootLoaderChunkId, 0, 0x10}}));
    uint32_t offset = 0;
    uint32_t length = 0;
    EXPECT_FALSE(FindChunkInImage(image.c_str(), BootLoaderChunkId, &offset, &length, nullptr));
}

TEST(ImageFile, BootLoaderVersionFieldIsCopiedWhole)
{
    testsupport::TempDir dir;
    uint32_t offset = 0;
    uint32_t length = 0;

    ImageChunk loader{BootLoaderChunkId, 0x400, 0x100};
    loader.version = "BL 1.05";
    loader.versionFill = 0xEE;
    const std::string withLoader =
        dir.Write("with.abs", BuildImageFile({loader, {kMain, 0, 0x10, CrcKind::None}}));
    char version[16];
    std::memset(version, 0x5A, sizeof version);
    ASSERT_TRUE(FindChunkInImage(withLoader.c_str(), kMain, &offset, &length, version));
    const char expected[16] = {'B', 'L', ' ', '1', '.', '0', '5', 0, '\xEE', '\xEE', '\xEE', '\xEE',
                               '\xEE', '\xEE', '\xEE', '\xEE'};
    EXPECT_EQ(std::memcmp(version, expected, sizeof version), 0);

    const std::string withoutLoader =
        dir.Write("without.abs", BuildImageFile({{0x01FF0000, 0x400, 0x10}, {kMain, 0, 0x10}}));
    std::memset(version, 0x5A, sizeof version);
    ASSERT_TRUE(FindChunkInImage(withoutLoader.c_str(), kMain, &offset, &length, version));
    for (char byte : version) {
        EXPECT_EQ(byte, 0x5A);
    }
}

struct ListedChunk {
    uint32_t offset;
    uint32_t id;
    uint32_t size;
    ImageCrc crc;
};

struct ListingCase {
    std::string name;
    std::vector<ImageChunk> chunks;
    std::vector<ListedChunk> listed;
    ImageProblem problem;
    uint32_t problemOffset = 0;
};

// The listing walks past a chunk whose only fault is its CRC, so that every chunk of a damaged
// image can be shown, and stops where the walk can no longer find the next header.
TEST(ImageFile, ListingShowsEveryChunkAndTheFirstProblem)
{
    const ListingCase cases[] = {
        {"Valid",
         {{BootLoaderChunkId, 0x400, 0x100, CrcKind::None}, {kMain, 0x800, 0x80}, {kLogo, 0, 0x10}},
         {{0, BootLoaderChunkId, 0x400, ImageCrc::None},
          {0x400, kMain, 0x800, ImageCrc::Good},
          {0xC00, kLogo, 112 + 0x10 + 16, ImageCrc::Good}},
         ImageProblem::None},
        {"BadCrcInTheMiddle",
         {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0x800, 0x80, CrcKind::Wrong}, {kLogo, 0, 0x10}},
         {{0, BootLoaderChunkId, 0x400, ImageCrc::Good},
          {0x400, kMain, 0x800, ImageCrc::Bad},
          {0xC00, kLogo, 112 + 0x10 + 16, ImageCrc::Good}},
         ImageProblem::BadCrc, 0x400},
        {"BrokenIdEndsTheWalk",
         {{BootLoaderChunkId, 0x400, 0x100}, {0x01FF0000, 0x800, 0x80}, {kLogo, 0, 0x10}},
         {{0, BootLoaderChunkId, 0x400, ImageCrc::Good}, {0x400, 0x01FF0000, 0x800, ImageCrc::Unchecked}},
         ImageProblem::IdNotComplemented, 0x400},
        {"NextHeaderPastTheEnd",
         {{BootLoaderChunkId, 0x400, 0x100}, {kMain, 0x800, 0x80}},
         {{0, BootLoaderChunkId, 0x400, ImageCrc::Good}, {0x400, kMain, 0x800, ImageCrc::Good}},
         ImageProblem::HeaderPastEnd, 0xC00},
        {"SingleChunk",
         {{BootLoaderChunkId, 0, 0x40}},
         {{0, BootLoaderChunkId, 112 + 0x40 + 16, ImageCrc::Good}},
         ImageProblem::SingleChunk},
    };
    testsupport::TempDir dir;
    for (const ListingCase& c : cases) {
        SCOPED_TRACE(c.name);
        const std::vector<uint8_t> bytes = BuildImageFile(c.chunks);
        const std::string path = dir.Write(c.name + ".abs", bytes);
        const ImageListing listing = ListImageFile(path.c_str());
        EXPECT_EQ(listing.fileLength, bytes.size());
        EXPECT_EQ(listing.problem, c.problem);
        EXPECT_EQ(listing.problemOffset, c.problemOffset);
        ASSERT_EQ(listing.chunks.size(), c.listed.size());
        for (size_t i = 0; i < c.listed.size(); ++i) {
            SCOPED_TRACE(i);
            EXPECT_EQ(listing.chunks[i].fileOffset, c.listed[i].offset);
            EXPECT_EQ(listing.chunks[i].info.id, c.listed[i].id);
            EXPECT_EQ(listing.chunks[i].size, c.listed[i].size);
            EXPECT_EQ(listing.chunks[i].crc, c.listed[i].crc);
            EXPECT_STREQ(listing.chunks[i].info.name, "chunk");
            EXPECT_STREQ(listing.chunks[i].info.version, "1.0");
        }
    }

    const ImageListing missing = ListImageFile(dir.File("missing.abs").c_str());
    EXPECT_EQ(missing.problem, ImageProblem::CannotOpen);
    EXPECT_TRUE(missing.chunks.empty());
}

}  // namespace
