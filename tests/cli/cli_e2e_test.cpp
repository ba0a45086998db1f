// flashmate driven as a user drives it: its own process, on the pseudo-terminal of a simulated
// receiver that runs in the test, with a settings file of the test's own.
#include "capture.h"
#include "subprocess.h"
#include "temp_dir.h"

#include "flashmate/bytes.h"
#include "sim/image.h"
#include "sim/receiver.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <memory>
#include <string>
#include <vector>

namespace {

using testsupport::Subprocess;
using testsupport::TempDir;
using Bytes = std::vector<uint8_t>;

// Whole commands on an unpaced line take seconds; the paced ones are cancelled early.
constexpr auto kCommandTimeout = std::chrono::seconds(90);
constexpr auto kOutputTimeout = std::chrono::seconds(30);

constexpr int kExitOk = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitPort = 3;
constexpr int kExitRefused = 5;
constexpr int kExitCancelled = 130;

constexpr uint64_t kReceiverSeed = 1;
constexpr uint64_t kNewSeed = 2;
// The sample layout (sim/image.h).
constexpr uint32_t kMainOffset = 0x10000;
constexpr uint32_t kMainSize = 0x180000;
constexpr uint32_t kLogoOffset = 0x190000;
constexpr uint32_t kLogoSize = 0x20000;
constexpr uint32_t kHeader = 128;
constexpr uint32_t kMainId = 0x01FE0100;

struct Result {
    int status;
    std::string out;
    std::string err;
};

Result RunProgram(const std::vector<std::string>& arguments)
{
    Subprocess program(arguments);
    const int status = program.Wait(kCommandTimeout);
    return Result{status, program.out, program.err};
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// Each line whole, in this order, with any lines between them.
bool ContainsLinesInOrder(const std::string& text, const std::vector<std::string>& lines)
{
    size_t from = 0;
    for (const std::string& line : lines) {
        const size_t at = ("\n" + text).find("\n" + line + "\n", from);
        if (at == std::string::npos) {
            return false;
        }
        from = at + line.size() + 1;
    }
    return true;
}

Bytes Slice(const Bytes& bytes, size_t offset, size_t count)
{
    return Bytes(bytes.begin() + static_cast<long>(offset), bytes.begin() + static_cast<long>(offset + count));
}

Bytes ReadFile(const std::string& path)
{
    const std::string text = TempDir::Read(path);
    return Bytes(text.begin(), text.end());
}

// The newer firmware the tests write: the sample layout with other contents.
Bytes NewImage()
{
    return sim::BuildImage(sim::SampleLayout(kNewSeed));
}

class CliTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        settings_ = dir_.WriteText("Upgrade.ini", "[Config]\nPort=7\nBaud=9600\nParity=1\n");
    }
    void TearDown() override
    {
        if (receiver_) {
            receiver_->Stop();
        }
    }

    void StartReceiver(sim::ReceiverConfig config)
    {
        if (config.flash.empty()) {
            config.flash = sim::SampleFlash(kReceiverSeed);
        }
        oldFlash_ = config.flash;
        receiver_ = std::make_unique<sim::Receiver>(std::move(config));
        std::string error;
        ASSERT_TRUE(receiver_->Start(&error)) << error;
    }

    // flashmate with the test's settings, on the receiver's port at the settings of a real line.
    std::vector<std::string> Flashmate(const std::vector<std::string>& arguments) const
    {
        std::vector<std::string> line{FLASHMATE_PATH, "--settings", settings_};
        if (receiver_) {
            line.insert(line.end(), {"--port", receiver_->DevicePath(), "--baud", "115200", "--parity", "even"});
        }
        line.insert(line.end(), arguments.begin(), arguments.end());
        return line;
    }

    bool ReceiverGot(const std::string& word) const
    {
        const std::vector<std::string> commands = receiver_->Commands();
        return std::any_of(commands.begin(), commands.end(),
                           [&](const std::string& command) { return command.rfind(word, 0) == 0; });
    }

    // Nothing but the handshake and the version and chunk-table queries.
    bool ReceiverOnlyConnected() const
    {
        for (const char* word : {"address", "move", "transfer", "burn", "reboot", "dump"}) {
            if (ReceiverGot(word)) {
                return false;
            }
        }
        return true;
    }

    TempDir dir_;
    std::string settings_;
    std::unique_ptr<sim::Receiver> receiver_;
    Bytes oldFlash_;
};

struct Generation {
    std::string name;
    int32_t version;
    std::string shown;  // as info prints it
};

class CliGenerationTest : public CliTest, public ::testing::WithParamInterface<Generation> {
protected:
    void StartReceiver(sim::ReceiverConfig config = {})
    {
        config.protocolVersion = GetParam().version;
        CliTest::StartReceiver(std::move(config));
    }
    bool PacketProtocol() const { return GetParam().version >= 48; }
};

TEST_P(CliGenerationTest, InfoShowsVersionChunksAndLayout)
{
    ASSERT_NO_FATAL_FAILURE(StartReceiver());
    const Result result = RunProgram(Flashmate({"info"}));
    ASSERT_EQ(result.status, kExitOk) << result.err;
    EXPECT_TRUE(Contains(result.out, "Protocol version " + GetParam().shown)) << result.out;
    EXPECT_TRUE(Contains(result.out, "1  0x01FE0100  MAINCODE   2.0.0c   2008-01-25  0x00180000  0x00010000")) << result.out;
    EXPECT_TRUE(Contains(result.out, "Flash 2 MiB: |00111")) << result.out;
    // The connect job's own status texts, as the wizard shows them.
    EXPECT_TRUE(Contains(result.err, "Открытие порта...\nСинхронизация...\nПолучение версии протокола и блоков...\n"))
        << result.err;
    EXPECT_TRUE(ReceiverOnlyConnected());
}

TEST_P(CliGenerationTest, WritesTheWholeImageAndReadsTheFlashBack)
{
    ASSERT_NO_FATAL_FAILURE(StartReceiver());
    const Bytes image = NewImage();
    const std::string imagePath = dir_.Write("new.abs", image);

    const Result written = RunProgram(Flashmate({"write", imagePath}));
    ASSERT_EQ(written.status, kExitOk) << written.err;
    const Bytes flash = receiver_->FlashContents();
    EXPECT_TRUE(Slice(flash, 0, image.size()) == image);
    EXPECT_TRUE(Contains(written.err, "Отправка адреса...\nЗагрузка всех блоков\n")) << written.err;
    EXPECT_TRUE(Contains(written.err, "Идет запись. НЕ ВЫКЛЮЧАТЬ!!!\n")) << written.err;
    // Only the packet protocol compresses.
    const std::string summary = "Wrote " + std::to_string(image.size()) + " bytes " + (PacketProtocol() ? "(" : "in ");
    EXPECT_TRUE(Contains(written.out, summary)) << written.out;
    EXPECT_TRUE(Contains(written.out, "kbit/s)")) << written.out;
    EXPECT_TRUE(ReceiverGot("reboot"));

    const std::string readPath = dir_.File("flash.bin");
    const Result read = RunProgram(Flashmate({"read", readPath}));
    ASSERT_EQ(read.status, kExitOk) << read.err;
    EXPECT_TRUE(ReadFile(readPath) == flash);
    EXPECT_TRUE(Contains(read.err, "Чтение всех блоков\n")) << read.err;
    EXPECT_TRUE(Contains(read.out, "Read " + std::to_string(flash.size()) + " bytes in ")) << read.out;
}

TEST_P(CliGenerationTest, WritesAndReadsSingleChunksKeepingTheOthers)
{
    ASSERT_NO_FATAL_FAILURE(StartReceiver());
    const Bytes mainData = sim::FirmwareLikeBytes(0x3000, 7);
    const std::string mainPath = dir_.Write("main.bin", mainData);
    const Bytes image = NewImage();
    const std::string imagePath = dir_.Write("new.abs", image);

    // By name for a raw file, by id for a chunk taken from an image.
    const Result written = RunProgram(Flashmate({"write", "--chunk", "MAINCODE=" + mainPath, "--chunk", "0x02FD0200=" + imagePath}));
    ASSERT_EQ(written.status, kExitOk) << written.err;
    EXPECT_TRUE(ContainsLinesInOrder(written.err, {"Отправка адреса...", "Пропуск блока: BOOT", "Загрузка блока:MAINCODE",
                                                   "Загрузка блока:LOGO", "Пропуск блока: DEFAULTDB",
                                                   "Пропуск блока: USERDB", "Идет запись. НЕ ВЫКЛЮЧАТЬ!!!"}))
        << written.err;

    const Bytes flash = receiver_->FlashContents();
    ASSERT_EQ(flash.size(), oldFlash_.size());
    EXPECT_TRUE(Slice(flash, kMainOffset + kHeader, mainData.size()) == mainData);
    EXPECT_EQ(GetBe32(&flash[kMainOffset]), kMainId);
    EXPECT_TRUE(Slice(flash, kLogoOffset, kLogoSize) == Slice(image, kLogoOffset, kLogoSize));
    EXPECT_TRUE(Slice(flash, 0, kMainOffset) == Slice(oldFlash_, 0, kMainOffset));
    const size_t afterLogo = kLogoOffset + kLogoSize;
    EXPECT_TRUE(Slice(flash, afterLogo, flash.size() - afterLogo) == Slice(oldFlash_, afterLogo, flash.size() - afterLogo));

    // By index: the chunks' data without their headers.
    const std::string mainBack = dir_.File("main-back.bin");
    const std::string logoBack = dir_.File("logo-back.bin");
    const Result read = RunProgram(Flashmate({"read", "--chunk", "1=" + mainBack, "--chunk", "logo=" + logoBack}));
    ASSERT_EQ(read.status, kExitOk) << read.err;
    EXPECT_TRUE(ReadFile(mainBack) == Slice(flash, kMainOffset + kHeader, kMainSize - kHeader));
    EXPECT_TRUE(ReadFile(logoBack) == Slice(flash, kLogoOffset + kHeader, kLogoSize - kHeader));
    EXPECT_TRUE(Contains(read.err, "Чтение блока: MAINCODE \n")) << read.err;
}

TEST_P(CliGenerationTest, CtrlCDuringTheTransferCancelsIt)
{
    sim::ReceiverConfig config;
    // Paced like a real cable, so that the transfer is still running when Ctrl-C comes.
    config.baudRate = 115200;
    ASSERT_NO_FATAL_FAILURE(StartReceiver(std::move(config)));
    const std::string imagePath = dir_.Write("new.abs", NewImage());

    Subprocess program(Flashmate({"write", imagePath}));
    ASSERT_TRUE(program.WaitForError("Загрузка всех блоков", kOutputTimeout)) << program.err;
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(kCommandTimeout), kExitCancelled) << program.err;
    EXPECT_TRUE(Contains(program.err, "Cancelling")) << program.err;
    EXPECT_TRUE(Contains(program.err, "Отменено пользователем")) << program.err;
    EXPECT_FALSE(ReceiverGot("burn"));
    EXPECT_TRUE(receiver_->FlashContents() == oldFlash_);
    // The receiver takes a new session afterwards. (That the packet protocol's cancel sends the
    // receiver an abort is the library's own tests' business.)
    const Result info = RunProgram(Flashmate({"info"}));
    EXPECT_EQ(info.status, kExitOk) << info.err;
}

TEST_P(CliGenerationTest, CtrlCDuringTheBurnIsRefused)
{
    sim::ReceiverConfig config;
    config.burn.reportInterval = std::chrono::milliseconds(300);
    ASSERT_NO_FATAL_FAILURE(StartReceiver(std::move(config)));
    const Bytes image = NewImage();
    const std::string imagePath = dir_.Write("new.abs", image);

    Subprocess program(Flashmate({"write", imagePath}));
    ASSERT_TRUE(program.WaitForError("Ctrl-C is refused", kOutputTimeout)) << program.err;
    program.Signal(SIGINT);
    EXPECT_EQ(program.Wait(kCommandTimeout), kExitOk) << program.err;
    EXPECT_TRUE(Contains(program.err, "must not be interrupted")) << program.err;
    EXPECT_TRUE(Slice(receiver_->FlashContents(), 0, image.size()) == image);
}

TEST_P(CliGenerationTest, DemoWritesReadsBackAndMatches)
{
    const Result result = RunProgram({FLASHMATE_PATH, "demo", "--protocol", std::to_string(GetParam().version)});
    ASSERT_EQ(result.status, kExitOk) << result.out << result.err;
    EXPECT_TRUE(Contains(result.out, "Step 3 of 3")) << result.out;
    EXPECT_TRUE(Contains(result.out, "All matched")) << result.out;
}

INSTANTIATE_TEST_SUITE_P(Generations, CliGenerationTest,
                         ::testing::Values(Generation{"Packet48", 48, "3.0 (packet protocol)"},
                                           Generation{"Legacy32", 32, "2.0 (legacy protocol)"}),
                         testsupport::CaseName());

struct Refusal {
    std::string name;
    std::vector<std::string> arguments;  // "{dir}" stands for the test's folder
    int status;
    std::string message;
    bool connects = true;  // false: refused before the port is opened
};

TEST_F(CliTest, RefusedFilesEndTheCommandBeforeAnythingIsWritten)
{
    std::vector<sim::ChunkSpec> otherLoader = sim::SampleLayout(kNewSeed, "BL 2.00");
    std::vector<sim::ChunkSpec> withoutLogo = sim::SampleLayout(kNewSeed);
    withoutLogo.erase(withoutLogo.begin() + 2);
    std::vector<sim::ChunkSpec> biggerLoader = sim::SampleLayout(kNewSeed);
    biggerLoader[0].size = 0x20000;
    Bytes damaged = NewImage();
    damaged[kMainOffset + 0x1000] ^= 0x01;
    dir_.Write("other-loader.abs", sim::BuildImage(otherLoader));
    dir_.Write("without-logo.abs", sim::BuildImage(withoutLogo));
    dir_.Write("bigger-loader.abs", sim::BuildImage(biggerLoader));
    dir_.Write("damaged.abs", damaged);
    dir_.Write("too-big.bin", Bytes(kLogoSize - kHeader + 1, 0x42));
    dir_.Write("empty.bin", {});
    // DEFAULTDB (3) has no row, as in the wizard.
    settings_ = dir_.WriteText("Upgrade.ini", "[Config]\nChunkMask=03FC0100,\n");

    const Refusal cases[] = {
        {"RawFileTooLarge", {"write", "--chunk", "LOGO={dir}too-big.bin"}, kExitRefused,
         "Select Размер файла больше суммы блоков\n"},
        {"ChunkNotInImage", {"write", "--chunk", "LOGO={dir}without-logo.abs"}, kExitRefused,
         "невозможно найти соответствующий блок.\n"},
        {"OtherBootLoader", {"write", "--chunk", "2={dir}other-loader.abs"}, kExitRefused,
         "Не подходит версия загрузчика.\n"},
        {"EmptyFile", {"write", "--chunk", "2={dir}empty.bin"}, kExitRefused, "is empty"},
        {"MissingFile", {"write", "--chunk", "2={dir}missing.bin"}, kExitRefused, "Невозможно открыть файл {dir}missing.bin"},
        {"MaskedChunk", {"write", "--chunk", "3={dir}too-big.bin"}, kExitUsage,
         "hidden by ChunkMask"},
        {"NoSuchChunk", {"write", "--chunk", "KERNEL={dir}too-big.bin"}, kExitUsage,
         "the receiver has no chunk named 'KERNEL'"},
        {"BootLoaderOfAnotherSize", {"write", "--no-bootloader", "{dir}bigger-loader.abs"}, kExitRefused,
         "its boot loader takes 0x00020000 bytes, the receiver's 0x00010000"},
        {"DamagedImage", {"write", "{dir}damaged.abs"}, kExitRefused, "not a valid image: the chunk at 0x00010000 has a bad CRC",
         false},
        {"RawFileAsImage", {"write", "{dir}too-big.bin"}, kExitRefused, "not a valid image", false},
    };
    for (const Refusal& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_NO_FATAL_FAILURE(StartReceiver({}));
        std::vector<std::string> arguments;
        for (std::string argument : c.arguments) {
            if (const size_t at = argument.find("{dir}"); at != std::string::npos) {
                argument.replace(at, 5, dir_.Path());
            }
            arguments.push_back(argument);
        }
        std::string message = c.message;
        if (const size_t at = message.find("{dir}"); at != std::string::npos) {
            message.replace(at, 5, dir_.Path());
        }
        const Result result = RunProgram(Flashmate(arguments));
        EXPECT_EQ(result.status, c.status) << result.err;
        EXPECT_TRUE(Contains(result.err, message)) << result.err;
        EXPECT_TRUE(ReceiverOnlyConnected());
        EXPECT_EQ(receiver_->HandshakesAnswered() > 0, c.connects);
        EXPECT_TRUE(receiver_->FlashContents() == oldFlash_);
        receiver_->Stop();
    }
}

TEST_F(CliTest, APortThatCannotBeOpenedSaysWhy)
{
    const std::pair<std::string, std::string> cases[] = {
        {"/dev/ttyFLASHMATE-NONE", "no such device: /dev/ttyFLASHMATE-NONE"},
        {"COM250", "no such device: /dev/ttyS249"},
    };
    for (const auto& [port, why] : cases) {
        SCOPED_TRACE(port);
        const Result result = RunProgram(Flashmate({"--port", port, "info"}));
        EXPECT_EQ(result.status, kExitPort);
        EXPECT_TRUE(Contains(result.err, "Невозможно открыть порт!")) << result.err;
        EXPECT_TRUE(Contains(result.err, why)) << result.err;
    }
}

TEST_F(CliTest, UsageErrorsAndHelp)
{
    const Result missing = RunProgram(Flashmate({"write"}));
    EXPECT_EQ(missing.status, kExitUsage);
    EXPECT_TRUE(Contains(missing.err, "write: give either IMAGE or --chunk SEL=FILE")) << missing.err;

    const Result help = RunProgram({FLASHMATE_PATH, "--help"});
    EXPECT_EQ(help.status, kExitOk);
    for (const char* part : {"info", "write", "read", "image", "simulate", "demo", "Exit status:", "130"}) {
        EXPECT_TRUE(Contains(help.out, part)) << part;
    }
}

TEST_F(CliTest, ImageChecksAFileOffline)
{
    const std::string good = dir_.Write("new.abs", NewImage());
    const Result listed = RunProgram({FLASHMATE_PATH, "image", good});
    EXPECT_EQ(listed.status, kExitOk);
    EXPECT_TRUE(Contains(listed.out, "a valid image, 5 chunks")) << listed.out;
    EXPECT_TRUE(Contains(listed.out, "0  0x00000000  0xE3000010  BOOT       BL 1.05  0x00010000  none")) << listed.out;
    EXPECT_TRUE(Contains(listed.out, "1  0x00010000  0x01FE0100  MAINCODE   2.0.0c   0x00180000  good")) << listed.out;

    Bytes damaged = NewImage();
    damaged[kLogoOffset + 0x200] ^= 0x80;
    const Result checked = RunProgram({FLASHMATE_PATH, "image", dir_.Write("damaged.abs", damaged)});
    EXPECT_EQ(checked.status, kExitRefused);
    EXPECT_TRUE(Contains(checked.out, "not a valid image: the chunk at 0x00190000 has a bad CRC")) << checked.out;
    EXPECT_TRUE(Contains(checked.out, "2  0x00190000  0x02FD0200  LOGO       1.0      0x00020000  bad")) << checked.out;
    // The walk goes on past a bad CRC: the chunks behind it are still listed.
    EXPECT_TRUE(Contains(checked.out, "4  0x001F0000  0x04FB0100  USERDB")) << checked.out;
}

TEST_F(CliTest, SimulateServesAnotherFlashmateUntilCtrlC)
{
    Subprocess simulator({FLASHMATE_PATH, "simulate", "--protocol", "33"});
    ASSERT_TRUE(simulator.WaitForOutput("\n", kOutputTimeout)) << simulator.err;
    const std::string device = simulator.out.substr(0, simulator.out.find('\n'));
    ASSERT_EQ(device.rfind("/dev/", 0), 0u) << device;

    const Result info = RunProgram({FLASHMATE_PATH, "--settings", settings_, "--port", device, "info"});
    EXPECT_EQ(info.status, kExitOk) << info.err;
    EXPECT_TRUE(Contains(info.out, "Protocol version 2.1 (legacy protocol)")) << info.out;

    ASSERT_TRUE(simulator.WaitForError("> comtest 18", kOutputTimeout)) << simulator.err;
    simulator.Signal(SIGINT);
    EXPECT_EQ(simulator.Wait(kCommandTimeout), kExitOk);
    EXPECT_TRUE(Contains(simulator.err, "Stopped after")) << simulator.err;
}

}  // namespace
