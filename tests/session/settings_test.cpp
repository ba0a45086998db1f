#include "capture.h"
#include "session_fixture.h"

#include "flashmate/ini_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

extern "C" char* program_invocation_short_name;

namespace {

using testsupport::SessionTest;
using testsupport::TempDir;

struct IntCase {
    std::string name;
    std::string text;
    int32_t expected;
};

class IniIntTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IniIntTest, ReadsLikeThePrivateProfile)
{
    const IntCase& c = GetParam();
    EXPECT_EQ(IniFile::FromText(c.text).GetInt("Config", "Port", 99), c.expected);
}

const IntCase kIntCases[] = {
    {"Plain", "[Config]\nPort=7\n", 7},
    {"Negative", "[Config]\nPort=-7\n", -7},
    {"LeadingDigitsOnly", "[Config]\nPort=12abc\n", 12},
    {"NoDigitsIsZero", "[Config]\nPort=abc\n", 0},
    {"MinusWithoutDigitsIsZero", "[Config]\nPort=-\n", 0},
    {"EmptyValueIsTheDefault", "[Config]\nPort=\n", 99},
    {"MissingKeyIsTheDefault", "[Config]\nBaud=1\n", 99},
    {"MissingSectionIsTheDefault", "[Other]\nPort=5\n", 99},
    {"KeyInAnotherSectionIsNotSeen", "[Other]\nPort=5\n[Config]\nBaud=1\n", 99},
    {"NamesIgnoreCaseAndBlanks", "[ config ]\r\n  port  =  42 \r\n", 42},
    {"QuotesAreNotPartOfTheValue", "[Config]\nPort=\"5\"\n", 5},
    {"CommentedKeyIsMissing", "[Config]\n;Port=5\n# Port=6\n", 99},
    {"FirstKeyWins", "[Config]\nPort=1\nPort=2\n", 1},
    {"FirstSectionWins", "[Config]\nPort=1\n[Config]\nPort=2\n", 1},
    {"LastLineWithoutLineEnd", "[Config]\nPort=8", 8},
    {"WrapsModulo2To32", "[Config]\nPort=4294967297\n", 1},
};

INSTANTIATE_TEST_SUITE_P(Forms, IniIntTest, ::testing::ValuesIn(kIntCases), testsupport::CaseName());

struct SetCase {
    std::string name;
    std::string before;
    std::string after;
};

class IniSetTest : public ::testing::TestWithParam<SetCase> {};

TEST_P(IniSetTest, ChangesOnlyTheKeysLine)
{
    const SetCase& c = GetParam();
    IniFile file = IniFile::FromText(c.before);
    file.Set("Config", "Port", "3");
    EXPECT_EQ(file.Text(), c.after);
    EXPECT_EQ(IniFile::FromText(file.Text()).GetInt("Config", "Port", 0), 3);
}

const SetCase kSetCases[] = {
    {"ReplacesTheValueKeepingEverythingElse",
     "; written by hand\r\n[Config]\r\nPort=1\r\n; the next one too\r\nWarningLevel=2\r\n",
     "; written by hand\r\n[Config]\r\nPort=3\r\n; the next one too\r\nWarningLevel=2\r\n"},
    {"KeepsTheKeysSpellingAndBlanks", "[config]\n  port =  1\n", "[config]\n  port =  3\n"},
    {"AddsAMissingKeyAfterTheSectionsLastKey",
     "[Config]\nBaud=9600\n\n; ports below\n[Ports]\nCOM1=/dev/ttyUSB0\n",
     "[Config]\nBaud=9600\nPort=3\n\n; ports below\n[Ports]\nCOM1=/dev/ttyUSB0\n"},
    {"AddsAKeyToASectionWithoutKeys", "[Config]\n; nothing yet\n", "[Config]\nPort=3\n; nothing yet\n"},
    {"AddsAMissingSectionAtTheEnd", "[Ports]\nCOM1=/dev/ttyUSB0", "[Ports]\nCOM1=/dev/ttyUSB0\n[Config]\nPort=3\n"},
    {"NewLinesFollowTheFilesLineEnds", "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n",
     "[Ports]\r\nCOM1=/dev/ttyUSB0\r\n[Config]\r\nPort=3\r\n"},
    {"EmptyFile", "", "[Config]\nPort=3\n"},
};

INSTANTIATE_TEST_SUITE_P(Edits, IniSetTest, ::testing::ValuesIn(kSetCases), testsupport::CaseName());

struct SettingsCase {
    std::string name;
    std::optional<std::string> file;  // nullopt: no file at all
    int32_t port, baud, parity;
    uint32_t warningLevel, transferFormat2;
    std::vector<uint32_t> mask;
    // What SaveSettings leaves in the file after the port was changed to 9.
    std::string saved;
};

class SettingsFileTest : public SessionTest, public ::testing::WithParamInterface<SettingsCase> {};

TEST_P(SettingsFileTest, LoadsAndWritesBackOnlyTheSerialSettings)
{
    const SettingsCase& c = GetParam();
    if (c.file) {
        dir_.WriteText("Upgrade.ini", *c.file);
    }
    UpgradeSession& session = GetSession();
    ASSERT_TRUE(LoadSettings(session));
    EXPECT_EQ(PortNumber, c.port);
    EXPECT_EQ(BaudRate, c.baud);
    EXPECT_EQ(ParityCode, c.parity);
    EXPECT_EQ(session.warningLevel, c.warningLevel);
    EXPECT_EQ(session.transferFormat2, c.transferFormat2);
    EXPECT_EQ(std::vector<uint32_t>(session.chunkMask, session.chunkMask + session.chunkMaskCount), c.mask);

    PortNumber = 9;
    session.warningLevel = 7;
    session.transferFormat2 = 5;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(TempDir::Read(settingsPath_), c.saved);
}

const SettingsCase kSettingsCases[] = {
    {"NoFileGivesTheDefaults", std::nullopt, 1, 115200, 2, 0, 1, {}, "[Config]\nPort=9\nBaud=115200\nParity=2\n"},
    {"HandEditedKeysAndCommentsSurvive",
     "; Flashmate settings\n[Config]\nPort=4\nBaud=57600\n; parity 0 is none\nParity=0\nWarningLevel=2\n"
     "TransferFormat2=0\nChunkMask=E3000010,04FB0100,\n\n[Ports]\nCOM4=/dev/ttyUSB1\n",
     4, 57600, 0, 2, 0, {0xE3000010, 0x04FB0100},
     "; Flashmate settings\n[Config]\nPort=9\nBaud=57600\n; parity 0 is none\nParity=0\nWarningLevel=2\n"
     "TransferFormat2=0\nChunkMask=E3000010,04FB0100,\n\n[Ports]\nCOM4=/dev/ttyUSB1\n"},
    {"MissingKeysKeepTheirValues", "[Config]\nBaud=9600\n", 1, 9600, 2, 0, 1, {},
     "[Config]\nBaud=9600\nPort=9\nParity=2\n"},
    {"FileWithoutTheSectionGetsIt", "[Ports]\nCOM1=/dev/ttyACM0\n", 1, 115200, 2, 0, 1, {},
     "[Ports]\nCOM1=/dev/ttyACM0\n[Config]\nPort=9\nBaud=115200\nParity=2\n"},
};

INSTANTIATE_TEST_SUITE_P(Files, SettingsFileTest, ::testing::ValuesIn(kSettingsCases), testsupport::CaseName());

TEST_F(SessionTest, PortsSectionMapsPortNumbersToDevices)
{
    dir_.WriteText("Upgrade.ini",
                   "[Config]\nPort=2\n[Ports]\nCOM1=/dev/ttyUSB0\ncom2 = /dev/serial/by-id/usb-FTDI_a-if00-port0\n"
                   "COM0=/dev/null\nCOMX=/dev/null\nCOM3=\nLPT1=/dev/lp0\n");
    ASSERT_TRUE(LoadSettings(GetSession()));
    EXPECT_EQ(UpgPortDevicePath(1), "/dev/ttyUSB0");
    EXPECT_EQ(UpgPortDevicePath(2), "/dev/serial/by-id/usb-FTDI_a-if00-port0");
    EXPECT_EQ(UpgPortDevicePath(3), "/dev/ttyS2");
    EXPECT_EQ(UpgPortDevicePath(0), "");
}

TEST_F(SessionTest, SettingsThatCannotBeWrittenAreReportedSo)
{
    SetSettingsFilePath(dir_.Path());
    EXPECT_FALSE(SaveSettings());
}

TEST_F(SessionTest, SavingCreatesTheSettingsFolder)
{
    const std::string deep = dir_.File("home/.config/flashmate/Upgrade.ini");
    SetSettingsFilePath(deep);
    PortNumber = 3;
    ASSERT_TRUE(SaveSettings());
    EXPECT_EQ(TempDir::Read(deep), "[Config]\nPort=3\nBaud=115200\nParity=2\n");
}

TEST_F(SessionTest, InitSessionLoadsAndInstallsTheLogCallback)
{
    dir_.WriteText("Upgrade.ini", "[Config]\nBaud=38400\nWarningLevel=1\n");
    UpgradeSession& session = GetSession();
    ASSERT_TRUE(InitSession(session));
    EXPECT_EQ(BaudRate, 38400);
    EXPECT_EQ(session.warningLevel, 1u);
    EXPECT_EQ(UpgInstalledMessageCallback(), &LogMessage);
}

TEST(SettingsLocation, BesideTheExecutableWhenPossibleElseInTheHomeFolder)
{
    TempDir module;
    TempDir withFile;
    withFile.WriteText("Upgrade.ini", "[Config]\n");
    const std::string missing = module.Path() + "gone/";
    struct Case {
        const char* name;
        std::string module;
        std::string home;
        std::string expected;
    } cases[] = {
        {"WritableFolder", module.Path(), "/home/tech", module.Path() + "Upgrade.ini"},
        {"ExistingFile", withFile.Path(), "/home/tech", withFile.Path() + "Upgrade.ini"},
        {"FolderNeitherWritableNorHoldingTheFile", missing, "/home/tech", "/home/tech/.config/flashmate/Upgrade.ini"},
        {"HomeWithTrailingSlash", missing, "/home/tech/", "/home/tech/.config/flashmate/Upgrade.ini"},
        {"NoExecutableFolder", "", "/home/tech", "/home/tech/.config/flashmate/Upgrade.ini"},
        {"NothingKnown", missing, "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(ChooseSettingsPath(c.module, c.home), c.expected);
    }
}

TEST(ModuleDirectory, IsTheFolderOfThisProgramWithATrailingSlash)
{
    const std::string folder = GetModuleDirectory();
    ASSERT_FALSE(folder.empty());
    EXPECT_EQ(folder.back(), '/');
    EXPECT_TRUE(std::filesystem::is_regular_file(folder + program_invocation_short_name)) << folder;
}

TEST(ModuleDirectory, PathsOfAnyLength)
{
    TempDir dir;
    const std::string deep = "/opt/" + std::string(300, 'd') + "/tools/";
    struct Case {
        const char* name;
        std::string target;  // empty: no link at all
        std::string expected;
    } cases[] = {
        {"Short", "/opt/flashmate/bin/flashmate", "/opt/flashmate/bin/"},
        {"LongerThan255", deep + "flashmate", deep},
        {"LongerThanTheFirstBufferTwice", deep + std::string(300, 'e') + "/x", deep + std::string(300, 'e') + "/"},
        {"NoFolder", "flashmate", ""},
        {"NoLink", "", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string link = dir.File(c.name);
        if (!c.target.empty()) {
            std::filesystem::create_symlink(c.target, link);
        }
        EXPECT_EQ(LinkTargetDirectory(link.c_str()), c.expected);
    }
}

struct MaskCase {
    std::string name;
    std::string text;
    std::vector<uint32_t> ids;
};

class ChunkMaskTest : public SessionTest, public ::testing::WithParamInterface<MaskCase> {};

TEST_P(ChunkMaskTest, TakesEveryCommaTerminatedId)
{
    const MaskCase& c = GetParam();
    UpgradeSession& session = GetSession();
    session.chunkMaskCount = 5;
    ASSERT_TRUE(ParseChunkMask(session, c.text.c_str()));
    EXPECT_EQ(std::vector<uint32_t>(session.chunkMask, session.chunkMask + session.chunkMaskCount), c.ids);
}

std::string SeventeenIds()
{
    std::string text;
    for (int i = 1; i <= 17; ++i) {
        text += std::to_string(i) + ",";
    }
    return text;
}

const MaskCase kMaskCases[] = {
    {"TwoIds", "E3000010,04FB0100,", {0xE3000010, 0x04FB0100}},
    {"TextAfterTheLastCommaIsIgnored", "E3000010,04FB0100", {0xE3000010}},
    {"HexPrefix", "0x02FD0100,", {0x02FD0100}},
    {"Empty", "", {}},
    {"BlanksBeforeAnIdAndJunkAfterIt", "  0XE3000010 ,04fb0100zz,", {0xE3000010, 0x04FB0100}},
    {"TokenWithoutDigitsIsZero", ",zz,", {0, 0}},
    {"TooLongSaturates", "123456789,", {0xFFFFFFFF}},
    {"OnlyTheFirst16Count", SeventeenIds(),
     {0x1, 0x2, 0x3, 0x4, 0x5, 0x6, 0x7, 0x8, 0x9, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16}},
};

INSTANTIATE_TEST_SUITE_P(Forms, ChunkMaskTest, ::testing::ValuesIn(kMaskCases), testsupport::CaseName());

TEST_F(SessionTest, ResetSelectionsEmptiesTheSlotsInUse)
{
    for (uint32_t count : {0u, 5u, MaxChunks}) {
        SCOPED_TRACE(count);
        UpgradeSession& session = GetSession();
        for (ChunkSelection& slot : session.selections) {
            slot = ChunkSelection{"/tmp/chosen.bin", 0x80, 0x100, 1};
        }
        ReceiverChunks.count = count;
        ASSERT_TRUE(ResetSelections(session));
        for (uint32_t slot = 0; slot < SelectionSlotCount; ++slot) {
            const ChunkSelection& s = session.selections[slot];
            if (slot <= count + 1) {
                EXPECT_TRUE(s.filePath.empty() && s.fileOffset == 0 && s.length == 0 && s.isImage == 0) << slot;
            } else {
                EXPECT_EQ(s.filePath, "/tmp/chosen.bin") << slot;
            }
        }
    }
}

TEST_F(SessionTest, EveryChunkOfAFullTableHasASlot)
{
    UpgradeSession& session = GetSession();
    EXPECT_EQ(SelectionSlot(session, KeyAllNoBootLoader), &session.selections[0]);
    EXPECT_EQ(SelectionSlot(session, KeyAll), &session.selections[1]);
    EXPECT_EQ(SelectionSlot(session, static_cast<int32_t>(MaxChunks) - 1), &session.selections[MaxChunks + 1]);
    EXPECT_EQ(SelectionSlot(session, static_cast<int32_t>(MaxChunks)), nullptr);
    EXPECT_EQ(SelectionSlot(session, -3), nullptr);
}

}  // namespace
