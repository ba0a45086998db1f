#include "capture.h"
#include "image_builder.h"
#include "session_fixture.h"

#include "flashmate/chunk_files.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace {

using testsupport::BuildImageFile;
using testsupport::CrcKind;
using testsupport::ImageChunk;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kMainId = 0x01FE0100;
constexpr uint32_t kLogoId = 0x02FD0300;
constexpr uint32_t kDefaultDbId = 0x03FC0100;
constexpr uint32_t kMaskedId = 0x05FA0100;
// Row keys of the receiver below.
constexpr int32_t kBootLoaderRow = 0;
constexpr int32_t kMainRow = 1;
constexpr int32_t kUserDbRow = 2;
constexpr int32_t kLogoRow = 3;
constexpr int32_t kLastRow = 4;  // nextOffset 0, length 0x3F0: capacity 0x400
constexpr int32_t kMaskedRow = 5;
const char* const kReceiverLoader = "BL 1.05";

ChunkInfo Chunk(uint32_t id, uint32_t nextOffset, uint32_t length = 0x100)
{
    ChunkInfo chunk{};
    chunk.id = id;
    chunk.nextOffset = nextOffset;
    chunk.length = length;
    chunk.crc = ChunkNoCrc;
    return chunk;
}

class FakeChooser : public ChunkFileChooser {
public:
    explicit FakeChooser(std::optional<std::string> path) : path_(std::move(path)) {}

    std::optional<std::string> AskPath(FileDialogKind dialog, const ChunkFileKind& kind) override
    {
        ++asked;
        lastDialog = dialog;
        lastKind = kind;
        return path_;
    }
    void ShowMessage(const std::string& text) override { messages.push_back(text); }

    int asked = 0;
    FileDialogKind lastDialog = FileDialogKind::Open;
    ChunkFileKind lastKind;
    std::vector<std::string> messages;

private:
    std::optional<std::string> path_;
};

class ChunkFilesTest : public testsupport::SessionTest {
protected:
    void SetUp() override
    {
        SessionTest::SetUp();
        const ChunkInfo chunks[] = {Chunk(BootLoaderChunkId, 0x10000), Chunk(kMainId, 0x20000),
                                    Chunk(UserDbChunkId, 0x10000),     Chunk(kLogoId, 0x8000),
                                    Chunk(kDefaultDbId, 0, 0x3F0),     Chunk(kMaskedId, 0x1000)};
        ReceiverChunks.count = 6;
        for (uint32_t i = 0; i < ReceiverChunks.count; ++i) {
            ReceiverChunks.chunks[i] = chunks[i];
        }
        ReceiverChunks.chunks[kMaskedRow].masked = 1;
        SetReceiverLoader(kReceiverLoader);
    }

    static void SetReceiverLoader(const std::string& version, uint8_t fill = 0)
    {
        std::memset(GetSession().bootLoaderVersion, fill, BootLoaderVersionSize);
        std::memcpy(GetSession().bootLoaderVersion, version.data(), std::min<size_t>(version.size(), 16));
    }

    static ChunkSelection& Slot(int32_t key) { return GetSession().selections[key + 2]; }
};

// An image laid out like the receiver: boot loader, main code, user database last.
Bytes ReceiverLikeImage(const std::string& loaderVersion = kReceiverLoader, uint8_t versionFill = 0xFF)
{
    ImageChunk loader{BootLoaderChunkId, 0x10000, 0x200};
    loader.version = loaderVersion;
    loader.versionFill = versionFill;
    return BuildImageFile({loader, {kMainId, 0x20000, 0x300}, {UserDbChunkId, 0, 0x3F0 - 112, CrcKind::None}});
}

struct MatchCase {
    std::string name;
    int32_t key;
    std::optional<Bytes> file;  // nullopt: the chosen path does not exist
    ChunkFileCheck check;
    std::string message;
    // The slot after an acceptance.
    uint32_t offset = 0;
    uint32_t length = 0;
    uint8_t isImage = 0;
    // The receiver's boot-loader version, and the bytes after its NUL.
    std::string receiverLoader = kReceiverLoader;
    uint8_t receiverLoaderFill = 0;
};

const char* const kRawTooLarge = "Select Размер файла больше суммы блоков";
const char* const kNotFound = "невозможно найти соответствующий блок.";
const char* const kWrongLoader = "Не подходит версия загрузчика.";

const MatchCase kMatchCases[] = {
    {"RawFileFillingTheChunkBehindItsHeader", kUserDbRow, Bytes(65408, 0x11), ChunkFileCheck::Accepted, "", 0, 65408, 0},
    {"RawFileOneByteTooLarge", kUserDbRow, Bytes(65409, 0x11), ChunkFileCheck::RawFileTooLarge, kRawTooLarge},
    {"RawBootLoaderFillingTheWholeChunk", kBootLoaderRow, Bytes(65536, 0x22), ChunkFileCheck::Accepted, "", 0, 65536, 0},
    {"RawBootLoaderOneByteTooLarge", kBootLoaderRow, Bytes(65537, 0x22), ChunkFileCheck::RawFileTooLarge, kRawTooLarge},
    {"RawFileForTheLastChunkFits", kLastRow, Bytes(0x400 - 128, 0x33), ChunkFileCheck::Accepted, "", 0, 0x380, 0},
    {"RawFileForTheLastChunkTooLarge", kLastRow, Bytes(0x400 - 127, 0x33), ChunkFileCheck::RawFileTooLarge, kRawTooLarge},
    {"RawBootLoaderIsNeverComparedByVersion", kBootLoaderRow, Bytes(0x100, 0x44), ChunkFileCheck::Accepted, "", 0, 0x100, 0,
     "other"},
    {"DamagedImageIsTakenAsRawData", kMainRow, BuildImageFile({{BootLoaderChunkId, 0, 0x100}}), ChunkFileCheck::Accepted, "",
     0, 128 + 0x100, 0},
    {"EmptyFileIsRefusedSilently", kMainRow, Bytes{}, ChunkFileCheck::EmptyFile, ""},
    {"ImageChunk", kMainRow, ReceiverLikeImage(), ChunkFileCheck::Accepted, "", 0x10000, 0x20000, 1},
    {"ImageBootLoaderChunk", kBootLoaderRow, ReceiverLikeImage(), ChunkFileCheck::Accepted, "", 0, 0x10000, 1},
    {"ImageUserDatabaseTakesLengthPlus16", kUserDbRow, ReceiverLikeImage(), ChunkFileCheck::Accepted, "", 0x30000, 0x400, 1},
    {"ImageWithoutTheRowsChunk", kLogoRow, ReceiverLikeImage(), ChunkFileCheck::ChunkNotInImage, kNotFound},
    {"ImageChunkLargerThanTheReceivers", kMainRow,
     BuildImageFile({{BootLoaderChunkId, 0x10000, 0x200, CrcKind::Correct, kReceiverLoader}, {kMainId, 0x20010, 0x300},
                     {UserDbChunkId, 0, 0x10, CrcKind::None}}),
     ChunkFileCheck::ImageChunkTooLarge, "Select bin File chunk size large than Slave chunk size \n Chunk size: 0x00020000"},
    // Its nextOffset of 0 is no size: the chunk's length + 16 must fit the capacity.
    {"ImageLastChunkFillingTheReceivers", kLastRow,
     BuildImageFile({{BootLoaderChunkId, 0x10000, 0x200, CrcKind::Correct, kReceiverLoader},
                     {kDefaultDbId, 0, 0x3F0 - 112}}),
     ChunkFileCheck::Accepted, "", 0x10000, 0x400, 1},
    {"ImageLastChunkOneByteLargerThanTheReceivers", kLastRow,
     BuildImageFile({{BootLoaderChunkId, 0x10000, 0x200, CrcKind::Correct, kReceiverLoader},
                     {kDefaultDbId, 0, 0x3F1 - 112}}),
     ChunkFileCheck::ImageChunkTooLarge, "Select bin File chunk size large than Slave chunk size \n Chunk size: 0x00000400"},
    {"ImageWithAnotherBootLoader", kMainRow, ReceiverLikeImage("BL 2.00"), ChunkFileCheck::BootLoaderMismatch, kWrongLoader},
    {"ImageWithAnotherBootLoaderForTheBootLoaderRow", kBootLoaderRow, ReceiverLikeImage("BL 2.00"),
     ChunkFileCheck::BootLoaderMismatch, kWrongLoader},
    {"ImageWithoutBootLoader", kUserDbRow,
     BuildImageFile({{kMainId, 0x20000, 0x300}, {UserDbChunkId, 0, 0x10, CrcKind::None}}),
     ChunkFileCheck::BootLoaderMismatch, kWrongLoader},
    {"ImageWithoutBootLoaderForAReceiverWithoutVersion", kUserDbRow,
     BuildImageFile({{kMainId, 0x20000, 0x300}, {UserDbChunkId, 0, 0x10, CrcKind::None}}), ChunkFileCheck::Accepted, "",
     0x20000, 128 + 0x10, 1, "", 0xFF},
    {"LongVersionsMatchByTheirFirst8Bytes", kMainRow, ReceiverLikeImage("BL 1.05-rc2"), ChunkFileCheck::Accepted, "",
     0x10000, 0x20000, 1, "BL 1.05-final"},
    {"ShortVersionFilledWithFFDoesNotMatchZeros", kMainRow, ReceiverLikeImage("BL1", 0xFF),
     ChunkFileCheck::BootLoaderMismatch, kWrongLoader, 0, 0, 0, "BL1"},
    {"ShortVersionsMatchWhenTheirFillAgrees", kMainRow, ReceiverLikeImage("BL1", 0x00), ChunkFileCheck::Accepted, "",
     0x10000, 0x20000, 1, "BL1"},
    {"WholeImageIsNotExamined", KeyAll, Bytes(10, 0x55), ChunkFileCheck::Accepted, "", 0x40, 0x80, 1},
    {"EmptyWholeImageIsRefused", KeyAllNoBootLoader, Bytes{}, ChunkFileCheck::EmptyFile, ""},
    {"MissingFile", kMainRow, std::nullopt, ChunkFileCheck::CannotOpen, "Невозможно открыть файл "},
};

class ChunkMatchTest : public ChunkFilesTest, public ::testing::WithParamInterface<MatchCase> {};

// Every case runs through the dialog path and through the command line's, each starting from
// an earlier accepted file in the row's slot.
TEST_P(ChunkMatchTest, ChecksTheFileAndRecordsOnlyAnAcceptedOne)
{
    const MatchCase& c = GetParam();
    SetReceiverLoader(c.receiverLoader, c.receiverLoaderFill);
    const std::string path = c.file ? dir_.Write("chosen.bin", *c.file) : dir_.File("missing.bin");
    const ChunkSelection earlier{"/earlier/file.abs", 0x40, 0x80, 1};

    for (bool withDialog : {true, false}) {
        SCOPED_TRACE(withDialog ? "ChooseChunkFile" : "BindChunkFile");
        Slot(c.key) = earlier;
        Slot(kMaskedRow) = ChunkSelection{"/other/slot.bin", 1, 2, 0};
        FakeChooser chooser(path);
        const ChunkFileOutcome outcome = withDialog ? ChooseChunkFile(c.key, chooser) : BindChunkFile(c.key, path);

        EXPECT_EQ(outcome.check, c.check);
        EXPECT_EQ(outcome.message.substr(0, c.message.size()), c.message);
        EXPECT_EQ(outcome.message.empty(), c.message.empty());
        if (withDialog) {
            EXPECT_EQ(chooser.asked, 1);
            EXPECT_EQ(chooser.lastDialog, FileDialogKind::Open);
            EXPECT_EQ(chooser.messages,
                      outcome.message.empty() ? std::vector<std::string>{} : std::vector<std::string>{outcome.message});
        }
        const ChunkSelection& slot = Slot(c.key);
        if (c.check == ChunkFileCheck::Accepted) {
            EXPECT_EQ(slot.filePath, path);
            EXPECT_EQ(slot.fileOffset, c.offset);
            EXPECT_EQ(slot.length, c.length);
            EXPECT_EQ(slot.isImage, c.isImage);
        } else {
            EXPECT_EQ(slot.filePath, earlier.filePath);
            EXPECT_EQ(slot.fileOffset, earlier.fileOffset);
            EXPECT_EQ(slot.length, earlier.length);
            EXPECT_EQ(slot.isImage, earlier.isImage);
        }
        EXPECT_EQ(Slot(kMaskedRow).filePath, "/other/slot.bin");
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ChunkMatchTest, ::testing::ValuesIn(kMatchCases), testsupport::CaseName());

TEST(ChunkFileFilter, ByTheWholeChunkId)
{
    const std::string all = "Все файлы (*.*)|*.*|";
    struct Case {
        uint32_t id;
        const char* extension;
        std::string filter;
    } cases[] = {
        {0, "abs", "Файлы прошивок (*.abs)|*.abs|" + all},
        {BootLoaderChunkId, "abs", "Файлы прошивок (*.abs)|*.abs|" + all},
        {0x02FD0100, "m2v", "Logo file(*.m2v)|*.m2v|" + all},
        {0x02FD0200, "m2v", "Logo file(*.m2v)|*.m2v|" + all},
        {0x02FD0300, "m2v", "Logo file(*.m2v)|*.m2v|" + all},
        {0x02FD0400, "bin", "Бинарные файлы (*.bin)|*.bin|" + all},
        {0xE3000020, "bin", "Бинарные файлы (*.bin)|*.bin|" + all},
        {kDefaultDbId, "ddf", "default db(*.ddf)|*.ddf|" + all},
        {UserDbChunkId, "udf", "user db(*.udf)|*.udf|" + all},
        {kMainId, "bin", "Бинарные файлы (*.bin)|*.bin|" + all},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.id);
        const ChunkFileKind kind = ChunkFileFilter(c.id);
        EXPECT_EQ(kind.defaultExtension, c.extension);
        EXPECT_EQ(kind.filter, c.filter);
    }
}

TEST_F(ChunkFilesTest, DialogsOfferTheRowsFileKindInBothProcesses)
{
    struct Case {
        uint32_t process;
        int32_t key;
        FileDialogKind dialog;
        const char* extension;
    } cases[] = {
        {ProcessWrite, KeyAll, FileDialogKind::Open, "abs"},
        {ProcessWrite, KeyAllNoBootLoader, FileDialogKind::Open, "abs"},
        {ProcessWrite, kLogoRow, FileDialogKind::Open, "m2v"},
        {ProcessRead, KeyAll, FileDialogKind::Save, "abs"},
        {ProcessRead, kUserDbRow, FileDialogKind::Save, "udf"},
        {ProcessRead, kMainRow, FileDialogKind::Save, "bin"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.key);
        GetSession().processKind = c.process;
        FakeChooser chooser(std::nullopt);
        EXPECT_EQ(ChooseChunkFile(c.key, chooser).check, ChunkFileCheck::DialogCancelled);
        EXPECT_EQ(chooser.asked, 1);
        EXPECT_EQ(chooser.lastDialog, c.dialog);
        EXPECT_EQ(chooser.lastKind.defaultExtension, c.extension);
        EXPECT_TRUE(chooser.messages.empty());
        EXPECT_FALSE(HasAnySelection());
    }
}

TEST_F(ChunkFilesTest, ReadProcessRecordsAnyPathAndNothingElse)
{
    GetSession().processKind = ProcessRead;
    const std::string notYet = dir_.File("dump/main.bin");
    Slot(kMainRow) = ChunkSelection{"", 0x40, 0x80, 1};
    FakeChooser chooser(notYet);
    EXPECT_TRUE(ChooseChunkFile(kMainRow, chooser).Accepted());
    EXPECT_EQ(Slot(kMainRow).filePath, notYet);
    EXPECT_EQ(Slot(kMainRow).fileOffset, 0x40u);
    EXPECT_EQ(Slot(kMainRow).length, 0x80u);
    EXPECT_FALSE(std::filesystem::exists(notYet));
    FakeChooser empty(std::string{});
    EXPECT_EQ(ChooseChunkFile(kUserDbRow, empty).check, ChunkFileCheck::DialogCancelled);
    EXPECT_EQ(BindChunkFile(kUserDbRow, "").check, ChunkFileCheck::DialogCancelled);
    EXPECT_TRUE(Slot(kUserDbRow).filePath.empty());
    EXPECT_TRUE(BindChunkFile(KeyAll, dir_.File("flash.abs")).Accepted());
    EXPECT_EQ(Slot(KeyAll).filePath, dir_.File("flash.abs"));
}

TEST_F(ChunkFilesTest, RowsWithoutASlotAreRefusedWithoutADialog)
{
    struct Case {
        const char* name;
        uint32_t process;
        int32_t key;
    } cases[] = {
        {"BeyondTheTable", ProcessWrite, 6},
        {"BeyondTheSlots", ProcessWrite, static_cast<int32_t>(MaxChunks)},
        {"MaskedChunk", ProcessWrite, kMaskedRow},
        {"BelowTheWholeImageKeys", ProcessWrite, -3},
        {"ImageWithoutBootLoaderInARead", ProcessRead, KeyAllNoBootLoader},
    };
    const std::string path = dir_.Write("raw.bin", Bytes(16, 1));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        GetSession().processKind = c.process;
        FakeChooser chooser(path);
        EXPECT_EQ(ChooseChunkFile(c.key, chooser).check, ChunkFileCheck::NoSuchRow);
        EXPECT_EQ(BindChunkFile(c.key, path).check, ChunkFileCheck::NoSuchRow);
        EXPECT_EQ(chooser.asked, 0);
        EXPECT_FALSE(HasAnySelection());
    }
}

TEST_F(ChunkFilesTest, AWholeImageExcludesEveryOtherRow)
{
    const std::string image = dir_.Write("all.abs", ReceiverLikeImage());
    const std::string raw = dir_.Write("raw.bin", Bytes(16, 1));
    FakeChooser chooser(image);
    ASSERT_TRUE(ChooseChunkFile(KeyAll, chooser).Accepted());
    KeepOnlyWholeImage(KeyAll);

    for (int32_t key : {KeyAllNoBootLoader, kBootLoaderRow, kMainRow, kLastRow}) {
        SCOPED_TRACE(key);
        FakeChooser other(raw);
        EXPECT_EQ(ChooseChunkFile(key, other).check, ChunkFileCheck::WholeImageChosen);
        EXPECT_EQ(BindChunkFile(key, raw).check, ChunkFileCheck::WholeImageChosen);
        EXPECT_EQ(other.asked, 0);
        EXPECT_TRUE(other.messages.empty());
        EXPECT_TRUE(Slot(key).filePath.empty());
    }
    FakeChooser again(raw);
    EXPECT_TRUE(ChooseChunkFile(KeyAll, again).Accepted());
    EXPECT_EQ(Slot(KeyAll).filePath, raw);

    CancelChunkChoice(KeyAll);
    EXPECT_FALSE(HasAnySelection());
    EXPECT_TRUE(BindChunkFile(kMainRow, raw).Accepted());
}

TEST_F(ChunkFilesTest, KeepOnlyWholeImageEmptiesTheChunkRows)
{
    const std::string raw = dir_.Write("raw.bin", Bytes(16, 1));
    const std::string image = dir_.Write("image.abs", ReceiverLikeImage());
    ASSERT_TRUE(BindChunkFile(kBootLoaderRow, raw).Accepted());
    ASSERT_TRUE(BindChunkFile(kMainRow, image).Accepted());
    ASSERT_TRUE(BindChunkFile(kUserDbRow, raw).Accepted());

    ASSERT_TRUE(BindChunkFile(KeyAllNoBootLoader, image).Accepted());
    KeepOnlyWholeImage(KeyAllNoBootLoader);
    for (int32_t key : {kBootLoaderRow, kMainRow, kUserDbRow}) {
        SCOPED_TRACE(key);
        EXPECT_TRUE(Slot(key).filePath.empty());
        EXPECT_EQ(Slot(key).fileOffset, 0u);
        EXPECT_EQ(Slot(key).length, 0u);
    }
    // isImage keeps its value: the jobs read it only together with a path.
    EXPECT_EQ(Slot(kMainRow).isImage, 1);
    EXPECT_EQ(Slot(KeyAllNoBootLoader).filePath, image);
    EXPECT_TRUE(HasAnySelection());
}

TEST_F(ChunkFilesTest, CancelAndHasAnySelection)
{
    const std::string raw = dir_.Write("raw.bin", Bytes(16, 1));
    EXPECT_FALSE(HasAnySelection());
    ASSERT_TRUE(BindChunkFile(kLastRow, raw).Accepted());
    EXPECT_TRUE(HasAnySelection());

    CancelChunkChoice(kMainRow);
    EXPECT_TRUE(HasAnySelection());
    CancelChunkChoice(kLastRow);
    EXPECT_FALSE(HasAnySelection());
    EXPECT_EQ(Slot(kLastRow).length, 0u);

    // Slots past the table are not the table's selection.
    Slot(static_cast<int32_t>(ReceiverChunks.count)) = ChunkSelection{"/stale.bin", 0, 1, 0};
    EXPECT_FALSE(HasAnySelection());
    CancelChunkChoice(-3);
    CancelChunkChoice(static_cast<int32_t>(MaxChunks));
}

TEST_F(ChunkFilesTest, AFullTableUsesItsLastSlots)
{
    ReceiverChunks.count = MaxChunks;
    for (uint32_t i = 6; i < MaxChunks; ++i) {
        ReceiverChunks.chunks[i] = Chunk(kMainId + i, 0x1000);
    }
    const std::string raw = dir_.Write("raw.bin", Bytes(16, 1));
    const int32_t lastKey = static_cast<int32_t>(MaxChunks) - 1;
    ASSERT_TRUE(BindChunkFile(lastKey, raw).Accepted());
    EXPECT_EQ(GetSession().selections[SelectionSlotCount - 1].filePath, raw);
    EXPECT_TRUE(HasAnySelection());
    ResetSelections(GetSession());
    EXPECT_FALSE(HasAnySelection());
}

TEST_F(ChunkFilesTest, FilesOf2GiBAndMoreAreRefusedSilently)
{
    const std::string huge = dir_.File("huge.bin");
    std::filesystem::resize_file(dir_.WriteText("huge.bin", ""), uint64_t{1} << 31);
    FakeChooser chooser(huge);
    EXPECT_EQ(ChooseChunkFile(kMainRow, chooser).check, ChunkFileCheck::EmptyFile);
    EXPECT_TRUE(chooser.messages.empty());
}

}  // namespace
